// Calibration files and throttle teaching against the simulated ECU: saving, loading and
// uploading a calibration, the files that are refused, and the throttle end points.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <csignal>
#include <deque>
#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "calibration/ImageLayout.h"
#include "ecu/Threadedtimer.h"
#include "tests/support/RawFiles.h"
#include "tests/window/WindowFixture.h"
#include "ui/Beep.h"
#include "ui/Dialogs.h"
#include "ui/PageControl.h"
#include "ui/StatusBar.h"
#include "ui/StringGrid.h"

namespace {

QByteArray AsBytes(const calibration::EepromImage& image)
{
    return QByteArray(reinterpret_cast<const char*>(image.data()), calibration::ImageSize);
}

class CalibrationFilesTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ASSERT_TRUE(WaitForReadComplete());
        // Off the Gauges page: no polling, so the frames seen are the calibration's own.
        form->PageControl1->SetActivePageIndex(calibration::PageSetup);
        form->PageControl1Change(form->PageControl1);
        Pump(40);   // a polling tick already handed to the window still runs once: let it pass
        ui::SetFileDialogHook([this](ui::FileDialog& dialog) -> std::optional<QString> {
            dialogs.push_back({dialog.Save(), dialog.FilterIndex, dialog.InitialDir});
            return answer;
        });
        ui::SetMessageHook([this](ui::MessageKind kind, const QString& text) {
            (kind == ui::MessageKind::Error ? errors : prompts) << text;
            if (onPrompt) onPrompt();
        });
        ui::SetQuestionHook([this](const QString& text, const QString& yes, const QString& no) {
            if (yes == QStringLiteral("Upload")) {   // what a loaded file changes in the ECU
                uploadQuestions << text;
                return answerUpload;
            }
            questions << text;
            answers = {yes, no};
            return answerYes;
        });
    }
    void Save(const QString& name)
    {
        answer = name;
        form->Button8Click(form->Button8);
    }
    void Load(const QString& name)
    {
        answer = name;
        form->Button7Click(form->Button7);
    }
    std::vector<sim::Command> FramesSince(size_t mark, int waitMs = 150)
    {
        Pump(waitMs);
        return ReceivedSince(mark);
    }
    // A calibration unlike the simulator's: every byte moved by 3, the lock still valid.
    static sim::Image OtherImage()
    {
        sim::Image image = sim::EcuSim::DefaultImage();
        for (int a = 0; a < 500; ++a) image[std::size_t(a)] = uint8_t(image[std::size_t(a)] + 3);
        image[454] = 20;
        return image;
    }

    struct Shown {
        bool save;
        int filterIndex;
        QString initialDir;
    };
    std::vector<Shown> dialogs;
    std::optional<QString> answer;
    QStringList errors, prompts, questions;
    QStringList answers;   // the captions of the last question's two buttons
    bool answerYes = false;
    QStringList uploadQuestions;
    bool answerUpload = true;
    std::function<void()> onPrompt;
};

