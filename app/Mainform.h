// TForm1: the one window of the program. It owns every control, the serial link, the three
// threaded timers, the dialogs and the state the link, calibration and logging share.
// Handlers stay thin: they call into ecu/, calibration/, live/, logging/ and ui/.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "calibration/CalibrationFiles.h"
#include "calibration/FileComparison.h"
#include "calibration/ImageLayout.h"
#include "calibration/MapEditing.h"
#include "calibration/RestorePoints.h"
#include "calibration/WriteMarks.h"
#include "ecu/EepromTransfer.h"
#include "ecu/Exchanges.h"
#include "ecu/LinkState.h"
#include "ecu/PortNames.h"
#include "ecu/Protocol.h"
#include "logging/FuelFromLambda.h"
#include "logging/CellTable.h"
#include "logging/LogLoad.h"
#include "logging/LogState.h"
#include "ui/Dialogs.h"
#include "ui/StringGrid.h"
#include "ui/UpDown.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QTableWidget;
class ProposalStrip;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QSlider;
class QSpinBox;
class QTableWidget;
class LineOwner;
class LiveStrip;
class QElapsedTimer;
class QTimer;
class LogChart;
class ScatterPlot;
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

// The link's flags and counters (ReadPending, UploadActive, EcuAnswered, BadReplyCount,
// SilentTicks, ReadStallTicks, ReadResumeAddress) are the window's own, kept in ecu::LinkState.
class TForm1 : public QWidget, public ecu::LinkState {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- pages and shell ------------------------------------------------------------------
    static constexpr QSize DefaultSize{798, 603};   // the window at start: every page is laid out for it
    PageControl* PageControl1 = nullptr;
    std::array<QWidget*, 7> TabSheet{};         // TabSheet1..TabSheet7 (index = tab index)
    StatusBar* StatusBar1 = nullptr;
    QComboBox* ComboBox1 = nullptr;             // a PortBox
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
    calibration::DescriptionFormat Memo1Format; // how the loaded description was written
    QPushButton* Button5 = nullptr;             // "SET TPS MIN"
    QPushButton* Button6 = nullptr;             // "SET TPS MAX"
    QPushButton* Button7 = nullptr;             // calibration "Load"
    QPushButton* Button8 = nullptr;             // calibration "Save"

