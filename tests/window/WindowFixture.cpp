#include "tests/window/WindowFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "ui/Dialogs.h"

void WindowTest::SetUp()
{
    ASSERT_TRUE(dir.isValid());
    previousDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    // A question no test expected would otherwise wait for a person who never comes.
    ui::SetQuestionHook([](const QString& text, const QString&, const QString&) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return false;
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
