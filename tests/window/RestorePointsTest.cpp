// Restore points against the simulated ECU: the points a read, an upload and edits leave, going
// back to one, a full disk, and the calibrations a saved log remembers.
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <csignal>

#include <sys/resource.h>

#include "calibration/RestorePoints.h"
#include "logging/LogViewer.h"
#include "tests/support/RawFiles.h"
#include "tests/window/CalibrationFixture.h"
#include "ui/Dialogs.h"
#include "ui/LogChart.h"
#include "ui/StatusBar.h"

namespace {

using calibration::EepromImage;
using calibration::RestorePoint;

EepromImage FromSim(const sim::Image& image)
{
    EepromImage out;
    std::copy(image.begin(), image.end(), out.begin());
    return out;
}

// A calibration unlike the simulator's: every byte moved by 3, the lock still valid.
EepromImage OtherImage()
{
    EepromImage image = FromSim(sim::EcuSim::DefaultImage());
    for (uint8_t& b : image) b = uint8_t(b + 3);
    image[calibration::LockAddress] = 20;
    return image;
}

int Differing(const EepromImage& a, const EepromImage& b)
{
    int n = 0;
    for (int i = 0; i < calibration::ImageSize; ++i) n += a[size_t(i)] != b[size_t(i)];
    return n;
}

// Runs `act` on the dialog of that name once it shows (modal: the test's code waits behind it).
void WhenShown(const QString& name, std::function<void(QDialog&)> act)
{
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, name, act] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(w);
            if (!dialog || dialog->objectName() != name || !dialog->isVisible()) continue;
            poll->stop();
            poll->deleteLater();
            act(*dialog);
            return;
        }
    });
    poll->start();
}

class RestorePointsTest : public CalibrationWindowTest {
protected:
    void SetUp() override
    {
        CalibrationWindowTest::SetUp();
        ui::SetQuestionHook([this](const QString& text, const QString& yes, const QString&) {
            questions << text;
            return yes == QStringLiteral("Upload") || yes == QLatin1String(ui::ReplaceAnswer);
        });
        ui::SetMessageHook([this](ui::MessageKind, const QString& text) { messages << text; });
        ui::SetFileDialogHook([this](ui::FileDialog&) -> std::optional<QString> { return answer; });
    }
    calibration::RestorePoints Points() const { return calibration::RestorePoints(); }
    // The points, newest first.
    std::vector<RestorePoint> List() const { return Points().List().points; }
    EepromImage ImageOf(const QString& name) const { return Points().Read(name).image.image; }
    void WriteCalibration(const QString& name, const EepromImage& image)
    {
        ASSERT_TRUE(WriteRaw(Path(name + ".qxe"), QByteArray(reinterpret_cast<const char*>(image.data()), 500)));
        ASSERT_TRUE(WriteRaw(Path(name + ".qxc"), "other\r\n"));
    }
    bool UploadDone() { return WaitFor([&] { return form->UploadActive == 0; }, 20000); }
    void Load(const QString& file)
    {
        answer = Path(file);
        form->Button7Click(form->Button7);
    }

    std::optional<QString> answer;
    QStringList questions, messages;
};

}  // namespace