TEST_F(CalibrationFilesTest, SavedFilesHoldTheImageAndTheDescription)
{
    form->Memo1->setPlainText(QStringLiteral("Road car, 98 RON\nbase map"));
    Save(Path("tune"));
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_TRUE(dialogs[0].save);
    EXPECT_EQ(dialogs[0].filterIndex, 1);
    EXPECT_EQ(ReadRaw(Path("tune.qxe")), AsBytes(form->EepromImage));
    EXPECT_EQ(ReadRaw(Path("tune.qxc")), QByteArray("Road car, 98 RON\r\nbase map\r\n"));

    answerYes = true;   // replace them
    Save(Path("tune.qxe"));   // the same two files, nothing else
    EXPECT_EQ(questions.size(), 1);
    EXPECT_FALSE(QFileInfo::exists(Path("tune.qxe.qxe")));
    Save(Path("tune.QXE"));
    EXPECT_EQ(ReadRaw(Path("tune.QXE.qxe")).size(), 500);
    EXPECT_EQ(ReadRaw(Path("tune.QXE.qxc")), QByteArray("Road car, 98 RON\r\nbase map\r\n"));
    QStringList files = QDir(dir.path()).entryList(QDir::Files);
    files.removeAll(QStringLiteral("COM1"));
    files.sort();
    EXPECT_EQ(files, (QStringList{"tune.QXE.qxc", "tune.QXE.qxe", "tune.qxc", "tune.qxe"}));

    // Cancelling writes nothing; the calibration operations leave the dialog's filter alone.
    form->SaveDialog1.FilterIndex = 2;
    answer.reset();
    form->Button8Click(form->Button8);
    EXPECT_EQ(dialogs.back().filterIndex, 2);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 5);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(CalibrationFilesTest, ALoadedFileIsShownUploadedAndEndsEqualInTheEcu)
{
    const sim::Image other = OtherImage();
    ASSERT_TRUE(WriteRaw(Path("other.qxe"), QByteArray(reinterpret_cast<const char*>(other.data()), 500)));
    ASSERT_TRUE(WriteRaw(Path("other.qxc"), QByteArray("Track day\r\ncaf\xE9\r\n")));

    const size_t mark = Mark();
    Load(Path("other.qxe"));
    ASSERT_FALSE(dialogs.at(0).save);
    EXPECT_EQ(form->UploadActive, 1);
    EXPECT_EQ(form->Memo1->toPlainText(), QString::fromUtf8("Track day\ncaf\u00E9"));
    // Shown at once, before the ECU has it.
    EXPECT_EQ(form->MapGrid[4]->Cells(0, 1), QString::number(other[104]));

    ASSERT_TRUE(WaitFor([&] { return form->UploadActive == 0; }, 10000));
    const std::vector<sim::Command> frames = Distinct(ReceivedSince(mark));
    ASSERT_EQ(frames.size(), 500u);
    EXPECT_EQ(frames[0].letter, 'W');
    EXPECT_EQ(frames[0].address, 0);
    EXPECT_EQ(frames[0].data, other[0]);
    for (int a = 0; a < 500; ++a) ASSERT_EQ(frames[std::size_t(a)].address, a);
    // Done, and said so: not the idle link's text.
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- upload complete"));
    EXPECT_EQ(ecu->Eeprom(), other);
    EXPECT_EQ(AsBytes(form->EepromImage), QByteArray(reinterpret_cast<const char*>(other.data()), 500));

    // Load, then save: the same bytes again.
    Save(Path("again"));
    EXPECT_EQ(ReadRaw(Path("again.qxe")), ReadRaw(Path("other.qxe")));
    EXPECT_EQ(ReadRaw(Path("again.qxc")), ReadRaw(Path("other.qxc")));
}

