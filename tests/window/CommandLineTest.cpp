// The command line as a user meets it: what the parse keeps for Qt and hands to the simulated
// ECU, the display check, and the built program run as a user runs it, with no display and as
// a whole demo from start to close, which must leave nothing behind and touch no setting.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <map>

#include "app/CommandLine.h"
#include "quenrix/Version.h"

namespace {

using Args = std::vector<std::string>;
using Action = cli::CommandLine::Action;

TEST(CommandLineTest, KeepsQtsOptionsHandsOnTheSimulatorsAndRefusesTheRest)
{
    cli::CommandLine line = cli::Parse({"-platform", "offscreen", "--demo", "--style", "Fusion", "-reverse",
                                        "-stylesheet=a.qss", "--print-status", "--", "--baud", "19200", "--help"});
    EXPECT_EQ(line.action, Action::Run);   // a --help after -- is the simulator's
    EXPECT_TRUE(line.demo);
    EXPECT_TRUE(line.printStatus);
    EXPECT_EQ(line.platform, "offscreen");
    EXPECT_EQ(line.qtArgs, (Args{"-platform", "offscreen", "--style", "Fusion", "-reverse", "-stylesheet=a.qss"}));
    EXPECT_EQ(line.simArgs, (Args{"--baud", "19200", "--help"}));

    line = cli::Parse({});
    EXPECT_EQ(line.action, Action::Run);
    EXPECT_FALSE(line.demo);
    EXPECT_TRUE(line.qtArgs.empty());
    EXPECT_EQ(cli::Parse({"--demo", "--help"}).action, Action::Help);
    EXPECT_EQ(cli::Parse({"-h"}).action, Action::Help);
    EXPECT_EQ(cli::Parse({"--version", "-platform", "xcb"}).action, Action::Version);

    const std::map<std::string, Args> refused = {
        {"unknown option '--bogus'", {"--bogus"}},
        {"unknown option '-demo'", {"-demo"}},
        {"option '-platform' needs a value", {"--demo", "-platform"}},
        {"unexpected argument 'tune.qxe'", {"tune.qxe"}},
        {"needs --demo before it", {"--", "--baud", "19200"}},
        {"leave out --link", {"--demo", "--", "--baud", "9600", "--link", "here"}},
        {"leave out --link", {"--demo", "--", "--link=here"}},
        {"unknown option '-style='", {"-style="}},
    };
    for (const auto& [error, args] : refused) {
        line = cli::Parse(args);
        EXPECT_EQ(line.action, Action::Fail) << error;
        EXPECT_NE(line.error.find(error), std::string::npos) << line.error;
    }
}

TEST(CommandLineTest, ADisplayIsMissingOnlyWhereThePlatformNeedsOne)
{
    struct Case {
        std::string platform;
        std::map<std::string, std::string> env;
        bool missing;
    };
    const std::vector<Case> cases = {
        {"", {}, true},
        {"", {{"DISPLAY", ":0"}}, false},
        {"", {{"WAYLAND_DISPLAY", "wayland-0"}}, false},
        {"", {{"QT_QPA_PLATFORM", "offscreen"}}, false},
        {"", {{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "wayland-0"}}, true},
        {"", {{"QT_QPA_PLATFORM", "wayland;xcb"}, {"DISPLAY", ":1"}}, false},
        {"xcb:nograb", {{"DISPLAY", ":1"}}, false},
        {"offscreen", {{"QT_QPA_PLATFORM", "xcb"}}, false},   // the option wins over the variable
        {"xcb", {{"QT_QPA_PLATFORM", "offscreen"}}, true},
        {"vnc:size=800x600", {}, false},
        {"someplugin", {}, false},                              // Qt itself will tell
    };
    for (const Case& c : cases) {
        const auto message = cli::MissingDisplay(c.platform, [&](const char* name) {
            const auto it = c.env.find(name);
            return it == c.env.end() ? std::string() : it->second;
        });
        EXPECT_EQ(message.has_value(), c.missing) << c.platform << " " << c.env.size();
        if (message) {
            EXPECT_NE(message->find("xvfb-run"), std::string::npos);
            EXPECT_EQ(message->find('\n'), std::string::npos);
        }
    }
}

struct Outcome {
    int status = -1;
    bool crashed = false;
    QString out, err;
};

QString Program(const char* name) { return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name); }

QProcessEnvironment NoDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QLatin1String(name));
    return env;
}

Outcome RunProgram(const QStringList& args, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(Program("quenrix"), args);
    Outcome run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "quenrix " << args.join(' ').toStdString() << " did not end";
    }
    run.status = process.exitCode();
    run.crashed = process.exitStatus() != QProcess::NormalExit;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

