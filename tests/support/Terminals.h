// A pseudo-terminal that is the controlling terminal of another process, as a shell's terminal
// is: the kind of device the program must never take for a serial line.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <string>

class SomeonesTerminal {
public:
    SomeonesTerminal();    // forks a process that makes the terminal its controlling one
    ~SomeonesTerminal();   // ends that process and closes the terminal
    SomeonesTerminal(const SomeonesTerminal&) = delete;
    SomeonesTerminal& operator=(const SomeonesTerminal&) = delete;

    bool Ready() const { return ready_; }
    const std::string& Path() const { return path_; }
    termios Settings() const;            // the terminal's line settings as they are now
    std::string Unread(int waitMs) const;   // what was written into the terminal

private:
    int master_ = -1;
    int slave_ = -1;   // held to look at the settings; opened without taking it as ours
    pid_t child_ = -1;
    std::string path_;
    bool ready_ = false;
};
