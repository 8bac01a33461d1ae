#include "app/StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {

int writeEnd = -1;                 // the pipe the handler writes into
struct sigaction previous[3];      // what each handled signal did before
StopSignals* current = nullptr;

// While a second signal is caught (CatchAgain): how many came that the window thread has not
// taken. A window thread that never gets to them (hung) must not make the program unstoppable:
// the second of them ends it at once.
volatile sig_atomic_t catchingAgain = 0;
volatile sig_atomic_t untaken = 0;

extern "C" void OnSignal(int signal)
{
    const int saved = errno;   // the interrupted code may be about to read errno
    const unsigned char number = static_cast<unsigned char>(signal);
    (void)!write(writeEnd, &number, 1);
    if (catchingAgain) untaken = untaken + 1;
    if (catchingAgain && untaken >= 2) {
        ::signal(signal, SIG_DFL);
        raise(signal);
    }
    errno = saved;
}

extern "C" void OnBrokenPipe(int) {}

}  // namespace

void KeepBrokenPipesHarmless()
{
    struct sigaction now {};
    if (sigaction(SIGPIPE, nullptr, &now) != 0 || now.sa_handler == SIG_IGN) return;   // already harmless
    struct sigaction action {};
    action.sa_handler = OnBrokenPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGPIPE, &action, nullptr);
}

const int StopSignals::Handled[3] = {SIGINT, SIGHUP, SIGTERM};

StopSignals::StopSignals(std::function<void(int signal)> onStop, QObject* parent)
    : QObject(parent), onStop_(std::move(onStop))
{
    if (writeEnd >= 0) throw std::logic_error("only one StopSignals at a time");
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;   // the default actions stay
    writeEnd = pipe_[1];
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Arrived(); });
    current = this;
    for (int i = 0; i < 3; ++i) sigaction(Handled[i], nullptr, &previous[i]);
    InstallActions();
}

void StopSignals::InstallActions()
{
    for (int i = 0; i < 3; ++i) {
        if (installed_[i] || previous[i].sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        installed_[i] = sigaction(Handled[i], &action, nullptr) == 0;
    }
}

StopSignals* StopSignals::Current() { return current; }

void StopSignals::CatchAgain(std::function<void(int signal)> onAgain)
{
    if (!notifier_) return;   // never installed: the default actions stand
    onAgain_ = std::move(onAgain);
    untaken = 0;
    catchingAgain = 1;
    InstallActions();
}

void StopSignals::ReleaseAgain()
{
    catchingAgain = 0;
    onAgain_ = nullptr;
    RestoreActions();
}

StopSignals::~StopSignals()
{
    catchingAgain = 0;
    RestoreActions();
    delete notifier_;
    writeEnd = -1;
    if (current == this) current = nullptr;
    for (int fd : pipe_)
        if (fd >= 0) close(fd);
}

void StopSignals::RestoreActions()
{
    for (int i = 0; i < 3; ++i) {
        if (!installed_[i]) continue;
        sigaction(Handled[i], &previous[i], nullptr);
        installed_[i] = false;
    }
}

void StopSignals::Arrived()
{
    unsigned char number = 0;
    int first = 0;
    while (read(pipe_[0], &number, 1) == 1)
        if (!first) first = number;
    if (!first) return;
    if (fired_) {
        if (!onAgain_) return;
        const auto again = std::exchange(onAgain_, nullptr);
        catchingAgain = 0;
        RestoreActions();   // a third signal ends the program at once
        again(first);
        return;
    }
    fired_ = true;
    RestoreActions();   // a second signal ends the program at once
    if (onStop_) onStop_(first);
}