// The calibration as found, before an upload, before the first edit of each burst and on
// closing: each point holds what the ECU held at that moment, and its summary is true.
TEST_F(RestorePointsTest, AReadAnUploadAndBurstsOfEditsLeaveTrueRestorePoints)
{
    ReadThenShow(calibration::PageSetup);
    ASSERT_TRUE(Points().Folder().startsWith(dir.path())) << "never the folder of the person running the tests";
    const EepromImage found = FromSim(ecu->Eeprom());
    std::vector<RestorePoint> points = List();
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].cause, QStringLiteral("after reading the ECU"));
    EXPECT_EQ(points[0].state, RestorePoint::State::Ok);
    EXPECT_TRUE(points[0].ecuVersion.startsWith(QStringLiteral("Version: "))) << points[0].ecuVersion.toStdString();
    EXPECT_EQ(calibration::SummaryText(points[0].summary), QStringLiteral("first point"));
    EXPECT_EQ(ImageOf(points[0].name), found);

    WriteCalibration(QStringLiteral("other"), OtherImage());
    Load(QStringLiteral("other.qxe"));
    ASSERT_TRUE(UploadDone());
    ASSERT_EQ(FromSim(ecu->Eeprom()), OtherImage());
    points = List();
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].cause, QStringLiteral("before uploading other.qxe"));
    EXPECT_EQ(calibration::SummaryText(points[0].summary), QStringLiteral("no change"));
    EXPECT_EQ(ImageOf(points[0].name), found);

    // A burst: one point before its first edit, none before the others.
    form->RestoreBurstTimer->setInterval(400);
    QLineEdit* idleFuel = form->SettingEdit.at(443);
    QLineEdit* idleSpeed = form->SettingEdit.at(445);
    TypeAndLeave(idleFuel, QStringLiteral("77"));
    TypeAndLeave(idleSpeed, QStringLiteral("66"));
    ASSERT_TRUE(WaitFor([&] { return ecu->Eeprom()[443] == 77 && ecu->Eeprom()[445] == 66; }));
    points = List();
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[0].cause, QStringLiteral("before edits"));
    EXPECT_EQ(ImageOf(points[0].name), OtherImage()) << "the calibration as it was before the burst";
    EXPECT_EQ(points[0].summary.bytes, Differing(found, OtherImage()));
    EXPECT_EQ(points[0].summary.against, points[1].name);

    // A pause longer than the burst's gap: the next edit keeps the two before it.
    Pump(600);
    TypeAndLeave(idleFuel, QStringLiteral("78"));
    ASSERT_TRUE(WaitFor([&] { return ecu->Eeprom()[443] == 78; }));
    points = List();
    ASSERT_EQ(points.size(), 4u);
    EXPECT_EQ(points[0].summary.bytes, 2);
    EXPECT_TRUE(points[0].summary.maps.isEmpty());
    EXPECT_EQ(points[0].summary.settings,
              (QStringList{QString::fromUtf8(calibration::AccessibleName(*calibration::SettingByAddress(443))),
                           QString::fromUtf8(calibration::AccessibleName(*calibration::SettingByAddress(445)))}));

    // Closing keeps what the last edit left in the ECU.
    form->close();
    points = List();
    ASSERT_EQ(points.size(), 5u);
    EXPECT_EQ(points[0].cause, QStringLiteral("on closing"));
    EXPECT_EQ(ImageOf(points[0].name), FromSim(ecu->Eeprom()));
    EXPECT_EQ(calibration::SummaryText(points[0].summary),
              QStringLiteral("1 byte: ") + QString::fromUtf8(calibration::AccessibleName(*calibration::SettingByAddress(443))));
}