TEST_F(CalibrationFilesTest, ALoadSaysWhatItChangesAndCancelSendsNothing)
{
    // 37 bytes unlike the ECU: nine cells of "RPM Fuel", one of "Full Load Advance", every cell of
    // "Air Temp Advance", ten settings and one byte of neither.
    const calibration::EepromImage held = form->EepromImage;
    calibration::EepromImage file = held;
    for (int a = 116; a <= 124; ++a) file[std::size_t(a)] = uint8_t(file[std::size_t(a)] + 5);
    file[25] = uint8_t(file[25] + 1);
    for (int a = 236; a <= 251; ++a) file[std::size_t(a)] = uint8_t(file[std::size_t(a)] + 2);
    for (int a = 433; a <= 442; ++a) file[std::size_t(a)] = uint8_t(file[std::size_t(a)] + 1);
    file[300] = uint8_t(file[300] + 1);
    ASSERT_TRUE(WriteRaw(Path("new.qxe"), AsBytes(file)));
    ASSERT_TRUE(WriteRaw(Path("new.qxc"), QByteArray("new\r\n")));
    const QString memo = form->Memo1->toPlainText();
    const QString cell = form->MapGrid[4]->Cells(12, 1);
    const QString setting = form->SettingEdit.at(433)->text();

    // Cancel: not the ECU, not a page, not the description.
    answerUpload = false;
    size_t mark = Mark();
    Load(Path("new.qxe"));
    ASSERT_EQ(uploadQuestions.size(), 1);
    const QString q = uploadQuestions[0];
    EXPECT_TRUE(q.contains("new.qxe changes 37 of the ECU's 500 bytes:")) << q.toStdString();
    EXPECT_TRUE(q.contains("RPM Fuel: 9 cells")) << q.toStdString();
    EXPECT_TRUE(q.contains("Full Load Advance: the cell at " + form->MapGrid[7]->Cells(5, 0))) << q.toStdString();
    EXPECT_TRUE(q.contains("Air Temp Advance: every cell")) << q.toStdString();
    EXPECT_TRUE(q.contains("other bytes at 300")) << q.toStdString();
    const calibration::SettingLayout& s = *calibration::SettingByAddress(433);
    EXPECT_TRUE(q.contains(QStringLiteral("%1: %2 \u2192 %3")
                               .arg(QString::fromUtf8(calibration::AccessibleName(s)))
                               .arg(calibration::ShownValue(s.encoding, held[433]))
                               .arg(calibration::ShownValue(s.encoding, file[433]))))
        << q.toStdString();
    EXPECT_FALSE(q.contains("Start Fuel add on")) << "an unchanged map is not named";
    EXPECT_TRUE(FramesSince(mark).empty());
    EXPECT_EQ(form->EepromImage, held);
    EXPECT_EQ(form->MapGrid[4]->Cells(12, 1), cell);
    EXPECT_EQ(form->SettingEdit.at(433)->text(), setting);
    EXPECT_EQ(form->Memo1->toPlainText(), memo);
    EXPECT_EQ(form->UploadActive, 0);

    // Upload: the ECU ends holding the file.
    answerUpload = true;
    Load(Path("new.qxe"));
    ASSERT_EQ(uploadQuestions.size(), 2);
    ASSERT_TRUE(WaitFor([&] { return form->UploadActive == 0; }, 10000));
    EXPECT_EQ(ecu->Eeprom(), file);

    // The same file again: nothing to send, and the box says so.
    mark = Mark();
    Load(Path("new.qxe"));
    EXPECT_EQ(uploadQuestions.size(), 2);
    ASSERT_EQ(prompts.size(), 1);
    EXPECT_EQ(prompts[0], "new.qxe holds the same calibration as the ECU: there is nothing to upload.");
    EXPECT_TRUE(FramesSince(mark).empty());
    EXPECT_TRUE(errors.isEmpty());
}

// A description is the tuner's own words in whatever their editor wrote: loaded and saved again
// it gives back every byte, whatever the encoding, byte order mark, line ends or last byte.
TEST_F(CalibrationFilesTest, ADescriptionLoadedAndSavedKeepsEveryByte)
{
    const sim::Image other = OtherImage();
    const QByteArray image(reinterpret_cast<const char*>(other.data()), 500);
    const std::pair<QByteArray, QString> files[] = {
        {"Notes by Ren\xe9", QString::fromUtf8("Notes by Ren\u00e9")},   // Latin-1, no line end
        {"\xEF\xBB\xBF" "Caf\xC3\xA9 \xE2\x82\xAC\n2nd\n", QString::fromUtf8("Caf\u00e9 \u20ac\n2nd")},
        {"Stra\xdf" "e\xa0" "5\r\n\r\n", QString::fromUtf8("Stra\u00dfe\u00a05\n")},   // no-break space
        {"cut short \xC3", QString::fromUtf8("cut short \u00c3")},   // not UTF-8 to its last byte
    };
    int n = 0;
    for (const auto& [bytes, text] : files) {
        SCOPED_TRACE(n);
        const QString name = Path(QString("in%1").arg(n));
        ASSERT_TRUE(WriteRaw(name + ".qxe", image));
        ASSERT_TRUE(WriteRaw(name + ".qxc", bytes));
        Load(name + ".qxe");
        EXPECT_EQ(form->Memo1->toPlainText().replace(QChar(0xa0), ' '), QString(text).replace(QChar(0xa0), ' '));
        ASSERT_TRUE(WaitFor([&] { return form->UploadActive == 0; }, 10000));
        Save(Path(QString("out%1").arg(n)));
        EXPECT_EQ(ReadRaw(Path(QString("out%1.qxc").arg(n))), bytes);
        ++n;
    }
    // Read as Latin-1, it stays Latin-1 while every character fits, and becomes UTF-8 once one
    // does not.
    Load(Path("in0.qxe"));
    ASSERT_TRUE(WaitFor([&] { return form->UploadActive == 0; }, 10000));
    form->Memo1->setPlainText(QString::fromUtf8("Notes by Ren\u00e9, \u00bd turn"));
    Save(Path("fits"));
    EXPECT_EQ(ReadRaw(Path("fits.qxc")), QByteArray("Notes by Ren\xe9, \xbd turn"));
    form->Memo1->setPlainText(QString::fromUtf8("Notes by Ren\u00e9 \u2192 Anna"));
    Save(Path("grown"));
    EXPECT_EQ(ReadRaw(Path("grown.qxc")), QByteArray("Notes by Ren\xC3\xA9 \xE2\x86\x92 Anna"));
    EXPECT_TRUE(errors.isEmpty()) << errors.join("\n").toStdString();
}

