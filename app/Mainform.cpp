// The window's shell: construction in its fixed order, page keys, the port box, closing,
// and the command frame's way out and the replies' way in.
#include "app/Mainform.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <cstdio>
#include <utility>

#include "app/StopSignals.h"
#include "ecu/LineOwner.h"
#include "ecu/Polling.h"
#include "ecu/PortNames.h"
#include "ecu/Threadedtimer.h"
#include "ecu/Zcomm.h"
#include "logging/LogFile.h"
#include "logging/LogViewer.h"
#include "ui/PageControl.h"
#include "ui/StatusBar.h"
#include "ui/PortBox.h"
#include "ui/StringGrid.h"

protocol::ReplyAssembler Reception{};
uint8_t PollStep = 0;

namespace {

const char* const PageCaptions[7] = {"Temp", "Fuel", "Ignition", "Gauges", "Logging", "Setup", "Boost"};
const std::vector<int> PanelWidths = {60, 80, 160, 60, 60, 50, 75, 40, 40, 50, 40, 40, 40, 30};
const QString SevenSpaces = QStringLiteral("       ");

// Qt's accessibility knows a window only as a main window or a dialog; this window and the
// Fuel from lambda panel, plain widgets, would reach a screen reader as anonymous panes. They
// are windows, named by their titles.
QAccessibleInterface* PlainWindowAccessible(const QString& className, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget || !widget->isWindow()) return nullptr;
    if (className != QLatin1String("TForm1") && className != QLatin1String("QWidget")) return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Window);
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent)
{
    QAccessible::installFactory(PlainWindowAccessible);   // a second window adds it no second time
    // The stored layout: every control with its caption, range, initial text and event binding.
    BuildComponents();
    BuildShell();
    for (int page : {0, 1, 2, 6}) BuildMapPage(page);
    BuildGaugesPage();
    BuildLoggingPage();   // also the log grid's headings and the log series' start-up states
    BuildSetupPage();
    BuildLiveOnMaps();   // the switch on the Setup page, a strip on each map page
    BuildFuelFromLambda();   // its button and proposal lines on the Fuel page, its panel
    BuildRestorePoints();   // its command on the Setup page, the log's calibration on the Logging page
    BuildSecondLog(TabSheet[4]);   // left of the log's calibration
    OrderLoggingPageTabs();

    // Construction proper, in this order. The link's flags and counters start as after any
    // reset: a read to do, no upload, the ECU not heard, the watchdog and counters from zero.
    ResetLink(ecu::kResetAtStart);                                          // 1, 7, 9, 11
    for (const calibration::MapLayout& map : calibration::Maps) {          // 2, 3
        StringGrid* grid = MapGrid[map.number];
        if (!grid) continue;
        for (int col = 0; col < map.columns; ++col)
            for (int row = 0; row < 2; ++row)
                grid->SetCells(col, row, QString::fromStdString(calibration::StartupText(map, row, col)));
    }
    // 6: the dialogs open where the user works, in the folder last used for the kind of file
    // at hand (each operation names its kind), never in the program's own folder, which an
    // installed program cannot write.
    for (int panel = 5; panel <= 10; ++panel) StatusBar1->SetPanelText(panel, SevenSpaces);   // 8
    SendCommand('V', 0, 0);                                                 // 10: opens the port
}

TForm1::~TForm1()
{
    qApp->removeEventFilter(this);
    // Taking the window apart moves the focus: the port box's line edit then reports a finished
    // name and the combo box an activation, which must not reach handlers of a window that is
    // half gone. Every child's signal to the window's own handlers ends here.
    for (QObject* child : findChildren<QObject*>()) QObject::disconnect(child, nullptr, this, nullptr);
    // An open cell editor loses its focus as the window is taken apart: not an edit to report.
    for (StringGrid* grid : MapGrid)
        if (grid) grid->OnEditAbandoned = nullptr;
    Line->Shutdown();
}