// Going back: the list shows the points newest first with the folder's size; the chosen one is
// shown against the ECU, a point is kept first, and the ECU then holds the point's bytes.
TEST_F(RestorePointsTest, RestoringAPointPutsItsBytesInTheEcuAndCanBeUndone)
{
    ReadThenShow(calibration::PageSetup);
    const EepromImage found = FromSim(ecu->Eeprom());
    const QString asFound = List().at(0).name;
    TypeAndLeave(form->SettingEdit.at(443), QStringLiteral("91"));
    ASSERT_TRUE(WaitFor([&] { return ecu->Eeprom()[443] == 91; }));
    const EepromImage edited = FromSim(ecu->Eeprom());
    ASSERT_EQ(List().size(), 2u);
    ASSERT_TRUE(WriteRaw(Points().Folder() + "/notes.txt", "mine"));   // listed, never restored

    QStringList rows;
    QString folderText;
    WhenShown(QStringLiteral("RestorePointsDialog"), [&](QDialog& dialog) {
        auto* list = dialog.findChild<QListWidget*>(QStringLiteral("lstRestorePoints"));
        auto* restore = dialog.findChild<QPushButton*>(QStringLiteral("btnRestorePoint"));
        folderText = dialog.findChild<QLabel*>(QStringLiteral("lblRestoreFolder"))->text();
        for (int i = 0; i < list->count(); ++i) rows << list->item(i)->text();
        list->setCurrentRow(2);
        EXPECT_FALSE(restore->isEnabled());
        list->setCurrentRow(1);   // the older point: as found
        EXPECT_TRUE(restore->isEnabled());
        restore->click();
    });
    form->ButtonRestorePoints->click();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_TRUE(rows[0].contains(QStringLiteral("before edits"))) << rows[0].toStdString();
    EXPECT_TRUE(rows[1].contains(QStringLiteral("after reading the ECU"))) << rows[1].toStdString();
    EXPECT_EQ(rows[2], QStringLiteral("Not a restore point: notes.txt"));
    EXPECT_TRUE(folderText.startsWith(Points().Folder())) << folderText.toStdString();
    // The comparison before the upload names the setting with the ECU's value and the point's.
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains(QStringLiteral("91 \u2192 %1").arg(found[443]))) << questions[0].toStdString();
    ASSERT_TRUE(UploadDone());
    EXPECT_EQ(FromSim(ecu->Eeprom()), found);
    EXPECT_EQ(form->EepromImage, found);

    const std::vector<RestorePoint> points = List();
    ASSERT_EQ(points.size(), 4u);   // three points and the foreign file
    EXPECT_EQ(points[0].cause, QStringLiteral("before restoring ") + asFound);
    EXPECT_EQ(ImageOf(points[0].name), edited) << "the restore itself can be undone";
}

// A disk that takes no more refuses the point; the status bar says so, and the edit still
// reaches the ECU.
TEST_F(RestorePointsTest, ARefusedPointSaysSoAndTheWorkGoesOn)
{
    ReadThenShow(calibration::PageSetup);
    ASSERT_EQ(List().size(), 1u);
    rlimit was{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &was), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);   // a failed write, not a signal
    rlimit capped = was;
    capped.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
    TypeAndLeave(form->SettingEdit.at(443), QStringLiteral("55"));
    const QString panel = form->StatusBar1->PanelText(3);
    setrlimit(RLIMIT_FSIZE, &was);
    std::signal(SIGXFSZ, previous);

    EXPECT_TRUE(panel.startsWith(QStringLiteral("Restore point not kept: "))) << panel.toStdString();
    ASSERT_TRUE(WaitFor([&] { return ecu->Eeprom()[443] == 55; }));
    EXPECT_EQ(List().size(), 1u) << "nothing of the refused point is left";
    EXPECT_TRUE(messages.isEmpty()) << "no box stops the tuner";
}

