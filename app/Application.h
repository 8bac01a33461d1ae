// The application object. It is where Qt delivers every event, so it is also where an
// exception thrown by any handler is caught: its message is shown and the window goes on.
// Qt never sees an exception pass through its event loop.
#pragma once

#include <QApplication>

class QuenrixApplication : public QApplication {
public:
    QuenrixApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // The font every control uses unless it sets its own.
    static QFont WindowFont();

    // Shows an exception's message the way the default handler does (a message box).
    static void ShowException(const QString& message);
};
