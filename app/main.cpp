// Start-up: the command line, the application object with its title, the window, the message
// loop. --help and --version answer without a display; a missing display is said in one line.
// An exception escaping start-up is shown and ends the program with status 0, as a closed
// window does.
#include <QGuiApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <unistd.h>

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/Demo.h"
#include "app/Mainform.h"
#include "app/StopSignals.h"
#include "quenrix/Version.h"
#include "ui/Dialogs.h"
#include "ui/StatusBar.h"

namespace {

// Prints the link's status panel on stdout whenever its text changes. The panel is looked at
// ten times a second rather than hooked: its texts are the window's business, and a status
// that holds for less than that is no state a script waits for.
void PrintStatusChanges(TForm1& form)
{
    auto* timer = new QTimer(&form);
    auto last = std::make_shared<QString>();
    auto print = [&form, last] {
        const QString text = form.StatusBar1->PanelText(2);
        if (text == *last) return;
        *last = text;
        std::printf("%s\n", qPrintable(text));
        std::fflush(stdout);
    };
    QObject::connect(timer, &QTimer::timeout, &form, print);
    print();   // the text the window opens with
    timer->start(100);
}

}  // namespace

int main(int argc, char** argv)
{
    // A write beyond the user's file size limit must fail like a full disk, and be reported,
    // rather than end the program and the run it holds.
    std::signal(SIGXFSZ, SIG_IGN);

    const cli::CommandLine line = cli::Parse(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.action) {
    case cli::CommandLine::Action::Help: std::fputs(cli::UsageText().c_str(), stdout); return 0;
    case cli::CommandLine::Action::Version: std::printf("quenrix %s\n", quenrix::Version); return 0;
    case cli::CommandLine::Action::Fail:
        std::fprintf(stderr, "quenrix: %s\nTry 'quenrix --help'.\n", line.error.c_str());
        return 2;
    case cli::CommandLine::Action::Run: break;
    }
    if (const auto missing = cli::MissingDisplay(line.platform, [](const char* name) {
            const char* value = std::getenv(name);
            return std::string(value ? value : "");
        })) {
        std::fprintf(stderr, "%s\n", missing->c_str());
        return 1;
    }

    // Qt sees the program's name and its own options, nothing of ours or the simulator's.
    std::vector<std::string> qtArgs = line.qtArgs;
    std::vector<char*> qtArgv{argv[0]};
    for (std::string& arg : qtArgs) qtArgv.push_back(arg.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArgv.size()) - 1;

    std::unique_ptr<QuenrixApplication> app;
    {
        const DisplayGuard guard;
        app = std::make_unique<QuenrixApplication>(qtArgc, qtArgv.data());
    }

    // Made before the window, which opens its first port as it is built, and ended after it.
    DemoEcu demo;
    if (line.demo) {
        QStringList simArgs;
        for (const std::string& arg : line.simArgs) simArgs << QString::fromLocal8Bit(arg.c_str());
        QString error;
        int status = 1;
        if (!demo.Start(simArgs, &error, &status)) {
            if (!error.isEmpty()) {
                std::fprintf(stderr, "quenrix: %s\n", qPrintable(error));
                // Started from a menu, nobody reads stderr. A box where nobody can see it
                // (offscreen) would only keep the program from ending.
                const QString platform = QGuiApplication::platformName();
                if (!::isatty(STDERR_FILENO) && platform != QLatin1String("offscreen")
                    && platform != QLatin1String("minimal"))
                    ui::ShowError(nullptr, error);
            }
            return status;
        }
        std::fprintf(stderr,
                     "quenrix: demo with the simulated ECU (process %lld) on %s, linked as %s/COM1; closing the window"
                     " stops it and removes %s\n",
                     static_cast<long long>(demo.SimulatorProcess()), qPrintable(demo.Terminal()),
                     qPrintable(demo.Folder()), qPrintable(demo.Folder()));
    }

    try {
        TForm1 form;
        if (line.demo) form.setWindowTitle(form.windowTitle() + QStringLiteral(" (demo, simulated ECU)"));
        if (line.printStatus) PrintStatusChanges(form);
        // Ctrl+C, kill and a closed terminal end the program as closing the window does.
        StopSignals stop([&form](int signal) {
            if (form.StopOnSignal(signal)) QuenrixApplication::exit(0);   // open boxes too
        });
        form.show();
        QuenrixApplication::exec();
    } catch (const std::exception& e) {
        QuenrixApplication::ShowException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        QuenrixApplication::ShowException(QStringLiteral("Unknown exception"));
    }
    return 0;
}