    // ---- fuel from lambda (FuelFromLambdaPanel.cpp) ----------------------------------------
    // From the log on display: per column of "RPM Fuel" or "MAP Fuel Compensation", the lambda
    // the engine ran at and the value that would meet the target, drawn under the grid until
    // applied (one edit, one undo) or dismissed. The panel is a window of its own beside the
    // Fuel page, so the grid stays in view while the table is read.
    QPushButton* ButtonFuelFromLambda = nullptr;   // on the Fuel page: shows the panel
    QWidget* FuelFromLambdaPanel = nullptr;
    QComboBox* ComboFuelMap = nullptr;             // which map: 4 or 6
    std::vector<QDoubleSpinBox*> FuelThresholdBox; // every threshold, in the panel's order
    QTableWidget* GridFuelColumns = nullptr;       // per column: statistics, target, proposal, lock
    QLabel* LabelFuelSummary = nullptr;            // what the log gave; why nothing is proposed
    QLabel* LabelFuelFormula = nullptr;
    QPushButton* ButtonFuelAnalyse = nullptr;
    QPushButton* ButtonFuelApply = nullptr;
    QPushButton* ButtonFuelDismiss = nullptr;
    QPushButton* ButtonFuelDefaults = nullptr;     // thresholds back to their defaults
    QPushButton* ButtonFuelTargets = nullptr;      // every target back to 1.00
    std::array<ProposalStrip*, 14> ProposalStripOf{};   // under the grids of maps 4 and 6
    int FuelMap = 4;                               // the map the panel works on
    std::optional<logging::ColumnStats> FuelLambda;     // the last analysis, for FuelMap
    uint64_t FuelLambdaLog = 0;                    // the log it read (logging::LogState::Generation())
    std::vector<logging::ColumnProposal> FuelProposals;
    std::set<int> FuelNotApplied;                  // proposed columns the tuner unticked
    // Proposals from a log correct what the engine did on the calibration it ran with: once some
    // are applied, the samples of that log up to then may not correct either map again.
    struct FuelAppliedFrom {
        uint64_t log;     // logging::LogState::Generation()
        int samples;      // the log's length when they were applied
        int map;
    };
    std::optional<FuelAppliedFrom> FuelApplied;
    void ButtonFuelFromLambdaClick(QObject* Sender);
    void ComboFuelMapChange(QObject* Sender);
    void FuelThresholdChange(QObject* Sender);
    void ButtonFuelAnalyseClick(QObject* Sender);
    void ButtonFuelApplyClick(QObject* Sender);
    void ButtonFuelDismissClick(QObject* Sender);
    void ButtonFuelDefaultsClick(QObject* Sender);
    void ButtonFuelTargetsClick(QObject* Sender);
    void GridFuelColumnsChange(int row, int column);   // a target, a lock or an apply tick

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
    logging::LogState Log;                      // the log's times and whether a file holds it
    ui::FileDialog CsvDialog{true};             // where an export goes
    // ---- log viewer: how the log is looked at (LogViews.cpp) ---------------------------------
    enum class LogView { OneChart, Lanes, Scatter, CellTable };
    QComboBox* cmbLogView = nullptr;            // "View": one chart, lanes or scatter; remembered
    LogView CurrentLogView() const;
    void cmbLogViewChange(QObject* Sender);
    void BuildLogViews(QWidget* page);
    ScatterPlot* chartScatter = nullptr;        // one channel against another, coloured by a third
    std::array<QComboBox*, 3> cmbScatter{};     // its x, y and colour channels; remembered
    void cmbScatterChange(QObject* Sender);
    void ShowLogView();                         // the chosen view shown, the others hidden
    void RefreshScatter();                      // the scatter over the time view's range
    QTableWidget* gridCells = nullptr;          // the log by map column: samples, time, mean, min, max
    QComboBox* cmbCellMap = nullptr;            // which map's columns ("RPM Fuel" at first)
    QComboBox* cmbCellChannel = nullptr;        // which channel is described (lambda at first)
    // The fuel assistant's checks on which samples count, each switched on or off with its
    // thresholds (LogViews.cpp lists them); remembered.
    QWidget* panelCellFilters = nullptr;
    std::array<QCheckBox*, 6> chkCellFilter{};
    std::array<QDoubleSpinBox*, 8> spinCellFilter{};
    QPushButton* btnCellDefaults = nullptr;     // every check on, every threshold at its default
    QLabel* lblCellLeftOut = nullptr;           // what each check left out
    void CellFilterChange(QObject* Sender);
    void btnCellDefaultsClick(QObject* Sender);
    QPushButton* btnCellExport = nullptr;       // "Export table…"
    ui::FileDialog CellDialog{true};
    void RefreshCellTable();
    void btnCellExportClick(QObject* Sender);
    logging::CellTableQuery CellQuery() const;
    // ---- a second log beside the first, for viewing only (SecondLog.cpp) ----------------------
    // Its commands: in the button's menu, and as keys on the Logging page.
    QPushButton* btnSecondLog = nullptr;        // "Second log"
    QAction* actSecondLogLoad = nullptr;        // "Load a second log…" (Ctrl+Shift+O)
    QAction* actSecondLogAlign = nullptr;       // "Align at the picked samples" (Ctrl+Shift+A)
    QAction* actSecondLogStarts = nullptr;      // "Align at the starts" (Ctrl+Shift+Home)
    std::array<QAction*, 4> actSecondLogMove{}; // a sample earlier/later (Alt+Left/Right), ten (with Shift)
    QAction* actSecondLogClose = nullptr;       // "Close the second log"
    QString SecondLogName;                      // its file's name
    int SecondLogPicked = -1;                   // its sample a click on its line picked; -1 none
    void BuildSecondLog(QWidget* page);
    void SecondLogLoad();
    void SecondLogAlign(bool atPicked);         // else at the starts
    void SecondLogMove(int samples);            // on the time axis: positive is later
    void SecondLogClose();
    void SecondLogChanged();                    // the caption and the commands' states

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
    // The live boxes start at "0", which the ECU never sent: a recording started before every
    // channel's reply has come waits for them, a few samples at most (an ECU that never sends
    // one of them still gets its log).
    std::array<bool, 14> LogChannelHeard{};     // by channel: a reply has written its box
    int LogSamplesWaited = LogWaitSamples;      // samples left out at the start of this recording
    static constexpr int LogWaitSamples = 3;
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
    // Queues a job of writes (an edit, an upload) and marks its bytes as sent (MapWorkbench.cpp).
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
    // An upload whose ECU fell silent waits for it: it goes on from the first address not
    // confirmed as soon as the ECU answers again (to the 'V' sent every second meanwhile), and
    // gives up for good only after UploadPatience of silence, counted in panel 2.
    std::optional<uint16_t> UploadWaitAt;       // where it waits; nothing while it runs or is over
    std::chrono::milliseconds UploadPatience{10000};
    QTimer* UploadWaitTimer = nullptr;          // the probe and the count while it waits
    void WaitForSilentEcu(uint16_t address);
    void UploadWaitTick();
    void ResumeUpload();
    void GiveUpUpload(bool cancelled);          // the wait ends: the box says what the ECU may hold
    void EndUpload();                           // UploadActive off, the pages decoded again
    // Closing (or a signal) during an upload lets it finish; a second close or signal stops it,
    // and the box (or, after a signal, the terminal) says what the ECU holds.
    bool StopAgainOnSignal(int signal);         // false: no upload is being finished
    void StopUploadNow();

