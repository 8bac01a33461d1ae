#include "app/Application.h"

#include <QFont>
#include <QIcon>

#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/CommandLine.h"
#include "app/StopSignals.h"
#include "quenrix/Version.h"
#include "ui/Dialogs.h"

// Broken pipes are made harmless before Qt starts up, which may already write warnings.
QuenrixApplication::QuenrixApplication(int& argc, char** argv)
    : QApplication((KeepBrokenPipesHarmless(), argc), argv)
{
    setApplicationName(QStringLiteral("Quenrix"));   // the application title
    setApplicationVersion(QString::fromLatin1(quenrix::Version));
    // The installed desktop entry and icon: desktops match the window to its menu entry by it.
    setDesktopFileName(QStringLiteral("io.quenrix.Quenrix"));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("io.quenrix.Quenrix")));
    setFont(WindowFont());
}

QFont QuenrixApplication::WindowFont()
{
    // The window's fixed widths (status panels, captions) were laid out for an 8-point
    // MS Sans Serif, a narrow bitmap font. The desktop's own font is often a point or two
    // larger and wider and cuts the status texts. At 8 points the condensed DejaVu (on every
    // Debian system with Qt, and the map grids' font) fits every status text into its panel,
    // "SYNC ERROR" included, which Arial-wide faces such as Liberation Sans do not; Liberation
    // Sans is the fallback before the system's default sans-serif.
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

bool QuenrixApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowException(QStringLiteral("Unknown exception"));
    }
    return false;
}

void QuenrixApplication::ShowException(const QString& message)
{
    // The box runs its own event loop; a handler that throws again inside it is caught by
    // the nested notify and shown in a box of its own.
    ui::ShowError(activeWindow(), message);
}

namespace {

struct HeldMessage {
    QtMsgType type;
    std::string file, function, category;
    int line;
    QString text;
};

std::mutex heldMutex;
std::vector<HeldMessage> held;
QtMessageHandler previousHandler = nullptr;

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        const std::lock_guard lock(heldMutex);
        held.push_back({type, context.file ? context.file : "", context.function ? context.function : "",
                        context.category ? context.category : "", context.line, text});
        return;
    }
    // Qt gives up. Its own warning before this says why ("could not connect to display :99").
    QString reason;
    {
        const std::lock_guard lock(heldMutex);
        for (const HeldMessage& message : held)
            if (message.type >= QtWarningMsg) {
                reason = message.text;
                break;
            }
    }
    if (reason.isEmpty()) reason = text;
    const std::string line = cli::DisplayUnusable(reason.simplified().toStdString()) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(1);   // nothing of the program has started yet that would need ending
}

}  // namespace

DisplayGuard::DisplayGuard() { previousHandler = qInstallMessageHandler(HoldMessage); }

DisplayGuard::~DisplayGuard()
{
    qInstallMessageHandler(previousHandler);
    std::vector<HeldMessage> messages;
    {
        const std::lock_guard lock(heldMutex);
        messages.swap(held);
    }
    for (const HeldMessage& m : messages) {
        const QMessageLogContext context(m.file.empty() ? nullptr : m.file.c_str(), m.line,
                                         m.function.empty() ? nullptr : m.function.c_str(),
                                         m.category.empty() ? nullptr : m.category.c_str());
        if (previousHandler) previousHandler(m.type, context, m.text);
        else qt_message_output(m.type, context, m.text);
    }
}
