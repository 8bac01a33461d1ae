// Ending on a signal the way a closed window ends. Ctrl+C in a terminal (SIGINT), a terminal
// closed under the program (SIGHUP), and kill or a logout (SIGTERM) would otherwise end the
// process wherever it stands: an upload cut off half-way leaves the ECU holding part of a
// calibration, and a run recorded and never saved is gone. The handler only writes the signal's
// number into a pipe; the window thread reads it there and does the work.
//
// The first of these signals puts the default actions back, so that a second one ends the
// program at once, as somebody pressing Ctrl+C twice expects; only while an upload finishes does
// the second stop the upload instead (and say what the ECU holds), and a third end it. A signal that was ignored when the
// program started (a program started in the background by a script) stays ignored.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Output nobody reads must not end the program. With the terminal's output piped into another
// program (`quenrix 2>&1 | tee run.txt`), Ctrl+C ends the reader first; the next line written,
// a warning or the note where an unsaved log went, would raise SIGPIPE, whose default action
// ends the process with an upload half sent. After this a write into a closed pipe fails with
// EPIPE instead, and nothing of ours treats a failed write to the terminal as fatal. A handler
// that does nothing rather than SIG_IGN: an ignored signal stays ignored in a program started
// from this one, a handled one goes back to its default there.
void KeepBrokenPipesHarmless();

class StopSignals : public QObject {
public:
    // Installs the handlers; onStop runs on the window thread with the signal's number, once.
    // One instance at a time.
    explicit StopSignals(std::function<void(int signal)> onStop, QObject* parent = nullptr);
    ~StopSignals() override;   // the actions as they were before
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signals handled: SIGINT, SIGHUP, SIGTERM.
    static const int Handled[3];

    // The one instance, if any.
    static StopSignals* Current();
    // After the first signal: while work that must not be cut off (an upload) finishes, the
    // next signal is handed to onAgain instead of ending the program, once; the one after it
    // ends the program at once. ReleaseAgain ends that.
    void CatchAgain(std::function<void(int signal)> onAgain);
    void ReleaseAgain();

private:
    void Arrived();
    void RestoreActions();
    void InstallActions();

    std::function<void(int)> onStop_;
    std::function<void(int)> onAgain_;
    QSocketNotifier* notifier_ = nullptr;
    int pipe_[2] = {-1, -1};
    bool installed_[3] = {};
    bool fired_ = false;
};