void TForm1::BuildComponents()
{
    ZComm1 = new TZComm(this);
    ZComm1->setObjectName(QStringLiteral("ZComm1"));
    ZComm1->SetPort(QStringLiteral("COM1"));
    ZComm1->SetBaudRate(19200);
    ZComm1->OnDataAvailable = [this](TZComm* sender) { ZComm1DataAvailable(sender); };
    ZComm1->OnHangUp = [this](TZComm*) { LinkLost(); };

    Line = new LineOwner(*ZComm1, Reception, this);
    Line->setObjectName(QStringLiteral("Line"));
    Line->OnReply = [this](const protocol::Reply& reply) { ProcessReply(reply.letter, reply.address, reply.data); };
    Line->OnRejected = [this] { CountBadReply(); };
    // A frame the line could not take is as good as a reply that never came.
    Line->OnFrameDropped = [this] { CountBadReply(); };
    Line->OnEvent = [this](const exchange::Event& event) { LineEvent(event); };
    Line->OnLineResumed = [this] { LineResumed(); };
    Line->OnDeviceGone = [this] { LinkLost(); };

    // A tick handler that throws ends its timer for good. Frozen live values under a calm
    // status bar would look like a quiet engine, so the window says what stopped and why.
    auto makeTimer = [this](const char* name, bool enabled, uint16_t interval,
                            void (TForm1::*handler)(QObject*), const char* role) {
        auto* timer = new TThreadedTimer(this, interval);
        timer->setObjectName(QLatin1String(name));
        timer->SetEnabled(enabled);
        timer->SetOnTimer([this, handler](TThreadedTimer* sender) { (this->*handler)(sender); });
        timer->OnHandlerFailed = [this, role](TThreadedTimer*, const std::string& message) {
            ui::ShowError(this, QString::fromStdString(message) + QStringLiteral("\n\n")
                                    + QLatin1String(role)
                                    + QStringLiteral(" has stopped until the program is started again."));
        };
        return timer;
    };
    ThreadedTimer1 = makeTimer("ThreadedTimer1", false, 12, &TForm1::ThreadedTimer1Timer, "Live value polling");
    ThreadedTimer2 = makeTimer("ThreadedTimer2", true, 60000, &TForm1::ThreadedTimer2Timer, "The clock");
    ThreadedTimer3 = makeTimer("ThreadedTimer3", true, 1000, &TForm1::ThreadedTimer3Timer, "The search for the ECU");

    UploadWaitTimer = new QTimer(this);
    UploadWaitTimer->setObjectName(QStringLiteral("UploadWaitTimer"));
    connect(UploadWaitTimer, &QTimer::timeout, this, [this] { UploadWaitTick(); });

    const QString filter = QStringLiteral("Quenrix eeprom|*.qxe|Quenrix Log|*.qxl");
    OpenDialog1.Filter = filter;
    SaveDialog1.Filter = filter;
}