    // ---- gauges page (GaugesPage.cpp) --------------------------------------------------------
    void ProcessLiveReply(char letter, uint16_t address, uint8_t data);   // 'a' to 'h'
    void txtLambdaChange(QObject* Sender);

    // ---- calibration pages (MapPages.cpp, SettingsEditors.cpp) -------------------------------
    void Button10Click(QObject* Sender);
    void StringGrid1KeyUp(QObject* Sender, int Key);
    // Steps, interpolation, undo and redo, copy and paste in every map grid (MapWorkbench.cpp).
    void StringGrid1Command(QObject* Sender, StringGrid::Command Command);
    // A map cell's editor closed without Enter: the cell shows the ECU's value again, and a
    // value typed there and left is reported as not sent (MapWorkbench.cpp).
    void StringGrid1EditAbandoned(QObject* Sender, int Col, const QString& Typed, bool Escaped);
    // What the ECU holds at an address as far as anyone knows: the byte of a write on its way,
    // nothing after a write that was never confirmed or before the calibration has been read.
    std::optional<uint8_t> EcuByte(uint16_t address) const;
    void txtIdleFuelExit(QObject* Sender);
    void updownBaseFuelClick(QObject* Sender, UpDown::TUDBtnType Button);

    // ---- setup page (SetupPage.cpp) ----------------------------------------------------------
    void Button7Click(QObject* Sender);         // calibration load
    // Before a loaded calibration goes to the ECU: what it changes against what the ECU holds, and
    // Upload or Cancel. True to upload; a file equal to the ECU sends nothing (its description is
    // taken), and before the ECU has been read the question says its contents are not known.
    bool ConfirmUpload(const QString& imageFile, const calibration::CalibrationRead& read);
    void TakeDescription(const calibration::CalibrationRead& read);   // the file's, into Memo1
    void Button8Click(QObject* Sender);         // calibration save
    void Button5Click(QObject* Sender);         // SET TPS MIN
    void Button6Click(QObject* Sender);         // SET TPS MAX
    // The port: a name typed counts once finished (Enter, a pick from the list, or a pause on a
    // name that is a serial device); the choice is remembered; why a port cannot be opened is
    // said under the box and in status panel 3 (PortPanel).
    QLabel* lblPortReason = nullptr;
    QTimer* PortTypingPause = nullptr;          // about 0.7 s after the last key
    serial::PortWatch* PortList = nullptr;      // the list follows the devices that come and go
    static constexpr int PortPanel = 3;         // the error panel: nothing else writes it while no port is open
    // Where the port list looks; tests point it at folders of their own before making a window.
    inline static serial::PortFolders PortPlaces{};
    void PortChosen(const QString& name, bool sayInBox);
    void PortOpenAttempt();                     // after every open, whoever asked for it
    void PortsChanged(const QStringList& names, const QStringList& appeared);
    static QString RememberedPort();            // "COM1" until the user has chosen one