TEST(ProgramTest, AnswersWithoutADisplayAndSaysWhenItNeedsOne)
{
    ASSERT_TRUE(QFileInfo(Program("quenrix")).isExecutable()) << "build the program first";
    Outcome run = RunProgram({QStringLiteral("--version")}, NoDisplay());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, QStringLiteral("quenrix %1\n").arg(QLatin1String(quenrix::Version)));
    EXPECT_EQ(run.err, QString());

    run = RunProgram({QStringLiteral("--help")}, NoDisplay());
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.contains(QStringLiteral("--demo"))) << run.out.toStdString();

    run = RunProgram({QStringLiteral("--bogus")}, NoDisplay());
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("quenrix: unknown option '--bogus'\n"))) << run.err.toStdString();

    // No display set: one line, status 1, where Qt would abort.
    run = RunProgram({}, NoDisplay());
    EXPECT_FALSE(run.crashed);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("xvfb-run"))) << run.err.toStdString();

    // A display named that nobody serves: Qt gives up, the program says so in one line.
    int unused = 90;
    while (unused < 200 && QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(unused))) ++unused;
    QProcessEnvironment env = NoDisplay();
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(unused));
    run = RunProgram({}, env);
    EXPECT_FALSE(run.crashed);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral(":%1").arg(unused))) << run.err.toStdString();
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool Gone(qint64 pid)
{
    for (int i = 0; i < 50; ++i) {
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return true;
        QThread::msleep(100);
    }
    return false;
}

TEST(ProgramTest, DemoConnectsToItsOwnSimulatorAndLeavesNothingBehind)
{
    // The user's runtime and settings folders, with a port remembered for a real ECU that the
    // demo must neither open nor change.
    QTemporaryDir runtime, config;
    ASSERT_TRUE(runtime.isValid() && config.isValid());
    ASSERT_TRUE(QDir(config.path()).mkpath(QStringLiteral("Quenrix")));
    const QString settings = config.filePath(QStringLiteral("Quenrix/Quenrix IO.conf"));
    {
        QFile file(settings);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\nport=/dev/ttyUSB7\n");
    }
    const QByteArray settingsBefore = ReadAll(settings);
    QProcessEnvironment env = NoDisplay();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());

    QProcess demo;
    demo.setProcessEnvironment(env);
    demo.start(Program("quenrix"), {QStringLiteral("--demo"), QStringLiteral("--print-status"), QStringLiteral("--"),
                                    QStringLiteral("--seed"), QStringLiteral("7")});
    ASSERT_TRUE(demo.waitForStarted());
    QString out;
    QDeadlineTimer deadline(60000);
    while (!out.contains(QStringLiteral("Status- ECU connected\n")) && !deadline.hasExpired()
           && demo.state() == QProcess::Running) {
        demo.waitForReadyRead(500);
        out += QString::fromLocal8Bit(demo.readAllStandardOutput());
    }
    QString err = QString::fromLocal8Bit(demo.readAllStandardError());
    ASSERT_TRUE(out.contains(QStringLiteral("Status- ECU connected\n"))) << out.toStdString() << err.toStdString();

    // Its folder, in the runtime folder, holds the simulator's link; the simulator runs.
    const QRegularExpressionMatch said =
        QRegularExpression(QStringLiteral("simulated ECU \\(process (\\d+)\\).* removes (\\S+)\n")).match(err);
    ASSERT_TRUE(said.hasMatch()) << err.toStdString();
    const qint64 sim = said.captured(1).toLongLong();
    const QString folder = said.captured(2);
    EXPECT_TRUE(folder.startsWith(runtime.path() + QLatin1Char('/'))) << folder.toStdString();
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/COM1")).isSymLink());
    EXPECT_EQ(::kill(static_cast<pid_t>(sim), 0), 0);

    // Ended as a closed window ends: everything of the demo goes.
    ::kill(static_cast<pid_t>(demo.processId()), SIGTERM);
    ASSERT_TRUE(demo.waitForFinished(30000));
    EXPECT_EQ(demo.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(demo.exitCode(), 0);
    EXPECT_TRUE(Gone(sim)) << "the simulator outlived the demo";
    EXPECT_TRUE(QDir(runtime.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        << QDir(runtime.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).join(' ').toStdString();
    EXPECT_EQ(ReadAll(settings), settingsBefore);
    EXPECT_EQ(QDir(config.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("Quenrix")});
    EXPECT_EQ(QDir(config.filePath(QStringLiteral("Quenrix"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("Quenrix IO.conf")});

    // What follows -- is the simulator's: its answer and its refusal reach the user, and a
    // simulator that ends before it answers leaves no folder either.
    Outcome run = RunProgram({QStringLiteral("--demo"), QStringLiteral("--"), QStringLiteral("--version")}, env);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, QStringLiteral("quenrix-ecu-sim %1\n").arg(QLatin1String(quenrix::Version)));
    run = RunProgram({QStringLiteral("--demo"), QStringLiteral("--"), QStringLiteral("--drop"), QStringLiteral("2")}, env);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("quenrix-ecu-sim: bad value '2' for --drop"))) << run.err.toStdString();
    EXPECT_TRUE(QDir(runtime.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
}

}  // namespace
