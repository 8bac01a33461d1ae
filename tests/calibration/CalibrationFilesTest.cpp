#include "calibration/CalibrationFiles.h"
#include "calibration/ImageDiff.h"
#include "tests/support/RawFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace calibration;

namespace {

}  // namespace

TEST(CalibrationFileNames, ExtensionIsAddedUnlessExactlyQxe)
{
    EXPECT_EQ(ImageFileName("/t/tune"), "/t/tune.qxe");
    EXPECT_EQ(ImageFileName("/t/tune.qxe"), "/t/tune.qxe");
    EXPECT_EQ(ImageFileName("/t/tune.QXE"), "/t/tune.QXE.qxe");   // case-sensitive
    EXPECT_EQ(ImageFileName("/t/tune.qxc"), "/t/tune.qxc.qxe");
    EXPECT_EQ(ImageFileName("/t/tune.qxe.bak"), "/t/tune.qxe.bak.qxe");
}

TEST(CalibrationFileNames, SideFileDropsTheLastFourCharacters)
{
    EXPECT_EQ(SideFileName("/t/tune.qxe"), "/t/tune.qxc");
    EXPECT_EQ(SideFileName("/t/tune.bin"), "/t/tune.qxc");
    EXPECT_EQ(SideFileName("/t/tune.QXE.qxe"), "/t/tune.QXE.qxc");
    EXPECT_EQ(SideFileName("/t/tune.jpeg"), "/t/tune..qxc");   // four characters, not the extension
    EXPECT_EQ(SideFileName("abc"), ".qxc");
}

TEST(CalibrationDescription, Windows1252WithCrLfLineEnds)
{
    EXPECT_EQ(EncodeDescription("Memo1"), QByteArray("Memo1\r\n"));
    EXPECT_EQ(EncodeDescription(""), QByteArray());
    EXPECT_EQ(EncodeDescription("a\nb"), QByteArray("a\r\nb\r\n"));
    EXPECT_EQ(EncodeDescription("a\n"), QByteArray("a\r\n\r\n"));   // the empty last line is kept
    // Latin-1 letters and the characters Windows-1252 puts at 0x80..0x9F: one byte each.
    EXPECT_EQ(EncodeDescription(QString::fromUtf8("Ignition Trim \u00BA caf\u00E9 \u20AC5 \u2013")),
              QByteArray("Ignition Trim \xBA caf\xE9 \x80" "5 \x96\r\n"));
}

TEST(CalibrationDescription, TextWindows1252CannotHoldIsSavedAsUtf8)
{
    const QString greek = QString::fromUtf8("\u0394P boost \u2265 1.2 bar, caf\u00E9");
    const QByteArray saved = EncodeDescription(greek);
    EXPECT_EQ(saved, (greek + "\r\n").toUtf8());
    EXPECT_EQ(DecodeDescription(saved), greek);
}

TEST(CalibrationDescription, EveryTextComesBackExactly)
{
    const QString texts[] = {
        "Memo1",
        "",
        "two\nlines",
        "trailing\n",
        "\n\nblank lines\n\n",
        QString::fromUtf8("caf\u00E9 \u00BA \u20AC \u0178"),
        QString::fromUtf8("\u00C3\u00A9"),   // its Windows-1252 bytes C3 A9 are UTF-8 for U+00E9
        QString::fromUtf8("\u65E5\u672C"),
        QString(QChar(0x81)) + QChar(0x8D) + QChar(0x8F) + QChar(0x90) + QChar(0x9D),
    };
    for (const QString& text : texts)
        EXPECT_EQ(DecodeDescription(EncodeDescription(text)), text) << text.toStdString();
}

TEST(CalibrationDescription, LoadingTakesUtf8OrElseWindows1252)
{
    EXPECT_EQ(DecodeDescription(QByteArray("caf\xC3\xA9\r\n")), QString::fromUtf8("caf\u00E9"));
    EXPECT_EQ(DecodeDescription(QByteArray("caf\xE9\r\n")), QString::fromUtf8("caf\u00E9"));
    EXPECT_EQ(DecodeDescription(QByteArray("\x80\x93x\x94")), QString::fromUtf8("\u20AC\u201Cx\u201D"));
    EXPECT_EQ(DecodeDescription(QByteArray("\xEF\xBB\xBFwith mark")), QString("with mark"));
    // Line ends of any kind; a final one opens no empty line.
    EXPECT_EQ(DecodeDescription(QByteArray("a\r\nb\nc\rd\r\n")), QString("a\nb\nc\nd"));
    EXPECT_EQ(DecodeDescription(QByteArray("no end")), QString("no end"));
    EXPECT_EQ(DecodeDescription(QByteArray()), QString());
}