void TForm1::BuildShell()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quenrix IO"));
    setAccessibleName(QStringLiteral("Quenrix IO"));
    resize(DefaultSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    PageControl1 = new PageControl(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setAccessibleName(QStringLiteral("Pages"));
    for (int i = 0; i < 7; ++i) {
        TabSheet[i] = new QWidget;
        TabSheet[i]->setObjectName(QStringLiteral("TabSheet%1").arg(i + 1));
        TabSheet[i]->setAccessibleName(QLatin1String(PageCaptions[i]));
        PageControl1->addTab(TabSheet[i], QLatin1String(PageCaptions[i]));
    }
    PageControl1->SetActivePageIndex(3);   // "Gauges" is shown at start
    PageControl1->OnChange = [this](QObject* sender) { PageControl1Change(sender); };
    layout->addWidget(PageControl1, 1);

    StatusBar1 = new StatusBar(PanelWidths, this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setAccessibleName(QStringLiteral("Status bar"));
    // The panels' widths add up to more than the window; like any status bar it clips the
    // last panels rather than widen the window.
    StatusBar1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    StatusBar1->SetPanelText(0, ClockText());
    StatusBar1->SetPanelText(1, QStringLiteral("..."));
    StatusBar1->SetPanelText(2, QString::fromLatin1(polling::TextNotConnected));
    for (int panel = 5; panel <= 10; ++panel) StatusBar1->SetPanelText(panel, SevenSpaces);
    StatusBar1->SetPanelText(13, QStringLiteral("   "));
    layout->addWidget(StatusBar1);

    // The port box lives on the Setup page; its page builder places it.
    ComboBox1 = new PortBox;
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setAccessibleName(QStringLiteral("Serial port"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->addItems(serial::OfferedPortNames());
    ComboBox1->setEditText(QStringLiteral("COM1"));
    // When a typed or picked name becomes the port is the Setup page's matter (BuildPortControls).

    // Hidden buttons: never visible, their handlers are used directly.
    auto hidden = [this](const char* name, QWidget* parentPage) {
        auto* button = new QPushButton(parentPage ? parentPage : this);
        button->setObjectName(QLatin1String(name));
        button->setAccessibleName(QLatin1String(name));
        button->hide();
        return button;
    };
    Button9 = hidden("Button9", TabSheet[0]);
    Button10 = hidden("Button10", nullptr);
    Button11 = hidden("Button11", TabSheet[0]);
    connect(Button9, &QPushButton::clicked, this, [this] { Button9Click(Button9); });
    connect(Button10, &QPushButton::clicked, this, [this] { Button10Click(Button10); });
    connect(Button11, &QPushButton::clicked, this, [this] { Button11Click(Button11); });

    // Page keys are seen before the focused control sees them.
    qApp->installEventFilter(this);
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    PlaceLoggingPage();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    // The window closed again while closing waits for an upload: Qt would swallow this second
    // request (the window is already closing), so it is caught where the window system hands it
    // over, and it stops the upload.
    if (event->type() == QEvent::Close && finishingWork_ && watched == windowHandle()) {
        stopAsked_ = true;
        return true;
    }
    // Esc closes the Fuel from lambda panel as it closes a dialog: the key reaches the panel
    // only when no control in it (an editor, a box) has used it.
    if (watched == FuelFromLambdaPanel && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        FuelFromLambdaPanel->close();
        return true;
    }
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        auto* widget = qobject_cast<QWidget*>(watched);
        // Only keys meant for this window; a modal dialog on top keeps its keys.
        if (widget && widget->window() == this && QApplication::activeModalWidget() == nullptr) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            // Esc ends a comparison with a file, unless it gives up a value being typed in a cell.
            auto* grid = widget->parentWidget() ? qobject_cast<StringGrid*>(widget->parentWidget()->parentWidget()) : nullptr;
            if (key == Qt::Key_Escape && event->type() == QEvent::KeyPress && Compared.Active()
                && !(grid && grid->EditorMode())) {
                ButtonEndCompareClick(ButtonEndCompare);
                return true;
            }
            // Shift+F10 opens a control's context menu as the Menu key does: many keyboards have
            // no Menu key, and some commands ("Take from file") are in that menu alone.
            if (key == Qt::Key_F10 && static_cast<QKeyEvent*>(event)->modifiers() == Qt::ShiftModifier) {
                if (event->type() == QEvent::KeyPress) {
                    const QPoint at = widget->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
                    QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, widget->mapToGlobal(at));
                    QApplication::sendEvent(widget, &menu);
                }
                event->accept();
                return true;
            }
            if (key >= Qt::Key_F1 && key <= Qt::Key_F7) {
                if (event->type() == QEvent::KeyPress) FormShortCut(key);
                event->accept();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool TForm1::FormShortCut(int key)
{
    // Shift, Ctrl and Alt are not examined: Shift+F2 acts like F2, Alt+F4 shows the Gauges page.
    if (key < Qt::Key_F1 || key > Qt::Key_F7) return false;
    PageControl1->SetActivePageIndex(key - Qt::Key_F1);
    PageControl1Change(PageControl1);   // a page change made by the program raises no event
    return true;
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!ConfirmDiscardLog()) {   // a run recorded and never saved exists nowhere else
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

QStringList TForm1::UnsavedLogFolders()
{
    QStringList folders;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (!data.isEmpty()) folders << data + QStringLiteral("/unsaved logs");
    // Empty when TMPDIR names a folder that does not exist: then there is no second choice.
    if (const QString temp = QDir::tempPath(); !temp.isEmpty()) folders << temp;
    return folders;
}

bool TForm1::StopOnSignal(int signal)
{
    ClosingSignal = signal;
    const int samples = logging::SampleCount(*Chart10);
    if (Log.Unsaved(samples)) {
        // Named for the moment it was saved. Each name is claimed exclusively: another window
        // ending in the same second (a logout ends them all) takes the next name, never this file.
        const QString stem = QStringLiteral("unsaved-log-")
                             + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
        const QStringList folders = UnsavedLogFolders();
        const logging::ChartLogStore store(*Chart10);
        QString saved;
        QStringList errors;
        for (const QString& folder : folders) {
            if (!QDir().mkpath(folder)) {
                errors << folder + QStringLiteral(": the folder cannot be made");
                continue;
            }
            // The temporary folder is shared: a name anyone can foresee could be taken first.
            const bool shared = folder == QDir::tempPath();
            saved = logging::SaveLogAsNewFile(store, folder, stem, shared, &errors);
            if (!saved.isEmpty()) break;
        }
        if (saved.isEmpty()) {
            std::fprintf(stderr, "Quenrix IO: asked to end (signal %d), but the unsaved log of %d samples could not be"
                         " saved (%s); the window asks what to do with it.\n",
                         signal, samples, qPrintable(errors.join(QStringLiteral("; "))));
            return close();
        }
        Log.MarkSaved();
        SaveLogCalibrations(saved);   // and beside it, the calibrations it was recorded with
        std::fprintf(stderr, "Quenrix IO: asked to end (signal %d); the unsaved log of %d samples was saved to %s\n",
                     signal, samples, qPrintable(saved));
    }
    return close();
}

void TForm1::FormClose()
{
    FinishLineWork();
    // What the ECU was left holding is kept, unless a point already holds it.
    if (WroteSinceRestorePoint) TakeRestorePoint(QStringLiteral("on closing"));
    // From here on nothing goes out: a tick already handed to the window must not open the
    // port again after it has been closed.
    Line->Shutdown();
    for (TThreadedTimer* timer : {ThreadedTimer1, ThreadedTimer2, ThreadedTimer3}) timer->SetEnabled(false);
    if (ZComm1->Connected()) ZComm1->CloseConnection();
}

void TForm1::FinishLineWork()
{
    // Writes the tuner made just before closing are let through, and so is an upload, which
    // would otherwise leave the ECU with part of a calibration. However slow the ECU, the work
    // is let finish (each step ends by itself, answered or given up; an upload waiting for a
    // silent ECU waits out its patience), showing how far it is. Asked a second time, it stops.
    auto working = [this] { return (Line->Busy() || UploadWaitAt) && ZComm1->Connected(); };
    if (Line->IsShutDown() || !working()) return;
    ThreadedTimer1->SetEnabled(false);
    finishingWork_ = true;
    stopAsked_ = false;
    const QString title = windowTitle();
    StopSignals* stopSignals = ClosingSignal ? StopSignals::Current() : nullptr;
    if (UploadActive) {
        setWindowTitle(title + QStringLiteral(" - closing when the upload is done; close again to stop it"));
        if (stopSignals) {
            stopSignals->CatchAgain([this](int signal) { StopAgainOnSignal(signal); });
            std::fprintf(stderr, "Quenrix IO: the upload to the ECU is let finish; the same signal again (Ctrl+C) "
                                 "stops it, and this terminal then says what the ECU holds\n");
        }
    }
    QElapsedTimer told;
    QString lastTold;
    while (working()) {
        if (stopAsked_) {
            StopUploadNow();
            break;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        // Asked to end from a terminal: nobody may see the window, so the terminal hears too.
        if (ClosingSignal && (!told.isValid() || told.elapsed() >= 1000)) {
            const QString progress = StatusBar1->PanelText(2);
            if (progress != lastTold)
                std::fprintf(stderr, "Quenrix IO: finishing the work with the ECU before ending (%s)\n",
                             qPrintable(progress));
            lastTold = progress;
            told.start();
        }
    }
    if (stopSignals) stopSignals->ReleaseAgain();
    finishingWork_ = false;
    setWindowTitle(title);
}

bool TForm1::StopAgainOnSignal(int)
{
    if (!finishingWork_) return false;
    stopAsked_ = true;
    return true;
}

void TForm1::StopUploadNow()
{
    // What the ECU holds is taken as the work stops: the write in flight may still be stored,
    // which the message counts as "may hold".
    stoppedMessage_.clear();
    if (UploadWaitAt) {
        const bool readingBack = std::exchange(uploadWaitReadBack_, false);
        stoppedMessage_ = UploadCheck.StoppedMessage(readingBack ? uint16_t(transfer::MemorySize) : *UploadWaitAt);
        StatusBar1->SetPanelText(2, QString::fromStdString(transfer::UploadStoppedText(*UploadWaitAt)));
        UploadWaitAt.reset();
        UploadWaitTimer->stop();
        EndUpload();
    }
    Line->CancelAll();   // an upload or its read-back that was running fills stoppedMessage_
    if (stoppedMessage_.empty()) return;
    const QString text = QString::fromStdString(stoppedMessage_);
    if (ClosingSignal) std::fprintf(stderr, "Quenrix IO: %s\n", qPrintable(text));   // nobody may see the window
    else ui::ShowError(this, text);
}

void TForm1::ComboBox1Change(QObject*)
{
    Line->CancelAll();   // nothing of the old port's work goes to the new one
    GiveUpUpload(true);
    if (ZComm1->Connected()) ZComm1->CloseConnection();
    ThreadedTimer1->SetEnabled(false);
    ZComm1->SetPort(ComboBox1->currentText());
    Line->Open();
    ResetLink(ecu::kResetOnPortChange);
    // Nothing is known of an ECU on the new port until it answers: the old port's "connected"
    // must not stand for it.
    StatusBar1->SetPanelText(2, QString::fromLatin1(polling::TextNotConnected));
    SendCommand('V', 0, 0);
    // The probe looks for the ECU on the new port every second until it answers, as at start:
    // one 'V' that goes unanswered (an ECU switched on a moment later) must not leave the
    // window waiting for ever on a read that never starts.
    ThreadedTimer3->SetEnabled(true);
}

void TForm1::Button9Click(QObject*) { StartRead(20, 14); }

void TForm1::Button11Click(QObject*) { StartRead(0); }

void TForm1::SendCommand(char letter, uint16_t address, uint8_t data)
{
    Line->Send(letter, address, data);
}

void TForm1::ZComm1DataAvailable(QObject*)
{
    Line->ReceiveAvailable();
}

void TForm1::CountBadReply()
{
    ++BadReplyCount;
    StatusBar1->SetPanelText(3, QString::number(BadReplyCount));
}

void TForm1::ProcessReply(char letter, uint16_t address, uint8_t data)
{
    SilentTicks = 0;
    // Any answer shows the ECU is back: an upload that waited for it goes on first.
    if (UploadWaitAt) ResumeUpload();
    switch (letter) {
    case 'a': case 'b': case 'c': case 'd': case 'e': case 'f': case 'g': case 'h':
        ProcessLiveReply(letter, address, data);
        break;
    case 'v': ProcessStatusReply(address); break;
    case 'r': ProcessReadReply(address, data); break;
    case 'w': ProcessWriteReply(address, data); break;
    default: break;   // an unknown letter still counts as a sign of life
    }
}