    // ---- restore points (RestorePointsPage.cpp) ----------------------------------------------
    // Keeps the calibration the ECU holds as a restore point before a change other than a single
    // edit: call it right before the change's first byte is sent and before EepromImage changes
    // ("before applying proposals", "before taking cells from a compared file"). The point holds
    // EepromImage as the ECU confirmed it and the Description; a recording's current stretch ends
    // with it and the change starts the next. The writes that follow within a minute are folded
    // into the change (no second point before them). It never asks and never stops the caller:
    // a refused point (full disk, no folder) says so in status panel 3 and the work goes on.
    // Returns the point's name; empty when none was kept (refused, or the ECU not read yet, when
    // there is no calibration to keep).
    QString KeepRestorePoint(const QString& cause);
    // A point without a change after it: after a read, on closing, for a recorded log.
    QString TakeRestorePoint(const QString& cause);
    // An edit goes out: the first of a burst keeps a point first (SubmitWrites calls it).
    void NoteEdit();
    // The point that holds what the ECU holds now: the last one kept when nothing has changed
    // since, else a new one. Empty when none could be kept.
    QString CurrentRestorePoint();
    void ButtonRestorePointsClick(QObject* Sender);   // "Restore points" on the Setup page
    void ButtonLogCalibrationClick(QObject* Sender);  // "Show the calibration of this log"
    QPushButton* ButtonRestorePoints = nullptr;
    QPushButton* ButtonLogCalibration = nullptr;
    QTimer* RestoreBurstTimer = nullptr;        // a minute without edits ends a burst
    bool WroteSinceRestorePoint = false;        // a write reached the ECU after the last point
    struct KeptPoint {
        QString name;
        QByteArray checksum;
        calibration::EepromImage image{};
    };
    std::optional<KeptPoint> LastRestorePoint;   // the newest point this window kept
    void BuildRestorePoints();
    // The calibration of a point or a file goes to the ECU as a load does: the question first,
    // a point before it, then the upload. False when the tuner cancelled.
    bool UploadCalibrationRead(const QString& imageFile, const calibration::CalibrationRead& read,
                               const QString& cause);
    bool CalibrationWalkRunning();              // a read or upload runs: said in a box, true
    // The log's stretches, with the calibration each ran on, beside a saved log file.
    void SaveLogCalibrations(const QString& logFile);
    void LoadLogCalibrations(const QString& logFile);
    void ShowLogCalibrationOffer();             // the button, enabled when the log knows a calibration

    // ---- comparison with a calibration file, nothing sent (CompareWithFile.cpp) --------------
    // A file held up against the ECU on every page: differing cells get a blue corner, settings a
    // blue frame, and their tooltips both values. "Take from file" sends a grid's selection (one
    // edit, one undo) or a setting through the path typing takes; the button or Esc ends it.
    calibration::FileComparison Compared;
    QPushButton* ButtonCompare = nullptr;       // "Compare with file…"
    QPushButton* ButtonEndCompare = nullptr;    // "End comparison"
    void ButtonCompareClick(QObject* Sender);
    void ButtonEndCompareClick(QObject* Sender);
    void ShowComparison();                      // every cell and setting marked as it stands now
    void TakeFromFile(StringGrid* grid);        // the grid's selection, or its current cell
    void TakeSettingFromFile(int address);
    void AddCompareCommands(QMenu* menu, StringGrid* grid, int settingAddress);   // right-click menus
    QString CompareToolTip(uint16_t address, calibration::Encoding encoding) const;   // empty: equal

    // ---- logging (LoggingPage.cpp) -----------------------------------------------------------
    void Button1Click(QObject* Sender);         // Start Logging
    void Button2Click(QObject* Sender);         // Stop Logging
    void AddLogSample();
    void Button3Click(QObject* Sender);         // log save
    void Button4Click(QObject* Sender);         // log load
    // The log file the person picks, read; nothing when they cancel, or said no to a file that may
    // not fit in memory, or the file was refused (which they were told).
    std::optional<logging::LogLoadResult> ChooseAndReadLog(QString* path);
    void Button14Click(QObject* Sender);        // export CSV
    void LineSeries10Click(QObject* Sender, int ValueIndex);
    void TrackBar1Change(QObject* Sender);
    void CheckBox1Click(QObject* Sender);
    void Chart10DblClick(QObject* Sender);
    // True when the log on display may go: it is saved, empty, or the person said to discard it.
    bool ConfirmDiscardLog();

    // ---- live values on the map pages (LiveStrip.cpp) ----------------------------------------
    QCheckBox* CheckBoxLiveOnMaps = nullptr;    // "Live values on map pages", remembered per user
    std::array<LiveStrip*, 7> LiveStripOf{};    // by tab index; map pages only
    QTimer* LiveFreshness = nullptr;            // turns values that stopped coming into "—"
    bool LiveOnMapPages() const;
    void SetLiveOnMapPages(bool on);            // the switch: remembered, then the page rule again
    bool PageWantsPolling() const;              // the page rule, logging aside
    void ShowLiveOnMaps(char letter, uint16_t address, uint8_t data);   // after a live reply
    void RefreshLiveOnMaps();                   // the shown page's strip and operating points
    // Menu command: the grid's selection times (100 + p) / 100, p asked for (MapScaling).
    // Refused (nullopt) with `cancelled` false beeps; a cancelled prompt sets it and sends nothing.
    std::optional<calibration::CellBytes> AskScaleColumns(const calibration::MapLayout& map,
                                                          const std::vector<int>& columns,
                                                          const calibration::ColumnText& text, bool& cancelled);

