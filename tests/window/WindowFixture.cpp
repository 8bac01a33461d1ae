#include "tests/window/WindowFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTimer>

#include "ui/Dialogs.h"

#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

void WindowTest::SetUp()
{
    ASSERT_TRUE(dir.isValid());
    previousDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    // The user's remembered choices (the port) live in the test's folder: every test starts as
    // a first start, and no test touches the settings of the person running them.
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, dir.filePath(QStringLiteral("settings")));
    // So do the restore points the window keeps in the user's data folder (a child of SpawnSelf
    // has its parent's test folder as its data folder already).
    previousDataHome = qgetenv("XDG_DATA_HOME");
    hadDataHome = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    if (ChildRole().isEmpty()) qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    // A question no test expected would otherwise wait for a person who never comes.
    ui::SetQuestionHook([](const QString& text, const QString& yes, const QString&) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        // A hook that answers every dialog with one name would bring it back for ever.
        return yes == ui::ReplaceAnswer;
    });
    if (autoStart) {
        StartSim();
        StartWindow();
    }
}

void WindowTest::TearDown()
{
    form.reset();
    if (ecu) ecu->Stop();
    ecu.reset();
    ui::SetFileDialogHook({});
    ui::SetMessageHook({});
    ui::SetQuestionHook({});
    TForm1::PortPlaces = {};
    if (hadDataHome) qputenv("XDG_DATA_HOME", previousDataHome);
    else qunsetenv("XDG_DATA_HOME");
    QDir::setCurrent(previousDir);
}

void WindowTest::StartSim(sim::SimOptions options)
{
    options.link = dir.filePath(QStringLiteral("COM1")).toStdString();
    if (qEnvironmentVariableIsSet("QX_TRACE")) options.trace = true;   // every frame, to stderr
    ecu = std::make_unique<sim::EcuSim>(options);
    std::string error;
    ASSERT_TRUE(ecu->Start(&error)) << error;
}

void WindowTest::StartWindow()
{
    form = std::make_unique<TForm1>();
    form->show();
}

bool WindowTest::WaitFor(const std::function<bool()>& cond, int timeoutMs)
{
    // Not QTest::qWaitFor: it sleeps 10 ms between rounds of events, which would pace every
    // exchange with the ECU at 10 ms. Here events are handled the moment they arrive, as in
    // the program's own event loop; a 1 ms timer wakes the loop to look at the condition.
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer wake;
    wake.start(1);
    while (!cond()) {
        if (elapsed.elapsed() > timeoutMs) return cond();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void WindowTest::Pump(int ms)
{
    WaitFor([] { return false; }, ms);
}

bool WindowTest::WaitForReadComplete(int timeoutMs)
{
    return WaitFor([this] { return form->ReadPending == 0; }, timeoutMs);
}

std::string WindowTest::ReceivedLetters() const
{
    std::string letters;
    for (const sim::Command& c : ecu->Received()) letters += c.letter;
    return letters;
}

std::vector<sim::Command> WindowTest::ReceivedSince(size_t mark) const
{
    std::vector<sim::Command> all = ecu->Received();
    if (mark >= all.size()) return {};
    return {all.begin() + static_cast<long>(mark), all.end()};
}

std::vector<sim::Command> WindowTest::Distinct(const std::vector<sim::Command>& frames)
{
    std::vector<sim::Command> kept;
    for (const sim::Command& c : frames)
        if (kept.empty() || !(kept.back() == c)) kept.push_back(c);
    return kept;
}

pid_t WindowTest::SpawnSelf(const QString& role, int in, int out, int err) const
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    const std::string program = "/proc/self/exe";
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QX_CHILD=", 9) != 0 && std::strncmp(*e, "XDG_DATA_HOME=", 14) != 0) env.emplace_back(*e);
    env.push_back("QX_CHILD=" + role.toStdString());
    env.push_back("XDG_DATA_HOME=" + dir.path().toStdString());
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>(filter.c_str()), nullptr};
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int fds[3] = {in, out, err};
    for (int target = 0; target < 3; ++target) {
        if (fds[target] >= 0) posix_spawn_file_actions_adddup2(&actions, fds[target], target);
        else posix_spawn_file_actions_addopen(&actions, target, "/dev/null", target == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    pid_t child = -1;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? child : -1;
}

int WindowTest::WaitChild(pid_t child, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (waited.elapsed() > timeoutMs) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}
