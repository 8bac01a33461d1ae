#include "tests/support/Terminals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

SomeonesTerminal::SomeonesTerminal()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[PATH_MAX];
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0)
        return;
    path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) return;
    int ready[2];
    if (::pipe(ready) != 0) return;
    child_ = ::fork();
    if (child_ == 0) {
        // Only async-signal-safe calls here. The descriptors inherited from the test (a port it
        // holds, with its lock) are closed first, as a shell started elsewhere would not hold
        // them. Then a new session, whose first terminal opened without O_NOCTTY becomes its
        // controlling terminal.
        if (ready[1] > 3) ::close_range(3, static_cast<unsigned>(ready[1] - 1), 0);
        ::close_range(static_cast<unsigned>(ready[1] + 1), ~0U, 0);
        ::setsid();
        const int fd = ::open(name, O_RDWR);
        const char ok = fd >= 0 ? 1 : 0;
        if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    ready_ = child_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 1;
    ::close(ready[0]);
}

SomeonesTerminal::~SomeonesTerminal()
{
    if (child_ > 0) {
        ::kill(child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
    }
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

termios SomeonesTerminal::Settings() const
{
    termios t{};
    ::tcgetattr(slave_, &t);
    return t;
}

std::string SomeonesTerminal::Unread(int waitMs) const
{
    std::string got;
    pollfd p{master_, POLLIN, 0};
    while (::poll(&p, 1, waitMs) > 0) {
        char buffer[256];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
        waitMs = 0;
    }
    return got;
}