    // The clock's text: the local time in the system's long time format.
    static QString ClockText();

    // Finds a control of the window by its name (objectName).
    template <class T> T* Control(const QString& name) const { return findChild<T*>(name); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
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
    // The screen holds what the ECU holds or was asked to hold, never a value typed and not
    // sent: a refused or abandoned value gives way to this byte (nullopt: none is known yet).
    std::optional<uint8_t> ShownByte(uint16_t address) const;
    void RestoreCell(const calibration::MapLayout& map, StringGrid& grid, int col);
    void RefuseCell(const calibration::MapLayout& map, StringGrid& grid, int col, const std::string& typed);
    // Why an edit was not sent, in status panel 3, until the next edit that is.
    void ShowEditMessage(const QString& text);
    void ClearEditMessage();
    void ShowEchoedValue(const calibration::MarkChange& change);   // the cell or edit shows the ECU's byte
    void ShowSettingMark(int address);
    // restore point: before taking cells from a compared file
    void BeforeTakingFromFile();                // called as the take is about to be sent
    std::map<int, QString> settingCompareTip_;  // what each setting's comparison last said
    QString MarkToolTip(uint16_t address, calibration::Encoding encoding) const;
    void ShowInvalidLock(uint8_t byte);         // the decode's lock check found neither 0 nor 20
    void BuildFuelFromLambda();                 // the panel, its button and the grids' proposal lines
    void FuelShowThresholds();                  // FuelMap's remembered thresholds into the boxes
    logging::FuelFilter FuelFilterShown() const;
    logging::FuelRules FuelRulesShown() const;
    void FuelAnalyse();                         // the log on display, over FuelMap's axis
    void FuelPropose();                         // the proposals against what the ECU holds now
    void FuelShow();                            // table, summary and the grid's proposal line
    void BuildGaugesPage();
    void BuildLoggingPage();
    void PlaceChannelBoxes();
    // The Logging page at the window's size: the view takes what the window grows by beyond
    // DefaultSize, the rows under it move down, the right-hand controls keep to the right edge.
    void PlaceLoggingPage();
    void OrderLoggingPageTabs();                // Tab in reading order, once every control stands
    std::vector<std::pair<QPointer<QWidget>, QRect>> loggingHomes_;   // each control as built
    void BuildSetupPage();
    void BuildPortControls(QWidget* page);
    QString PortPanelText;                      // the text this window last put in PortPanel
    bool PortChoiceInBox = false;               // the open under way was chosen this moment
    bool PortJustPicked = false;                // a pick's Enter is not a second choice
    QString PortAppeared;                       // said under the box while the port is missing
    void BuildComponents();
    void ShowLinkLost();
    void FinishLineWork();                      // closing: let queued writes reach the ECU
    std::chrono::steady_clock::time_point uploadWaitSince_{};   // the ECU silent since then
    std::optional<uint16_t> uploadWaitedAt_;    // where the running upload last waited
    bool uploadWaitReadBack_ = false;           // it waits in its read-back, not its writes
    std::vector<uint16_t> readBackLeft_;        // the read-back's addresses not yet read
    bool finishingWork_ = false;                // closing waits for the line's work
    bool stopAsked_ = false;                    // ... and was asked a second time to end
    std::string stoppedMessage_;                // what the ECU holds after an upload was stopped

    bool imageShown_ = false;                   // a calibration has been decoded onto the pages
    QString editMessage_;                       // what panel 3 was last told of an edit not sent
    void BuildLiveOnMaps();                     // the switch, the strips and their clock
    // When each live reply 'a'..'h' last came (ms of LiveClock, -1 never) and what it held.
    std::array<qint64, 8> liveReplyAt_{-1, -1, -1, -1, -1, -1, -1, -1};
    std::array<std::pair<uint16_t, uint8_t>, 8> liveFields_{};
    QElapsedTimer* liveClock_ = nullptr;
    bool LiveFresh(char letter) const;
    void PlaceOperatingPoints(int page, char letter);   // the maps of the page laid over its value
    int ClosingSignal = 0;                      // the signal that asked to end, if one did
};