TEST_F(CalibrationFilesTest, AMissingDescriptionIsAskedAboutBeforeAnythingChanges)
{
    const sim::Image other = OtherImage();
    ASSERT_TRUE(WriteRaw(Path("tune.bin"), QByteArray(reinterpret_cast<const char*>(other.data()), 500)));
    const sim::Image before = ecu->Eeprom();
    const calibration::EepromImage image = form->EepromImage;
    const QString cell = form->MapGrid[7]->Cells(5, 1);

    // Cancel: the ECU, the image, every page and the description as they were.
    size_t mark = Mark();
    Load(Path("tune.bin"));
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains(Path("tune.qxc"))) << questions[0].toStdString();
    EXPECT_TRUE(questions[0].contains("No such file")) << questions[0].toStdString();
    EXPECT_EQ(answers, (QStringList{"Load without a description", "Cancel"}));
    EXPECT_EQ(form->EepromImage, image);
    EXPECT_EQ(form->MapGrid[7]->Cells(5, 1), cell);
    EXPECT_EQ(form->Memo1->toPlainText(), QStringLiteral("Memo1"));
    EXPECT_EQ(form->UploadActive, 0);
    EXPECT_TRUE(FramesSince(mark).empty());
    EXPECT_EQ(ecu->Eeprom(), before);
    EXPECT_TRUE(errors.isEmpty());

    // Loaded without a description: shown, sent whole, the description box emptied.
    answerYes = true;
    mark = Mark();
    Load(Path("tune.bin"));
    EXPECT_EQ(questions.size(), 2);
    EXPECT_EQ(form->MapGrid[7]->Cells(5, 1), QString::number(other[25]));
    EXPECT_EQ(form->Memo1->toPlainText(), QString());
    ASSERT_TRUE(WaitFor([&] { return form->UploadActive == 0; }, 10000));
    EXPECT_EQ(Distinct(ReceivedSince(mark)).size(), 500u);   // a step sent again on a slow echo counts once
    EXPECT_EQ(ecu->Eeprom(), other);

    // tune.bin finds tune.qxc too, and then nothing is asked.
    ASSERT_TRUE(WriteRaw(Path("tune.qxc"), QByteArray("from bin\r\n")));
    Load(Path("tune.bin"));
    EXPECT_EQ(questions.size(), 2);
    EXPECT_EQ(form->Memo1->toPlainText(), QStringLiteral("from bin"));
    ASSERT_TRUE(WaitFor([&] { return form->UploadActive == 0; }, 10000));
}

