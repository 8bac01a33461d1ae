// The Setup page: settings, throttle calibration, description, calibration files, the port.
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QMetaObject>
#include <QPointer>
#include <QTextDocument>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include "app/Mainform.h"
#include "base/UserSettings.h"
#include "calibration/CalibrationFiles.h"
#include "calibration/ImageDiff.h"
#include "calibration/ThrottleCalibration.h"
#include "ecu/LineOwner.h"
#include "ecu/PortNames.h"
#include "ecu/PortTrouble.h"
#include "ecu/SerialPlatform.h"
#include "ecu/Threadedtimer.h"
#include "ecu/Zcomm.h"
#include "ui/Beep.h"
#include "ui/Dialogs.h"
#include "ui/PageControl.h"
#include "ui/PortBox.h"
#include "ui/StatusBar.h"

namespace {

const QString ErrorOpeningFile = QStringLiteral("Status- error opening file");
const QString CalibrationFolder = QStringLiteral("calibrations");   // where calibrations were last saved or loaded

// A group box or a button: its caption is also what a screen reader says for it.
template <class Captioned>
Captioned* Make(QWidget* parent, const QString& caption, const char* name, QRect geometry)
{
    auto* widget = new Captioned(caption, parent);
    widget->setObjectName(QLatin1String(name));
    widget->setAccessibleName(caption);
    widget->setGeometry(geometry);
    return widget;
}

// Both end points: prompt with live polling on, then take the raw reading the tuner saw.
void TeachThrottleEnd(TForm1& form, const calibration::ThrottleEnd& end, UpDown* spin, QLineEdit* edit)
{
    form.ThreadedTimer1->SetEnabled(true);   // the POT box keeps moving while the prompt is open
    ui::ShowInformation(&form, QString::fromUtf8(end.prompt));
    form.PageControl1Change(form.PageControl1);   // then polling as the page and logging want it

    const calibration::ThrottleReading reading = calibration::ReadThrottle(form.txtPOT->text().toStdString());
    switch (reading.outcome) {
    case calibration::ThrottleReading::Ignore: return;
    case calibration::ThrottleReading::Refuse: ui::Beep(); return;
    case calibration::ThrottleReading::Store: break;
    }
    form.NoteEdit();   // before the image changes: the point keeps the end point as it was
    form.EepromImage[std::size_t(end.address)] = reading.byte;
    spin->SetPosition(reading.byte);
    form.txtIdleFuelExit(edit);
}

}  // namespace

