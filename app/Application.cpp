#include "app/Application.h"

#include <QFont>
#include <QIcon>

#include <exception>

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