TEST_F(CalibrationFilesTest, FilesThatAreNotACalibrationImageAreRefused)
{
    const calibration::EepromImage image = form->EepromImage;
    const QString cell = form->MapGrid[4]->Cells(3, 1);
    QByteArray log = "RPM\tTPS\n";
    while (log.size() < 4000) log += "2500.00\t12.00\t3.10\t20.00\n";
    const std::vector<std::pair<QString, QByteArray>> files = {
        {Path("short.qxe"), QByteArray(499, '\x01')},
        {Path("long.qxe"), QByteArray(501, '\x01')},
        {Path("run.qxl"), log},
    };
    for (const auto& [name, bytes] : files) {
        ASSERT_TRUE(WriteRaw(name, bytes));
        ASSERT_TRUE(WriteRaw(name.left(name.size() - 4) + ".qxc", "x\r\n"));   // a description is there
        errors.clear();
        const size_t mark = Mark();
        Load(name);
        ASSERT_EQ(errors.size(), 1) << name.toStdString();
        EXPECT_TRUE(errors[0].contains(name));
        EXPECT_TRUE(errors[0].contains(QString::number(bytes.size()) + " bytes"));
        EXPECT_TRUE(errors[0].contains("exactly 500 bytes"));
        EXPECT_EQ(form->EepromImage, image);
        EXPECT_EQ(form->MapGrid[4]->Cells(3, 1), cell);
        EXPECT_EQ(form->Memo1->toPlainText(), QStringLiteral("Memo1"));
        EXPECT_EQ(form->UploadActive, 0);
        EXPECT_TRUE(FramesSince(mark).empty());
    }

    // A file that cannot be opened, or is no file: the status bar and a box say so, nothing
    // else happens.
    ASSERT_EQ(::mkfifo(Path("pipe.qxe").toLocal8Bit().constData(), 0644), 0);
    for (const auto& [name, reason] : {std::pair{"missing.qxe", "No such file"}, std::pair{"pipe.qxe", "named pipe"}}) {
        errors.clear();
        const size_t mark = Mark();
        Load(Path(name));
        EXPECT_EQ(form->StatusBar1->PanelText(3), QStringLiteral("Status- error opening file"));
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains(Path(name))) << errors[0].toStdString();
        EXPECT_TRUE(errors[0].contains(reason)) << errors[0].toStdString();
        EXPECT_EQ(form->EepromImage, image);
        EXPECT_TRUE(FramesSince(mark).empty());
    }
    EXPECT_TRUE(questions.isEmpty());
}

TEST_F(CalibrationFilesTest, ASaveThatCannotBeWrittenLeavesTheOldFilesAsTheyWere)
{
    answerYes = true;   // replace the files that are there
    ASSERT_TRUE(QDir(dir.path()).mkdir("locked"));
    const QString image = Path("locked/tune.qxe");
    const QString side = Path("locked/tune.qxc");
    ASSERT_TRUE(WriteRaw(image, QByteArray(500, '\x07')));
    ASSERT_TRUE(WriteRaw(side, "old\r\n"));
    // Files the user may not write, in a folder they may not write either.
    ASSERT_EQ(chmod(image.toLocal8Bit().constData(), 0444), 0);
    ASSERT_EQ(chmod(side.toLocal8Bit().constData(), 0444), 0);
    ASSERT_EQ(chmod(Path("locked").toLocal8Bit().constData(), 0555), 0);
    ASSERT_EQ(chmod(dir.path().toLocal8Bit().constData(), 0711), 0);
    {
        // Root writes anywhere; run the save as nobody to meet a folder it cannot write.
        const uid_t was = geteuid();
        if (was == 0) {
            ASSERT_EQ(seteuid(65534), 0);
        }
        Save(image);
        if (was == 0) {
            ASSERT_EQ(seteuid(was), 0);
        }
    }
    chmod(Path("locked").toLocal8Bit().constData(), 0755);
    chmod(dir.path().toLocal8Bit().constData(), 0700);
    EXPECT_EQ(form->StatusBar1->PanelText(3), QStringLiteral("Status- error opening file"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(image)) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains("Permission denied")) << errors[0].toStdString();
    EXPECT_EQ(ReadRaw(image), QByteArray(500, '\x07'));
    EXPECT_EQ(ReadRaw(side), QByteArray("old\r\n"));
    EXPECT_EQ(QDir(Path("locked")).entryList(QDir::Files | QDir::Hidden).size(), 2);   // no temporary left over

    // A description that cannot be written, made read-only or a folder: the image is not saved
    // either, so image and description always belong together.
    const QByteArray oldImage(500, '\x09');
    ASSERT_TRUE(WriteRaw(Path("tune.qxe"), oldImage));
    ASSERT_TRUE(WriteRaw(Path("tune.qxc"), "read-only\r\n"));
    ASSERT_EQ(chmod(Path("tune.qxc").toLocal8Bit().constData(), 0444), 0);
    ASSERT_TRUE(WriteRaw(Path("blocked.qxe"), oldImage));
    ASSERT_TRUE(QDir(dir.path()).mkdir("blocked.qxc"));
    errors.clear();
    Save(Path("tune"));
    Save(Path("blocked"));
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[0].contains(Path("tune.qxc") + "\" could not be written: The file is read-only"))
        << errors[0].toStdString();
    EXPECT_TRUE(errors[1].contains(Path("blocked.qxc") + "\" could not be written: It is a folder"))
        << errors[1].toStdString();
    EXPECT_EQ(ReadRaw(Path("tune.qxe")), oldImage);
    EXPECT_EQ(ReadRaw(Path("tune.qxc")), QByteArray("read-only\r\n"));
    EXPECT_EQ(ReadRaw(Path("blocked.qxe")), oldImage);
}