TEST(CalibrationDescription, Windows1252Table)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b) all.append(char(b));
    const QString text = DecodeWindows1252(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(text[0x80], QChar(0x20AC));
    EXPECT_EQ(text[0x8A], QChar(0x0160));
    EXPECT_EQ(text[0x99], QChar(0x2122));
    EXPECT_EQ(text[0x9F], QChar(0x0178));
    EXPECT_EQ(text[0xA0], QChar(0x00A0));
    EXPECT_EQ(text[0xFF], QChar(0x00FF));
    QByteArray back;
    ASSERT_TRUE(EncodeWindows1252(text, &back));
    EXPECT_EQ(back, all);   // all 256 bytes survive, the five unassigned ones too
    EXPECT_FALSE(EncodeWindows1252(QString(QChar(0x0080)), &back));   // 0x80 is the euro sign
    EXPECT_FALSE(EncodeWindows1252(QString(QChar(0x0394)), &back));
}

TEST(CalibrationImageFile, OnlyExactlyFiveHundredBytesLoad)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QByteArray image;
    for (int i = 0; i < ImageSize; ++i) image.append(char(i * 13 % 256));

    ASSERT_TRUE(WriteRaw(dir.filePath("ok.qxe"), image));
    const ImageFileRead ok = ReadImageFile(dir.filePath("ok.qxe"));
    ASSERT_EQ(ok.status, ImageFileRead::Ok);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(ok.image.data()), ImageSize), image);

    for (int size : {0, 1, 499, 501, 100000}) {
        const QString path = dir.filePath(QString("size%1").arg(size));
        QByteArray bytes = image.left(size);
        while (bytes.size() < size) bytes.append('x');
        ASSERT_TRUE(WriteRaw(path, bytes));
        const ImageFileRead read = ReadImageFile(path);
        EXPECT_EQ(read.status, ImageFileRead::WrongSize) << size;
        EXPECT_EQ(read.size, size);
    }
    EXPECT_EQ(ReadImageFile(dir.filePath("missing.qxe")).status, ImageFileRead::CannotOpen);
    EXPECT_EQ(ReadImageFile(dir.path()).status, ImageFileRead::CannotOpen);   // a folder

    const QString message = WrongSizeMessage("/t/run.qxl", 1234);
    EXPECT_TRUE(message.contains("/t/run.qxl"));
    EXPECT_TRUE(message.contains("1234 bytes"));
    EXPECT_TRUE(message.contains("exactly 500 bytes"));
}

TEST(CalibrationFilesSave, ImageAndDescriptionChangeTogetherOrNotAtAll)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EepromImage image{};
    for (int i = 0; i < ImageSize; ++i) image[std::size_t(i)] = uint8_t(i * 7);
    const QByteArray imageBytes(reinterpret_cast<const char*>(image.data()), ImageSize);
    const QString qxe = dir.filePath("tune.qxe");
    const QString qxc = dir.filePath("tune.qxc");
    ASSERT_EQ(SaveCalibrationFiles(qxe, image, "first"), QString());
    EXPECT_EQ(ReadRaw(qxe), imageBytes);
    EXPECT_EQ(ReadRaw(qxc), QByteArray("first\r\n"));

    EepromImage other = image;
    other[10] = 99;
    // A description that would not load back is not written, and neither is its image.
    const QString failure = SaveCalibrationFiles(qxe, other, QString(int(MaxDescriptionBytes), QLatin1Char('x')));
    EXPECT_TRUE(failure.contains("1 MiB")) << failure.toStdString();
    EXPECT_EQ(ReadRaw(qxe), imageBytes);
    EXPECT_EQ(ReadRaw(qxc), QByteArray("first\r\n"));

    // A name as long as a file name may be (255 bytes with its extension) saves both files.
    const QString longName = dir.filePath(QString(251, QLatin1Char('n')) + ".qxe");
    ASSERT_EQ(SaveCalibrationFiles(longName, other, "long"), QString());
    EXPECT_EQ(ReadRaw(longName).at(10), char(99));
    EXPECT_EQ(ReadRaw(SideFileName(longName)), QByteArray("long\r\n"));
    QStringList hidden = QDir(dir.path()).entryList({".*"}, QDir::Files | QDir::Hidden);
    EXPECT_TRUE(hidden.isEmpty()) << hidden.join(' ').toStdString();   // no temporary left over
}

