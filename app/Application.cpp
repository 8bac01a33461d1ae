#include "app/Application.h"

#include <exception>

#include "ui/Dialogs.h"

QuenrixApplication::QuenrixApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Quenrix"));   // the application title
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