// A disk that fills up part-way through a file: the write fails after some bytes went out.
TEST_F(CalibrationFilesTest, AWriteThatFailsPartWayLeavesTheOldFileWhole)
{
    answerYes = true;   // replace the files that are there
    const QByteArray oldImage(500, '\x07');
    ASSERT_TRUE(WriteRaw(Path("tune.qxe"), oldImage));
    ASSERT_TRUE(WriteRaw(Path("tune.qxc"), "old description\r\n"));
    form->Memo1->setPlainText(QString(700, QLatin1Char('d')));

    const auto saveWithFileSizeLimit = [&](rlim_t limit) {
        rlimit was{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &was), 0);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);   // a failed write, not a signal
        rlimit capped = was;
        capped.rlim_cur = limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
        Save(Path("tune"));
        setrlimit(RLIMIT_FSIZE, &was);
        std::signal(SIGXFSZ, previous);
    };

    saveWithFileSizeLimit(100);   // the image itself fails
    EXPECT_EQ(form->StatusBar1->PanelText(3), QStringLiteral("Status- error opening file"));
    EXPECT_EQ(ReadRaw(Path("tune.qxe")), oldImage);
    EXPECT_EQ(ReadRaw(Path("tune.qxc")), QByteArray("old description\r\n"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(Path("tune.qxe") + "\" could not be written: File too large"))
        << errors[0].toStdString();

    saveWithFileSizeLimit(600);   // the image fits, the description does not: neither changes
    EXPECT_EQ(ReadRaw(Path("tune.qxe")), oldImage);
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[1].contains(Path("tune.qxc") + "\" could not be written: File too large"))
        << errors[1].toStdString();
    EXPECT_EQ(ReadRaw(Path("tune.qxc")), QByteArray("old description\r\n"));
    QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    files.sort();
    EXPECT_EQ(files, (QStringList{"COM1", "tune.qxc", "tune.qxe"}));   // no temporary left over
}

TEST_F(CalibrationFilesTest, TeachingTheClosedThrottleStoresShowsAndSendsTheReading)
{
    size_t mark = Mark();
    bool pollingDuringPrompt = false;
    bool polledDuringPrompt = false;
    onPrompt = [&] {
        // The tuner takes a moment; live polling goes on meanwhile.
        pollingDuringPrompt = form->ThreadedTimer1->Enabled();
        polledDuringPrompt = WaitFor([&] {
            for (const sim::Command& c : ReceivedSince(mark))
                if (c.letter >= 'A' && c.letter <= 'H') return true;
            return false;
        }, 5000);
        form->txtPOT->setText(QStringLiteral("23"));
    };
    form->Button5Click(form->Button5);
    ASSERT_EQ(prompts, QStringList{"Release throttle!\n Then press OK"});
    EXPECT_TRUE(pollingDuringPrompt);
    EXPECT_TRUE(polledDuringPrompt);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled());
    EXPECT_EQ(form->EepromImage[450], 23);
    EXPECT_EQ(form->txtTPSZero->text(), QStringLiteral("23"));
    EXPECT_EQ(form->updownTPSZero->Position(), 23);
    std::vector<sim::Command> writes;
    for (const sim::Command& c : Distinct(FramesSince(mark)))   // a write retried on a slow reply is one write
        if (c.letter == 'W') writes.push_back(c);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 450);
    EXPECT_EQ(writes[0].data, 23);

    // Open throttle, before the read has completed: stored and shown, not sent.
    form->ReadPending = 1;
    mark = Mark();
    onPrompt = [&] { form->txtPOT->setText(QStringLiteral("230")); };
    form->Button6Click(form->Button6);
    EXPECT_EQ(prompts.back(), QStringLiteral("Push throttle to maximum!\n Then press OK"));
    EXPECT_EQ(form->EepromImage[451], 230);
    EXPECT_EQ(form->txtTPSMax->text(), QStringLiteral("230"));
    for (const sim::Command& c : FramesSince(mark)) EXPECT_NE(c.letter, 'W');
}