void TForm1::BuildSetupPage()
{
    QWidget* page = TabSheet[5];

    // Throttle end points, typed or taught.
    QGroupBox* tpsUpper = Make<QGroupBox>(page, QStringLiteral("TPS"), "GroupBoxTpsUpper", {8, 6, 236, 92});
    BuildSettingRow(450, tpsUpper, {10, 24}, SettingLabels::Left, 40);
    BuildSettingRow(451, tpsUpper, {10, 56}, SettingLabels::Left, 40);
    Button5 = Make<QPushButton>(tpsUpper, QStringLiteral("SET TPS MIN"), "Button5", {122, 22, 104, 26});
    Button6 = Make<QPushButton>(tpsUpper, QStringLiteral("SET TPS MAX"), "Button6", {122, 54, 104, 26});
    connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(Button5); });
    connect(Button6, &QPushButton::clicked, this, [this] { Button6Click(Button6); });

    QGroupBox* idle = Make<QGroupBox>(page, QStringLiteral("IDLE"), "GroupBoxIdle", {252, 6, 150, 110});
    BuildSettingRow(443, idle, {10, 22}, SettingLabels::Left, 62);
    BuildSettingRow(444, idle, {10, 50}, SettingLabels::Left, 62);
    BuildSettingRow(445, idle, {10, 78}, SettingLabels::Left, 62);

    QGroupBox* acc = Make<QGroupBox>(page, QStringLiteral("Acceleration"), "GroupBoxAcceleration", {410, 6, 150, 110});
    BuildSettingRow(446, acc, {10, 22}, SettingLabels::Left, 62);
    BuildSettingRow(448, acc, {10, 50}, SettingLabels::Left, 62);
    QLineEdit* accLast = BuildSettingRow(449, acc, {10, 78}, SettingLabels::Left, 62);

    // The raw throttle reading the end points are taught from; the Gauges page made the box.
    QGroupBox* pot = Make<QGroupBox>(page, QStringLiteral("POT"), "GroupBoxPot", {568, 6, 90, 56});
    txtPOT->setParent(pot);
    txtPOT->setGeometry(12, 24, 64, 21);
    txtPOT->setAccessibleName(QStringLiteral("POT"));
    txtPOT->show();
    // Made before this page, the box would come first on Tab; it belongs after "Acceleration".
    QWidget::setTabOrder(accLast, txtPOT);

    BuildSettingRow(439, page, {576, 80}, SettingLabels::Left, 52);   // priming, on the page itself

    // The row of eight engine settings.
    QGroupBox* tpsLower = Make<QGroupBox>(page, QStringLiteral("TPS"), "GroupBoxTpsLower", {8, 124, 774, 84});
    int x = 8;
    for (int address : {431, 438, 440, 453, 447, 441, 454, 455}) {
        BuildSettingRow(address, tpsLower, {x, 20}, SettingLabels::Above, 94);
        x += 96;
    }

    QGroupBox* description = Make<QGroupBox>(page, QStringLiteral("Description"), "GroupBoxDescription",
                                           {8, 216, 520, 330});
    Memo1 = new QPlainTextEdit(QStringLiteral("Memo1"), description);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setAccessibleName(QStringLiteral("Description"));
    // Tab goes on to the next control: a memo that took it would hold the keyboard for good.
    Memo1->setTabChangesFocus(true);
    auto* memoLayout = new QVBoxLayout(description);
    memoLayout->setContentsMargins(8, 4, 8, 8);
    memoLayout->addWidget(Memo1);

    // The calibration file: image and description together.
    Button7 = Make<QPushButton>(page, QStringLiteral("Load"), "Button7", {540, 226, 96, 28});
    Button8 = Make<QPushButton>(page, QStringLiteral("Save"), "Button8", {540, 262, 96, 28});
    connect(Button7, &QPushButton::clicked, this, [this] { Button7Click(Button7); });
    connect(Button8, &QPushButton::clicked, this, [this] { Button8Click(Button8); });
    // A file held up against the ECU, nothing sent (CompareWithFile.cpp).
    ButtonCompare = Make<QPushButton>(page, QStringLiteral("Compare with file…"), "ButtonCompare", {646, 226, 136, 28});
    ButtonEndCompare = Make<QPushButton>(page, QStringLiteral("End comparison"), "ButtonEndCompare", {646, 262, 136, 28});
    ButtonEndCompare->setEnabled(false);
    connect(ButtonCompare, &QPushButton::clicked, this, [this] { ButtonCompareClick(ButtonCompare); });
    connect(ButtonEndCompare, &QPushButton::clicked, this, [this] { ButtonEndCompareClick(ButtonEndCompare); });
    // Reading all 500 bytes back after an upload costs about as long again as the upload;
    // off at first start, remembered once chosen.
    CheckBox15 = Make<QCheckBox>(page, QStringLiteral("Verify every upload"), "CheckBox15", {540, 296, 242, 22});
    VerifyEveryUpload = base::UserSettings().value(QStringLiteral("link/verifyEveryUpload"), false).toBool();
    CheckBox15->setChecked(VerifyEveryUpload);
    connect(CheckBox15, &QCheckBox::toggled, this, [this](bool on) {
        VerifyEveryUpload = on;
        base::UserSettings().setValue(QStringLiteral("link/verifyEveryUpload"), on);
    });

    BuildPortControls(page);
}