TEST(CalibrationFilesLoad, EverythingIsReadFirstAndOnlyRegularFilesAreRead)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString qxe = dir.filePath("tune.qxe");
    ASSERT_TRUE(WriteRaw(qxe, QByteArray(ImageSize, '\x05')));
    ASSERT_TRUE(WriteRaw(dir.filePath("tune.qxc"), "line one\r\ncaf\xE9\r\n"));
    CalibrationRead read = ReadCalibrationFiles(qxe);
    ASSERT_EQ(read.image.status, ImageFileRead::Ok);
    EXPECT_EQ(read.image.image[499], 5);
    ASSERT_TRUE(read.description);
    EXPECT_EQ(*read.description, QString::fromUtf8("line one\ncaf\u00E9"));

    // No description: the image is read all the same, and the reason is kept for the question.
    QFile::remove(dir.filePath("tune.qxc"));
    read = ReadCalibrationFiles(qxe);
    EXPECT_EQ(read.image.status, ImageFileRead::Ok);
    EXPECT_FALSE(read.description);
    EXPECT_EQ(read.sideFile, dir.filePath("tune.qxc"));
    EXPECT_TRUE(read.descriptionReason.contains("No such file")) << read.descriptionReason.toStdString();
    EXPECT_TRUE(MissingDescriptionQuestion(read.sideFile, read.descriptionReason).contains(read.sideFile));

    // A description past 1 MiB is refused unread.
    ASSERT_TRUE(WriteRaw(dir.filePath("tune.qxc"), QByteArray(int(MaxDescriptionBytes) + 1, 'x')));
    read = ReadCalibrationFiles(qxe);
    EXPECT_FALSE(read.description);
    EXPECT_TRUE(read.descriptionReason.contains("1048577 bytes")) << read.descriptionReason.toStdString();
    ASSERT_TRUE(WriteRaw(dir.filePath("tune.qxc"), QByteArray(int(MaxDescriptionBytes), 'x')));
    EXPECT_TRUE(ReadCalibrationFiles(qxe).description);

    // Named pipes, which no one writes: refused at once instead of waiting for a writer.
    QFile::remove(dir.filePath("tune.qxc"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("tune.qxc")).constData(), 0644), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("pipe.qxe")).constData(), 0644), 0);
    read = ReadCalibrationFiles(qxe);
    EXPECT_FALSE(read.description);
    EXPECT_TRUE(read.descriptionReason.contains("named pipe")) << read.descriptionReason.toStdString();
    read = ReadCalibrationFiles(dir.filePath("pipe.qxe"));
    EXPECT_EQ(read.image.status, ImageFileRead::CannotOpen);
    EXPECT_TRUE(read.image.reason.contains("named pipe"));
    EXPECT_FALSE(read.description) << "nothing more is read once the image is refused";
    EXPECT_TRUE(CannotOpenMessage("/t/p.qxe", read.image.reason).contains("/t/p.qxe"));
}

// A byte the ECU's value is not known of (never read, a write never confirmed) counts as a
// difference and says so; a byte of no map or setting is named by its address.
TEST(ImageDifference, UnknownBytesDifferAndEveryByteIsAccountedFor)
{
    calibration::EepromImage file{};
    file[104] = 7;   // "RPM Fuel" column 0
    const auto ecu = [](uint16_t a) -> std::optional<uint8_t> {
        if (a == 5 || a == 431) return std::nullopt;
        return 0;
    };
    const calibration::ImageDifference d = calibration::CompareWithEcu(file, ecu);
    EXPECT_EQ(d.addresses, (std::vector<uint16_t>{5, 104, 431}));
    EXPECT_EQ(d.unknown, 2);
    ASSERT_EQ(d.maps.size(), 1u);
    EXPECT_EQ(d.maps[0].map->number, 4);
    EXPECT_EQ(d.maps[0].columns, std::vector<int>{0});
    ASSERT_EQ(d.settings.size(), 1u);
    EXPECT_EQ(d.settings[0].setting->address, 431);
    EXPECT_FALSE(d.settings[0].ecuValue.has_value());
    EXPECT_EQ(d.others, std::vector<uint16_t>{5});
    const QString q = calibration::UploadQuestion("/tmp/a.qxe", d);
    EXPECT_TRUE(q.startsWith("a.qxe changes 3 of the ECU's 500 bytes (2 of them the ECU's value is not known):"))
        << q.toStdString();
    EXPECT_TRUE(q.contains("Inj Dead Time: not known \u2192 0")) << q.toStdString();
    EXPECT_TRUE(q.contains("RPM Fuel: the cell at 250")) << q.toStdString();

    EXPECT_TRUE(calibration::CompareWithEcu(file, [&](uint16_t a) { return std::optional<uint8_t>(file[a]); }).Equal());
}
