// The Setup page: settings, throttle calibration, description, calibration files, port box.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include "app/Mainform.h"
#include "calibration/CalibrationFiles.h"
#include "calibration/ThrottleCalibration.h"
#include "ecu/LineOwner.h"
#include "ecu/Threadedtimer.h"
#include "ui/Beep.h"
#include "ui/Dialogs.h"
#include "ui/PageControl.h"
#include "ui/StatusBar.h"

namespace {

QSettings UserSettings() { return QSettings(QStringLiteral("Quenrix"), QStringLiteral("Quenrix IO")); }

const QString ErrorOpeningFile = QStringLiteral("Status- error opening file");

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
    BuildSettingRow(449, acc, {10, 78}, SettingLabels::Left, 62);

    // The raw throttle reading the end points are taught from; the Gauges page made the box.
    QGroupBox* pot = Make<QGroupBox>(page, QStringLiteral("POT"), "GroupBoxPot", {568, 6, 90, 56});
    txtPOT->setParent(pot);
    txtPOT->setGeometry(12, 24, 64, 21);
    txtPOT->setAccessibleName(QStringLiteral("POT"));
    txtPOT->show();

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
    auto* memoLayout = new QVBoxLayout(description);
    memoLayout->setContentsMargins(8, 4, 8, 8);
    memoLayout->addWidget(Memo1);

    // The calibration file: image and description together.
    Button7 = Make<QPushButton>(page, QStringLiteral("Load"), "Button7", {540, 226, 96, 28});
    Button8 = Make<QPushButton>(page, QStringLiteral("Save"), "Button8", {540, 262, 96, 28});
    connect(Button7, &QPushButton::clicked, this, [this] { Button7Click(Button7); });
    connect(Button8, &QPushButton::clicked, this, [this] { Button8Click(Button8); });
    // Reading all 500 bytes back after an upload costs about as long again as the upload;
    // off at first start, remembered once chosen.
    CheckBox15 = Make<QCheckBox>(page, QStringLiteral("Verify every upload"), "CheckBox15", {540, 298, 240, 24});
    VerifyEveryUpload = UserSettings().value(QStringLiteral("link/verifyEveryUpload"), false).toBool();
    CheckBox15->setChecked(VerifyEveryUpload);
    connect(CheckBox15, &QCheckBox::toggled, this, [this](bool on) {
        VerifyEveryUpload = on;
        UserSettings().setValue(QStringLiteral("link/verifyEveryUpload"), on);
    });

    auto* portGroup = new QGroupBox(QStringLiteral("Port"), page);
    portGroup->setObjectName(QStringLiteral("grpPort"));
    auto* row = new QHBoxLayout(portGroup);
    auto* label = new QLabel(QStringLiteral("Serial port:"), portGroup);
    label->setBuddy(ComboBox1);
    row->addWidget(label);
    row->addWidget(ComboBox1, 1);
    portGroup->setGeometry(540, 490, 242, 56);
}

void TForm1::Button8Click(QObject*)
{
    if (!SaveDialog1.Execute(this)) return;
    const QString imageFile = calibration::ImageFileName(SaveDialog1.FileName);
    // The image as held: an edit is in it once the ECU has echoed it, never before.
    const QString failure = calibration::SaveCalibrationFiles(imageFile, EepromImage, Memo1->toPlainText());
    if (failure.isEmpty()) return;
    StatusBar1->SetPanelText(3, ErrorOpeningFile);
    ui::ShowError(this, failure);   // the panel alone is overwritten by the next bad reply
}

void TForm1::Button7Click(QObject*)
{
    // One walk at a time: a calibration loaded while the ECU's is still being read, or while
    // another is being uploaded, would be mixed with it.
    const bool reading = Line->Has(exchange::JobKind::Read);
    if (reading || Line->Has(exchange::JobKind::Upload)) {
        ui::ShowInformation(this, reading
                                      ? QStringLiteral("The ECU's calibration is still being read. "
                                                       "Load the file when the read has finished.")
                                      : QStringLiteral("A calibration is still being uploaded to the ECU. "
                                                       "Load the file when the upload has finished."));
        return;
    }
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

    EepromImage = read.image.image;
    Button10Click(nullptr);
    Memo1->setPlainText(read.description.value_or(QString()));
    StartUpload();
}

void TForm1::Button5Click(QObject*)
{
    TeachThrottleEnd(*this, calibration::ThrottleClosed, updownTPSZero, txtTPSZero);
}

void TForm1::Button6Click(QObject*)
{
    TeachThrottleEnd(*this, calibration::ThrottleOpen, updownTPSMax, txtTPSMax);
}