TEST_F(CalibrationFilesTest, AThrottleReadingThatIsNotAByteIsNotTaught)
{
    const uint8_t before = form->EepromImage[451];
    const QString shown = form->txtTPSMax->text();
    for (const char* reading : {"300", "-4"}) {
        onPrompt = [&] { form->txtPOT->setText(QString::fromLatin1(reading)); };
        const int beeps = ui::BeepCount();
        const size_t mark = Mark();
        form->Button6Click(form->Button6);
        EXPECT_EQ(ui::BeepCount(), beeps + 1) << reading;
        EXPECT_EQ(form->EepromImage[451], before) << reading;
        EXPECT_EQ(form->txtTPSMax->text(), shown);
        for (const sim::Command& c : FramesSince(mark)) EXPECT_NE(c.letter, 'W');
    }
    // Not a number at all: quietly nothing, and polling is off after the prompt all the same.
    form->ThreadedTimer1->SetEnabled(true);
    onPrompt = [&] { form->txtPOT->setText(QString()); };
    const int beeps = ui::BeepCount();
    form->Button6Click(form->Button6);
    EXPECT_EQ(ui::BeepCount(), beeps);
    EXPECT_EQ(form->EepromImage[451], before);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled());
}

TEST_F(CalibrationFilesTest, EverySaveAsksBeforeReplacingAndNoOrCancelLeaveTheDiskAsItWas)
{
    // Each showing of a dialog takes the next name; nullopt is Cancel.
    std::deque<std::optional<QString>> names;
    int shown = 0;
    ui::SetFileDialogHook([&](ui::FileDialog&) -> std::optional<QString> {
        ++shown;
        if (names.empty()) return std::nullopt;
        const std::optional<QString> name = names.front();
        names.pop_front();
        return name;
    });
    const auto listing = [this] {
        QStringList files;
        for (const QFileInfo& f : QDir(dir.path()).entryInfoList(QDir::Files | QDir::NoSymLinks))   // not COM1
            files << f.fileName() + QLatin1Char(' ') + ReadRaw(f.filePath()).toHex();
        return files;
    };
    const QByteArray old("a drive worth keeping\n");   // 22 bytes
    struct Case {
        const char* typed;      // the name as typed, without its extension
        const char* existing;   // the file that name will write
        std::function<void()> save;
    };
    const Case cases[] = {
        {"drive1", "drive1.qxl", [this] { form->Button3Click(form->Button3); }},
        {"tune", "tune.qxe", [this] { form->Button8Click(form->Button8); }},
        {"drive1", "drive1.csv", [this] { form->Button14Click(form->Button14); }},
    };
    for (const Case& c : cases) {
        const QString existing = Path(QLatin1String(c.existing));
        ASSERT_TRUE(WriteRaw(existing, old));
        QFile touch(existing);
        ASSERT_TRUE(touch.open(QIODevice::ReadWrite));
        ASSERT_TRUE(touch.setFileTime(QDateTime::currentDateTime().addSecs(-2 * 3600 - 60), QFileDevice::FileModificationTime));
        touch.close();
        const QStringList before = listing();

        // No brings the dialog back; cancelled there, nothing is written.
        questions.clear();
        answerYes = false;
        names = {Path(QLatin1String(c.typed)), std::nullopt};
        shown = 0;
        c.save();
        EXPECT_EQ(shown, 2) << c.existing;
        ASSERT_EQ(questions.size(), 1) << c.existing;
        EXPECT_TRUE(questions[0].contains(QLatin1Char('"') + QLatin1String(c.existing) + QLatin1Char('"'))) << questions[0].toStdString();
        EXPECT_TRUE(questions[0].contains(QStringLiteral("22 bytes"))) << questions[0].toStdString();
        EXPECT_TRUE(questions[0].contains(QStringLiteral("2 hours ago"))) << questions[0].toStdString();
        EXPECT_EQ(answers, (QStringList{QStringLiteral("Replace"), QStringLiteral("Choose another name")}));
        EXPECT_EQ(listing(), before) << c.existing;

        // Cancel in the dialog asks nothing and writes nothing.
        names = {std::nullopt};
        c.save();
        EXPECT_EQ(questions.size(), 1);
        EXPECT_EQ(listing(), before) << c.existing;

        // Replace: the file is the program's now.
        answerYes = true;
        names = {Path(QLatin1String(c.typed))};
        c.save();
        EXPECT_EQ(questions.size(), 2) << c.existing;
        EXPECT_NE(ReadRaw(existing), old) << c.existing;
        EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    }
}