// ---- the port ----------------------------------------------------------------------------

namespace {

const QString PortKey = QStringLiteral("port");

}  // namespace

QString TForm1::RememberedPort()
{
    const QString port = base::UserSettings().value(PortKey).toString();
    return port.isEmpty() ? QStringLiteral("COM1") : port;
}

void TForm1::BuildPortControls(QWidget* page)
{
    auto* portGroup = new QGroupBox(QStringLiteral("Port"), page);
    portGroup->setObjectName(QStringLiteral("grpPort"));
    portGroup->setAccessibleName(QStringLiteral("Port"));
    auto* column = new QVBoxLayout(portGroup);
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Serial port:"), portGroup);
    label->setBuddy(ComboBox1);
    row->addWidget(label);
    row->addWidget(ComboBox1, 1);
    column->addLayout(row);
    // Why the port cannot be opened and what to do about it, where the user looks for the port.
    lblPortReason = new QLabel(portGroup);
    lblPortReason->setObjectName(QStringLiteral("lblPortReason"));
    lblPortReason->setAccessibleName(QStringLiteral("Port problem"));
    lblPortReason->setWordWrap(true);
    lblPortReason->setTextInteractionFlags(Qt::TextSelectableByMouse);   // the command can be copied
    lblPortReason->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblPortReason->hide();
    column->addWidget(lblPortReason, 1);
    portGroup->setGeometry(540, 346, 242, 200);

    // The port chosen last time, by its stable name where it has one; COM1 on the first start.
    auto* box = static_cast<PortBox*>(ComboBox1);
    {
        const QSignalBlocker quiet(box);
        box->setEditText(RememberedPort());
    }
    ZComm1->SetPort(box->currentText());
    ZComm1->OnOpenAttempt = [this](TZComm*) { PortOpenAttempt(); };

    PortList = new serial::PortWatch(PortPlaces, this);
    PortList->setObjectName(QStringLiteral("PortList"));
    box->SetNames(PortList->Names());
    PortList->OnChanged = [this](const QStringList& names, const QStringList& appeared) { PortsChanged(names, appeared); };
    box->OnDropDown = [this] { PortList->Rebuild(); };

    // A name being typed is not yet a port: /dev/ttyUSB1 on the way to /dev/ttyUSB10 must not be
    // opened and sent a probe. It counts on Enter, on a pick from the list, or after a pause
    // when it names a serial device.
    PortTypingPause = new QTimer(this);
    PortTypingPause->setObjectName(QStringLiteral("PortTypingPause"));
    PortTypingPause->setSingleShot(true);
    PortTypingPause->setInterval(700);
    connect(box, &QComboBox::editTextChanged, this, [this] { PortTypingPause->start(); });
    connect(PortTypingPause, &QTimer::timeout, this, [this] {
        const QString name = ComboBox1->currentText();
        if (name == ZComm1->Port() && ZComm1->Connected()) return;
        if (name.size() > serial::kMaxPortNameLength) return;
        if (!serial::looksLikeSerialDevice(serial::resolvePortName(name.toStdString()))) return;
        PortChosen(name, false);
    });
    // One choice per key: the Enter that picks an item may also reach the line edit, and the line
    // edit may tell its Enter more than once.
    auto chosen = [this](const QString& name) {
        if (PortJustPicked) return;
        PortJustPicked = true;
        QTimer::singleShot(0, this, [this] { PortJustPicked = false; });
        PortChosen(name, true);
    };
    connect(box, &QComboBox::activated, this, [this, chosen](int index) { chosen(ComboBox1->itemText(index)); });
    connect(box->lineEdit(), &QLineEdit::returnPressed, this, [this, chosen] { chosen(ComboBox1->currentText()); });
}

