// Start-up: the application object with its title, the window, the message loop.
// Command-line arguments are ignored. An exception escaping start-up is shown and ends the
// program; the exit code is 0 in every case.
#include <csignal>
#include <exception>

#include "app/Application.h"
#include "app/Mainform.h"
#include "app/StopSignals.h"

int main(int argc, char** argv)
{
    // A write beyond the user's file size limit must fail like a full disk, and be reported,
    // rather than end the program and the run it holds.
    std::signal(SIGXFSZ, SIG_IGN);
    QuenrixApplication app(argc, argv);
    try {
        TForm1 form;
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