// A log recorded across a file load: two stretches, each with the calibration it ran on. The
// log file is the one it always was; the side file names the points, and a loaded log offers
// both calibrations against the ECU.
TEST_F(RestorePointsTest, ALogRecordedAcrossAFileLoadKnowsBothCalibrations)
{
    ReadThenShow(calibration::PageGauges);
    form->PageControl1Change(form->PageControl1);   // the Gauges page polls
    const EepromImage found = FromSim(ecu->Eeprom());
    auto samples = [&] { return logging::SampleCount(*form->Chart10); };
    form->Button12->click();
    ASSERT_TRUE(WaitFor([&] { return samples() >= 3; }));
    WriteCalibration(QStringLiteral("other"), OtherImage());
    Load(QStringLiteral("other.qxe"));
    ASSERT_TRUE(UploadDone());
    const int boundary = samples();
    ASSERT_TRUE(WaitFor([&] { return samples() >= boundary + 3; }));
    form->Button13->click();
    const int total = samples();

    answer = Path("run");
    form->Button3Click(form->Button3);
    // The log file holds the samples and nothing else, byte for byte as the log format writes them.
    QByteArray expected;
    for (int i = 0; i < total; ++i) {
        for (int k = 0; k < form->Chart10->SeriesCount(); ++k)
            expected += QString::asprintf("%.2f\t", form->Chart10->YValue(k, i)).toLatin1();
        expected += "\r\n";
    }
    EXPECT_EQ(ReadRaw(Path("run.qxl")), expected);

    const QJsonObject side = QJsonDocument::fromJson(ReadRaw(Path("run.qxl.json"))).object();
    EXPECT_EQ(side.value(QStringLiteral("samples")).toInt(), total);
    const QJsonArray stretches = side.value(QStringLiteral("stretches")).toArray();
    ASSERT_EQ(stretches.size(), 2);
    const QJsonObject first = stretches[0].toObject(), second = stretches[1].toObject();
    EXPECT_EQ(first.value(QStringLiteral("first")).toInt(), 0);
    EXPECT_EQ(first.value(QStringLiteral("last")).toInt(), second.value(QStringLiteral("first")).toInt() - 1);
    EXPECT_LE(second.value(QStringLiteral("first")).toInt(), boundary);
    EXPECT_GE(second.value(QStringLiteral("first")).toInt(), 3);
    EXPECT_EQ(second.value(QStringLiteral("last")).toInt(), total - 1);
    const QString firstPoint = first.value(QStringLiteral("point")).toString();
    const QString secondPoint = second.value(QStringLiteral("point")).toString();
    EXPECT_EQ(ImageOf(firstPoint), found);
    EXPECT_EQ(ImageOf(secondPoint), OtherImage());
    EXPECT_EQ(first.value(QStringLiteral("sha256")).toString().toLatin1(), calibration::ImageChecksum(found));

    // Loaded again (into a fresh log): both calibrations, each against what the ECU holds now.
    form->Button12->click();
    form->Button13->click();
    EXPECT_FALSE(form->ButtonLogCalibration->isEnabled());
    answer = Path("run.qxl");
    form->Button4Click(form->Button4);
    ASSERT_EQ(samples(), total);
    ASSERT_TRUE(form->ButtonLogCalibration->isEnabled());
    QStringList rows, texts;
    WhenShown(QStringLiteral("LogCalibrationDialog"), [&](QDialog& dialog) {
        auto* list = dialog.findChild<QListWidget*>(QStringLiteral("lstLogStretches"));
        auto* text = dialog.findChild<QPlainTextEdit*>(QStringLiteral("txtLogCalibration"));
        for (int i = 0; i < list->count(); ++i) {
            list->setCurrentRow(i);
            rows << list->item(i)->text();
            texts << text->toPlainText();
        }
        dialog.findChild<QPushButton*>(QStringLiteral("btnLogCalibrationClose"))->click();
    });
    form->ButtonLogCalibration->click();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_TRUE(rows[0].contains(firstPoint)) << rows[0].toStdString();
    EXPECT_TRUE(rows[1].contains(secondPoint)) << rows[1].toStdString();
    EXPECT_TRUE(texts[0].contains(QStringLiteral("The ECU differs from this calibration in %1 of its 500 bytes")
                                      .arg(Differing(found, OtherImage()))))
        << texts[0].toStdString();
    EXPECT_TRUE(texts[1].contains(QStringLiteral("The ECU holds this calibration."))) << texts[1].toStdString();

    // A log that knows no calibration, saved over this one, takes the old side file with it:
    // it would name the calibrations of another log.
    ASSERT_TRUE(WriteRaw(Path("plain.qxl"), "1.00\t2.00\t3.00\t4.00\t5.00\t6.00\t7.00\t8.00\t9.00\t10.00\t11.00\t12.00\t13.00\t14.00\t\r\n"));
    answer = Path("plain.qxl");
    form->Button4Click(form->Button4);
    ASSERT_EQ(samples(), 1);
    EXPECT_FALSE(form->ButtonLogCalibration->isEnabled());
    answer = Path("run.qxl");
    form->Button3Click(form->Button3);
    EXPECT_EQ(ReadRaw(Path("run.qxl")), ReadRaw(Path("plain.qxl")));
    EXPECT_FALSE(QFile::exists(Path("run.qxl.json")));
}