void TForm1::PortChosen(const QString& name, bool sayInBox)
{
    PortTypingPause->stop();
    // Remembered by the name that stays the same when the adapter comes back as another
    // /dev/ttyUSBn, where there is one; else as chosen.
    const QString stable = serial::StableName(QString::fromStdString(serial::resolvePortName(name.toStdString())),
                                              PortPlaces);
    base::UserSettings().setValue(PortKey, stable.isEmpty() ? name : stable);
    if (ComboBox1->currentText() != name) {
        const QSignalBlocker quiet(ComboBox1);
        ComboBox1->setEditText(name);
    }
    PortAppeared.clear();
    PortChoiceInBox = sayInBox;
    ComboBox1Change(ComboBox1);
    PortChoiceInBox = false;
}

void TForm1::PortOpenAttempt()
{
    if (ZComm1->Connected()) {
        lblPortReason->clear();
        lblPortReason->hide();
        ComboBox1->setToolTip(QString());
        if (!PortPanelText.isEmpty() && StatusBar1->PanelText(PortPanel) == PortPanelText)
            StatusBar1->SetPanelText(PortPanel, QString());
        PortPanelText.clear();
        PortAppeared.clear();
        return;
    }
    const serial::OpenFailure& failure = ZComm1->OpenFailure();
    const QStringList present =
        failure.kind == serial::OpenFailure::Kind::Missing ? serial::PresentPorts(PortPlaces) : QStringList();
    const serial::PortTrouble trouble = serial::DescribeOpenFailure(ZComm1->Port(), failure, ZComm1->OpenError(), present);
    lblPortReason->setText(PortAppeared.isEmpty() ? trouble.line : trouble.line + QLatin1Char('\n') + PortAppeared);
    lblPortReason->show();
    ComboBox1->setToolTip(trouble.line);
    // Written on every failed attempt (about once a second while the probe looks), so that a
    // file error that took the panel meanwhile gives it back.
    StatusBar1->SetPanelText(PortPanel, trouble.panel);
    PortPanelText = trouble.panel;
    // A box only for the port the user has just chosen; the probe's attempts say it quietly.
    if (PortChoiceInBox) {
        PortChoiceInBox = false;
        const QString text = trouble.line;
        QPointer<TForm1> self(this);
        // After the handler that chose the port has returned: the box's own event loop must not
        // run inside the combo box's signal.
        QMetaObject::invokeMethod(this, [self, text] { if (self) ui::ShowError(self, text); }, Qt::QueuedConnection);
    }
}

void TForm1::PortsChanged(const QStringList& names, const QStringList& appeared)
{
    static_cast<PortBox*>(ComboBox1)->SetNames(names);
    if (ZComm1->Connected()) return;
    // The port wanted is there again, under its own name or under the stable name it was
    // remembered by (an adapter back as /dev/ttyUSB1 instead of ttyUSB0): look for the ECU there
    // now rather than at the next probe.
    auto isDevice = [](const QString& name) {
        return serial::looksLikeSerialDevice(serial::resolvePortName(name.toStdString()));
    };
    const QString stable = RememberedPort();
    QString found;
    if (isDevice(ZComm1->Port()))
        found = ZComm1->Port();
    else if (stable != ZComm1->Port() && !serial::StableName(stable, PortPlaces).isEmpty() && isDevice(stable))
        found = stable;
    if (!found.isEmpty()) {
        if (found != ZComm1->Port()) {
            const QSignalBlocker quiet(ComboBox1);
            ComboBox1->setEditText(found);
            ZComm1->SetPort(found);
        }
        Line->Open();
        if (ZComm1->Connected()) SendCommand('V', 0, 0);
        return;
    }
    // Another port came: perhaps the adapter, back under another name.
    QStringList serialOnes;
    for (const QString& name : appeared)
        if (isDevice(name)) serialOnes << name;
    if (serialOnes.isEmpty()) return;
    PortAppeared = QStringLiteral("A new port appeared: %1. If it is the ECU's adapter, pick it from the list.")
                       .arg(serialOnes.join(QStringLiteral(", ")));
    lblPortReason->setText(lblPortReason->text().section(QLatin1Char('\n'), 0, 0) + QLatin1Char('\n') + PortAppeared);
    lblPortReason->show();
}

