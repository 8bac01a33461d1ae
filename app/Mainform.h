// TForm1: the one window of the program. It owns every control, the serial link, the three
// threaded timers, the dialogs and the state the link, calibration and logging share.
// Handlers stay thin: they call into ecu/, calibration/, live/, logging/ and ui/.
#pragma once

#include <QPoint>
#include <QWidget>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "calibration/ImageLayout.h"
#include "calibration/MapEditing.h"
#include "calibration/WriteMarks.h"
#include "ecu/EepromTransfer.h"
#include "ecu/Exchanges.h"
#include "ecu/Protocol.h"
#include "logging/LogTimes.h"
#include "ui/Dialogs.h"
#include "ui/StringGrid.h"
#include "ui/UpDown.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class LineOwner;
class LogChart;
class MapChart;
class PageControl;
class StatusBar;
class TCGauge;
class TThreadedTimer;
class TZComm;

// State of the window's unit: it lives for the whole run beside the window, and a port change
// leaves it as it is.
extern protocol::ReplyAssembler Reception;   // ReplyBuffer and ReplyFill
extern uint8_t PollStep;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- pages and shell ------------------------------------------------------------------
    PageControl* PageControl1 = nullptr;
    std::array<QWidget*, 7> TabSheet{};         // TabSheet1..TabSheet7 (index = tab index)
    StatusBar* StatusBar1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPushButton* Button9 = nullptr;             // hidden: read from address 20
    QPushButton* Button10 = nullptr;            // hidden: decode the image onto the pages
    QPushButton* Button11 = nullptr;            // hidden: full read

    // ---- calibration pages ----------------------------------------------------------------
    std::array<StringGrid*, 14> MapGrid{};      // StringGrid<n>, indexed by map number (10 unused)
    std::array<MapChart*, 14> MapChartOf{};     // Chart<n>, indexed by map number
    std::map<int, QLineEdit*> SettingEdit;      // setting edits by image address (their Tag)
    std::map<int, UpDown*> SettingSpin;         // their spin controls by the same address
    QLineEdit* txtTPSDwell = nullptr;           // ignition lock (454)
    UpDown* updownLockAdvance = nullptr;
    UpDown* UpDown7 = nullptr;                  // priming (439)
    QLineEdit* txtTPSZero = nullptr;
    QLineEdit* txtTPSMax = nullptr;
    UpDown* updownTPSZero = nullptr;
    UpDown* updownTPSMax = nullptr;
    QPlainTextEdit* Memo1 = nullptr;            // "Description"
    QPushButton* Button5 = nullptr;             // "SET TPS MIN"
    QPushButton* Button6 = nullptr;             // "SET TPS MAX"
    QPushButton* Button7 = nullptr;             // calibration "Load"
    QPushButton* Button8 = nullptr;             // calibration "Save"

    // ---- gauges page ------------------------------------------------------------------------
    QLineEdit* txtRPM = nullptr;
    QLineEdit* txtTPS = nullptr;
    QLineEdit* txtFuel = nullptr;
    QLineEdit* txtAdvance = nullptr;
    QLineEdit* txtVacuum = nullptr;
    QLineEdit* txtVolt = nullptr;
    QLineEdit* txtAcc = nullptr;
    QLineEdit* txtAirTemp = nullptr;
    QLineEdit* txtWaterTemp = nullptr;
    QLineEdit* txtFuelCorrection = nullptr;
    QLineEdit* txtAdvCorrection = nullptr;
    QLineEdit* txtEGT = nullptr;
    QLineEdit* txtLambda = nullptr;             // hidden raw lambda
    QLineEdit* txtLambdaFloat = nullptr;
    QLineEdit* txtPWM = nullptr;
    QLineEdit* txtOil = nullptr;
    QLineEdit* txtPOT = nullptr;                // on the Setup page
    TCGauge* CGauge1 = nullptr;
    TCGauge* CGauge2 = nullptr;
    TCGauge* DutyGauge = nullptr;
    QPushButton* Button12 = nullptr;            // "Start Logging"
    QPushButton* Button13 = nullptr;            // "Stop Logging"

    // ---- logging page -----------------------------------------------------------------------
    LogChart* Chart10 = nullptr;
    StringGrid* gridLog = nullptr;
    QSlider* TrackBar1 = nullptr;
    std::array<QCheckBox*, 14> ChannelBox{};    // CheckBox<n> by channel (their Tag)
    QPushButton* Button3 = nullptr;             // log "Save"
    QPushButton* Button4 = nullptr;             // log "Load"
    QPushButton* Button14 = nullptr;            // "Export CSV…"
    QLabel* lblSampleTime = nullptr;            // the readout's sample and its time
    std::array<QLineEdit*, 14> LogSourceEdit{}; // the live edit each channel records, by channel
    logging::SampleTimes LogTimes;              // when each sample of the log was taken
    ui::FileDialog CsvDialog{true};             // where an export goes

    // ---- components -------------------------------------------------------------------------
    TZComm* ZComm1 = nullptr;
    LineOwner* Line = nullptr;                  // everything that goes out on ZComm1
    TThreadedTimer* ThreadedTimer1 = nullptr;   // live polling, 12 ms
    TThreadedTimer* ThreadedTimer2 = nullptr;   // clock, 60 s
    TThreadedTimer* ThreadedTimer3 = nullptr;   // probe, 1 s
    ui::FileDialog OpenDialog1{false};
    ui::FileDialog SaveDialog1{true};

    // ---- private state (public so tests can observe it) -------------------------------------
    calibration::EepromImage EepromImage{};
    uint8_t LoggingActive = 0;
    bool LogUnsaved = false;                    // the log on display holds samples no file has
    uint8_t UploadActive = 0;
    uint8_t ReadPending = 0;
    uint8_t EcuAnswered = 0;
    int32_t BadReplyCount = 0;
    uint32_t SilentTicks = 0;
    uint32_t ReadStallTicks = 0;
    uint16_t ReadResumeAddress = 0;             // where a read that stalled goes on
    transfer::UploadCheck UploadCheck;          // what the running upload left in doubt or found differing
    std::set<uint16_t> Doubtful;                // addresses the ECU may hold another byte at: read back
    bool VerifyEveryUpload = false;             // Setup page switch: read all 500 back after an upload
    QCheckBox* CheckBox15 = nullptr;            // "Verify every upload"
    calibration::WriteMarks Marks;              // bytes sent and not (yet) confirmed by the ECU
    std::array<calibration::EditHistory, 14> MapEdits;   // undo and redo, by map number

    // ---- shell (Mainform.cpp) ---------------------------------------------------------------
    bool FormShortCut(int key);                 // true when the key was handled
    void FormClose();
    // The program is told to end from outside (Ctrl+C, kill, a closed terminal): nobody may be
    // there to answer, so an unsaved log is saved where it can be found (UnsavedLogFolders), then
    // the window closes as if closed by hand, which lets a running upload finish. True when the
    // window closed; when the log could not be saved the window asks as on any close.
    bool StopOnSignal(int signal);
    // Where such a log goes, in order of preference: the user's data folder for the program,
    // then the temporary folder.
    static QStringList UnsavedLogFolders();
    void ComboBox1Change(QObject* Sender);
    void Button9Click(QObject* Sender);
    void Button11Click(QObject* Sender);
    void SendCommand(char letter, uint16_t address, uint8_t data);
    void ZComm1DataAvailable(QObject* Sender);
    void ProcessReply(char letter, uint16_t address, uint8_t data);

    // ---- link: polling, probe, clock, read and upload (LinkHandlers.cpp) ---------------------
    void ThreadedTimer1Timer(QObject* Sender);
    void ThreadedTimer2Timer(QObject* Sender);
    void ThreadedTimer3Timer(QObject* Sender);
    void PageControl1Change(QObject* Sender);
    void ProcessStatusReply(uint16_t address);  // 'v'
    void ProcessReadReply(uint16_t address, uint8_t data);    // 'r'
    void ProcessWriteReply(uint16_t address, uint8_t data);   // 'w'
    // The walks and writes, as jobs of the line: one at a time, each step retried until its
    // reply comes or the job gives up.
    void StartRead(uint16_t from, uint8_t firstData = 0);
    void StartUpload();                         // sends the whole of EepromImage
    void WriteByte(uint16_t address, uint8_t data);   // one edited byte
    // Queues a job of writes (an edit, an upload) and marks its bytes as sent (MapEditing.cpp).
    uint32_t SubmitWrites(exchange::JobKind kind, std::vector<exchange::Step> steps);
    void TrackWrites(const exchange::Event& event);   // what the line's events say of the marks
    void ShowMarks(const std::vector<calibration::MarkChange>& changes);   // draws changed marks
    void LineEvent(const exchange::Event& event);
    void LinkLost();                            // the device went away: look for it again
    // An echo that could not be placed, or a write never confirmed: the address is marked and
    // read back when the line is free of writes (VerifyDoubts).
    void NoteDoubt(uint16_t address, std::optional<uint8_t> seen);
    void VerifyDoubts();
    void LineResumed();                         // output held by XOFF was let go on
    void CountBadReply();

    // ---- gauges page (GaugesPage.cpp) --------------------------------------------------------
    void ProcessLiveReply(char letter, uint16_t address, uint8_t data);   // 'a' to 'h'
    void txtLambdaChange(QObject* Sender);

    // ---- calibration pages (MapPages.cpp, SettingsEditors.cpp) -------------------------------
    void Button10Click(QObject* Sender);
    void StringGrid1KeyUp(QObject* Sender, int Key);
    // Steps, interpolation, undo and redo, copy and paste in every map grid (MapEditing.cpp).
    void StringGrid1Command(QObject* Sender, StringGrid::Command Command);
    // What the ECU holds at an address as far as anyone knows: the byte of a write on its way,
    // nothing after a write that was never confirmed or before the calibration has been read.
    std::optional<uint8_t> EcuByte(uint16_t address) const;
    void txtIdleFuelExit(QObject* Sender);
    void updownBaseFuelClick(QObject* Sender, UpDown::TUDBtnType Button);

    // ---- setup page (SetupPage.cpp) ----------------------------------------------------------
    void Button7Click(QObject* Sender);         // calibration load
    void Button8Click(QObject* Sender);         // calibration save
    void Button5Click(QObject* Sender);         // SET TPS MIN
    void Button6Click(QObject* Sender);         // SET TPS MAX

    // ---- logging (LoggingPage.cpp) -----------------------------------------------------------
    void Button1Click(QObject* Sender);         // Start Logging
    void Button2Click(QObject* Sender);         // Stop Logging
    void AddLogSample();
    void Button3Click(QObject* Sender);         // log save
    void Button4Click(QObject* Sender);         // log load
    void Button14Click(QObject* Sender);        // export CSV
    void LineSeries10Click(QObject* Sender, int ValueIndex);
    void TrackBar1Change(QObject* Sender);
    void CheckBox1Click(QObject* Sender);
    void Chart10DblClick(QObject* Sender);
    // True when the log on display may go: it is saved, empty, or the person said to discard it.
    bool ConfirmDiscardLog();

    // The clock's text: the local time in the system's long time format.
    static QString ClockText();

    // Finds a control of the window by its name (objectName).
    template <class T> T* Control(const QString& name) const { return findChild<T*>(name); }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The stored layout: each builds one page's controls and binds their events.
    void BuildShell();
    void BuildMapPage(int page);                // Temp, Fuel, Ignition, Boost
    // One setting's label(s), edit (Tag = its address) and spin control, at `at` inside
    // `parent`, bound to the shared handlers (SettingsEditors.cpp).
    enum class SettingLabels { None, Left, Above };
    QLineEdit* BuildSettingRow(int address, QWidget* parent, QPoint at, SettingLabels labels,
                               int labelWidth = 0);
    bool LockEditRed() const;
    // A whole edit of a map: its cells show the new bytes, the ECU gets those it does not hold.
    // A cell confirmed with Enter keeps the text typed and is sent whatever the ECU holds.
    enum class EditOrigin { Confirmed, New, Undo, Redo };
    void EditMapCells(const calibration::MapLayout& map, StringGrid& grid, const calibration::CellBytes& cells,
                      EditOrigin origin);
    void RedrawMapChart(const calibration::MapLayout& map, bool beepOnBadCell);
    void ShowEchoedValue(const calibration::MarkChange& change);   // the cell or edit shows the ECU's byte
    void ShowSettingMark(int address);
    QString MarkToolTip(uint16_t address, calibration::Encoding encoding) const;
    void ShowInvalidLock(uint8_t byte);         // the decode's lock check found neither 0 nor 20
    void BuildGaugesPage();
    void BuildLoggingPage();
    void PlaceChannelBoxes();
    void BuildSetupPage();
    void BuildComponents();
    void ShowLinkLost();
    void FinishLineWork();                      // closing: let queued writes reach the ECU
    int ClosingSignal = 0;                      // the signal that asked to end, if one did
};