TEST_F(CalibrationFilesTest, DialogsOpenWhereTheUserLastWorkedOnThatKindOfFileAndFirstInDocuments)
{
    // A home of the test's own, with no desktop folders configured in it.
    const QByteArray home = qgetenv("HOME"), config = qgetenv("XDG_CONFIG_HOME");
    const bool hadConfig = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    struct Restore {
        std::function<void()> run;
        ~Restore() { run(); }
    } restore{[&] {
        qputenv("HOME", home);
        if (hadConfig) qputenv("XDG_CONFIG_HOME", config);
        else qunsetenv("XDG_CONFIG_HOME");
    }};
    const QString fakeHome = Path(QStringLiteral("home"));
    const QString documents = fakeHome + QStringLiteral("/Documents");
    ASSERT_TRUE(QDir().mkpath(documents));
    qputenv("HOME", QFile::encodeName(fakeHome));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(fakeHome + QStringLiteral("/.config")));
    for (const char* folder : {"cals", "logs", "csv"}) ASSERT_TRUE(QDir().mkpath(Path(QLatin1String(folder))));

    // First start: Documents for every kind.
    const auto opened = [this](const std::optional<QString>& name, void (TForm1::*handler)(QObject*)) {
        answer = name;
        (form.get()->*handler)(nullptr);
        return dialogs.back().initialDir;
    };
    EXPECT_EQ(opened(Path(QStringLiteral("cals/tune")), &TForm1::Button8Click), documents);
    EXPECT_EQ(opened(Path(QStringLiteral("logs/run")), &TForm1::Button3Click), documents);
    EXPECT_EQ(opened(Path(QStringLiteral("csv/run")), &TForm1::Button14Click), documents);
    ASSERT_TRUE(QFileInfo::exists(Path(QStringLiteral("cals/tune.qxe"))));

    // Then each kind where it was last saved, loads included; in this run and the next.
    EXPECT_EQ(opened(std::nullopt, &TForm1::Button7Click), Path(QStringLiteral("cals")));
    EXPECT_EQ(opened(std::nullopt, &TForm1::Button4Click), Path(QStringLiteral("logs")));
    EXPECT_EQ(opened(std::nullopt, &TForm1::Button14Click), Path(QStringLiteral("csv")));
    form.reset();
    StartWindow();
    ASSERT_TRUE(WaitForReadComplete());   // a load waits for the read
    EXPECT_EQ(opened(std::nullopt, &TForm1::Button8Click), Path(QStringLiteral("cals")));
    EXPECT_EQ(opened(std::nullopt, &TForm1::Button3Click), Path(QStringLiteral("logs")));

    // A folder that has gone gives way to Documents, and Documents gone to home.
    ASSERT_TRUE(QDir(Path(QStringLiteral("cals"))).removeRecursively());
    EXPECT_EQ(opened(std::nullopt, &TForm1::Button7Click), documents);
    ASSERT_TRUE(QDir(documents).removeRecursively());
    EXPECT_EQ(opened(std::nullopt, &TForm1::Button8Click), fakeHome);
    EXPECT_EQ(opened(std::nullopt, &TForm1::Button4Click), Path(QStringLiteral("logs")));
}

}  // namespace