void TForm1::Button8Click(QObject*)
{
    SaveDialog1.FolderKind = CalibrationFolder;
    SaveDialog1.Targets = [](const QString& chosen) {
        const QString image = calibration::ImageFileName(chosen);
        return QStringList{image, calibration::SideFileName(image)};
    };
    if (!SaveDialog1.Execute(this)) return;
    const QString imageFile = calibration::ImageFileName(SaveDialog1.FileName);
    // The image as held: an edit is in it once the ECU has echoed it, never before.
    // The raw text: the plain one turns no-break spaces into spaces.
    const QString failure = calibration::SaveCalibrationFiles(imageFile, EepromImage,
                                                              Memo1->document()->toRawText(), Memo1Format);
    if (failure.isEmpty()) return;
    StatusBar1->SetPanelText(3, ErrorOpeningFile);
    ui::ShowError(this, failure);   // the panel alone is overwritten by the next bad reply
}

void TForm1::Button7Click(QObject*)
{
    if (CalibrationWalkRunning()) return;
    OpenDialog1.FolderKind = CalibrationFolder;
    if (!OpenDialog1.Execute(this)) return;
    const QString imageFile = OpenDialog1.FileName;
    // Everything is read before anything changes: a calibration is shown and sent whole or not
    // at all, never as a patchwork of the file and the ECU.
    const calibration::CalibrationRead read = calibration::ReadCalibrationFiles(imageFile);
    switch (read.image.status) {
    case calibration::ImageFileRead::CannotOpen:
        StatusBar1->SetPanelText(3, ErrorOpeningFile);
        ui::ShowError(this, calibration::CannotOpenMessage(imageFile, read.image.reason));
        return;
    case calibration::ImageFileRead::WrongSize:
        ui::ShowError(this, calibration::WrongSizeMessage(imageFile, read.image.size));
        return;
    case calibration::ImageFileRead::Ok: break;
    }
    if (!read.description
        && !ui::Ask(this, calibration::MissingDescriptionQuestion(read.sideFile, read.descriptionReason),
                    QLatin1String(calibration::LoadWithoutDescription), QStringLiteral("Cancel")))
        return;
    UploadCalibrationRead(imageFile, read, QStringLiteral("before uploading %1").arg(QFileInfo(imageFile).fileName()));
}

void TForm1::TakeDescription(const calibration::CalibrationRead& read)
{
    Memo1->setPlainText(read.description.value_or(QString()));
    Memo1Format = read.description ? read.descriptionFormat : calibration::DescriptionFormat();
}

bool TForm1::ConfirmUpload(const QString& imageFile, const calibration::CalibrationRead& read)
{
    // Nothing goes to a running engine before the tuner has seen what it changes.
    if (ReadPending || !EcuAnswered)
        return ui::Ask(this, calibration::UploadBlindQuestion(imageFile), QStringLiteral("Upload"),
                       QStringLiteral("Cancel"));
    const calibration::ImageDifference difference =
        calibration::CompareWithEcu(read.image.image, [this](uint16_t address) { return EcuByte(address); });
    if (difference.Equal()) {
        // The ECU and the pages already hold the file; its description is the one thing to take.
        TakeDescription(read);
        ui::ShowInformation(this, calibration::UploadQuestion(imageFile, difference));
        return false;
    }
    return ui::Ask(this, calibration::UploadQuestion(imageFile, difference), QStringLiteral("Upload"),
                   QStringLiteral("Cancel"));
}

void TForm1::Button5Click(QObject*)
{
    TeachThrottleEnd(*this, calibration::ThrottleClosed, updownTPSZero, txtTPSZero);
}

void TForm1::Button6Click(QObject*)
{
    TeachThrottleEnd(*this, calibration::ThrottleOpen, updownTPSMax, txtTPSMax);
}
