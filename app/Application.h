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

// While one lives, a start of Qt that finds no usable display (none set, one that cannot be
// reached, no platform plugin for it) ends the program with one line on stderr saying so and
// how to get a virtual display, and exit status 1, where Qt would abort with its advice to
// reinstall. Qt's messages meanwhile are held back and passed on once the start has succeeded.
class DisplayGuard {
public:
    DisplayGuard();
    ~DisplayGuard();
    DisplayGuard(const DisplayGuard&) = delete;
    DisplayGuard& operator=(const DisplayGuard&) = delete;
};
