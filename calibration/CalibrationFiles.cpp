#include "calibration/CalibrationFiles.h"

#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <optional>

#include "base/RegularFile.h"
#include "base/SaveFile.h"

namespace calibration {

namespace {

// Bytes 0x80 to 0x9F of Windows-1252; 0 marks the five unassigned ones.
constexpr char16_t HighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t Windows1252ToUnicode(uint8_t byte)
{
    if (byte < 0x80 || byte > 0x9F) return byte;
    const char16_t mapped = HighControls[byte - 0x80];
    return mapped ? mapped : char16_t(byte);
}

std::optional<uint8_t> UnicodeToWindows1252(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return uint8_t(c);
    for (int i = 0; i < 32; ++i) {
        const char16_t mapped = HighControls[i];
        if (mapped == c || (mapped == 0 && c == 0x80 + i)) return uint8_t(0x80 + i);
    }
    return std::nullopt;
}

bool IsValidUtf8(const QByteArray& bytes, QString* text)
{
    QStringDecoder decoder(QStringConverter::Utf8);   // drops a leading byte order mark
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError()) return false;
    *text = std::move(decoded);
    return true;
}

QStringList LinesOf(const QString& text)
{
    // The editor's line ends, however they came in, are lines of the file.
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normal.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    normal.replace(QChar(QChar::LineSeparator), QLatin1Char('\n'));
    normal.replace(QChar(QChar::ParagraphSeparator), QLatin1Char('\n'));
    if (normal.isEmpty()) return {};
    return normal.split(QLatin1Char('\n'));
}

}  // namespace

QString ImageFileName(const QString& chosen)
{
    if (chosen.endsWith(QStringLiteral(".qxe"), Qt::CaseSensitive)) return chosen;
    return chosen + QStringLiteral(".qxe");
}

QString SideFileName(const QString& imageFile)
{
    return imageFile.left(qMax<qsizetype>(0, imageFile.size() - 4)) + QStringLiteral(".qxc");
}

bool EncodeWindows1252(const QString& text, QByteArray* out)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        const std::optional<uint8_t> byte = UnicodeToWindows1252(c.unicode());
        if (!byte) return false;
        bytes.append(char(*byte));
    }
    *out = std::move(bytes);
    return true;
}

QString DecodeWindows1252(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char b : bytes) text.append(QChar(Windows1252ToUnicode(uint8_t(b))));
    return text;
}

QByteArray EncodeDescription(const QString& text)
{
    QString joined;
    for (const QString& line : LinesOf(text)) joined += line + QStringLiteral("\r\n");

    QByteArray ansi;
    if (EncodeWindows1252(joined, &ansi)) {
        // Windows-1252 bytes that also read as UTF-8 would come back as other characters
        // ("Ã©" as "é"); only pure ASCII reads the same both ways.
        QString asUtf8;
        const bool ascii = std::none_of(ansi.cbegin(), ansi.cend(), [](char c) { return uint8_t(c) >= 0x80; });
        if (ascii || !IsValidUtf8(ansi, &asUtf8)) return ansi;
    }
    return joined.toUtf8();
}

QString DecodeDescription(const QByteArray& bytes)
{
    QString text;
    if (!IsValidUtf8(bytes, &text)) text = DecodeWindows1252(bytes);
    QStringList lines = LinesOf(text);
    // A line end closes its line; it does not open an empty one after it.
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    return lines.join(QLatin1Char('\n'));
}

QString SaveCalibrationFiles(const QString& imageFile, const EepromImage& image, const QString& description)
{
    const QString sideFile = SideFileName(imageFile);
    const QByteArray side = EncodeDescription(description);
    if (side.size() > MaxDescriptionBytes) {
        return QStringLiteral("The calibration was not saved: its description takes %1 bytes, more than "
                              "the %2 bytes (1 MiB) a description file may hold. Nothing was written.")
            .arg(side.size())
            .arg(MaxDescriptionBytes);
    }
    const base::PairSave saved = base::SaveFilePair(
        imageFile, QByteArray(reinterpret_cast<const char*>(image.data()), ImageSize), sideFile, side);
    if (saved.ok) return {};
    QString message = QStringLiteral("The calibration was not saved: \"%1\" could not be written: %2.")
                          .arg(saved.failedPath, saved.reason);
    if (saved.firstChanged)
        return message + QStringLiteral("\n\n\"%1\" has changed and could not be put back; \"%2\" is as it was.")
                             .arg(imageFile, sideFile);
    return message + QStringLiteral("\n\n\"%1\" and \"%2\" are as they were.").arg(imageFile, sideFile);
}

ImageFileRead ReadImageFile(const QString& path)
{
    ImageFileRead result;
    const base::FileBytes file = base::ReadRegularFile(path, ImageSize);
    switch (file.status) {
    case base::FileBytes::CannotOpen:
    case base::FileBytes::ReadFailed: result.reason = file.reason; return result;
    case base::FileBytes::TooLarge: break;
    case base::FileBytes::Ok:
        if (file.size != ImageSize) break;
        std::memcpy(result.image.data(), file.bytes.constData(), ImageSize);
        result.status = ImageFileRead::Ok;
        return result;
    }
    result.status = ImageFileRead::WrongSize;
    result.size = file.size;
    return result;
}

QString WrongSizeMessage(const QString& path, qint64 size)
{
    return QStringLiteral("%1 was not loaded: it holds %2 %3, and a calibration image is "
                          "exactly %4 bytes. Nothing was changed and nothing was sent to the ECU.")
        .arg(path)
        .arg(size)
        .arg(size == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"))
        .arg(ImageSize);
}

QString CannotOpenMessage(const QString& path, const QString& reason)
{
    return QStringLiteral("%1 was not loaded: %2. Nothing was changed and nothing was sent to the ECU.")
        .arg(path, reason);
}

bool ReadDescriptionFile(const QString& path, QString* text, QString* reason)
{
    const base::FileBytes file = base::ReadRegularFile(path, MaxDescriptionBytes);
    switch (file.status) {
    case base::FileBytes::CannotOpen:
    case base::FileBytes::ReadFailed: *reason = file.reason; return false;
    case base::FileBytes::TooLarge:
        *reason = QStringLiteral("It holds %1 bytes, and a description file holds at most %2 (1 MiB)")
                      .arg(file.size)
                      .arg(MaxDescriptionBytes);
        return false;
    case base::FileBytes::Ok: break;
    }
    *text = DecodeDescription(file.bytes);
    return true;
}

CalibrationRead ReadCalibrationFiles(const QString& imageFile)
{
    CalibrationRead read;
    read.image = ReadImageFile(imageFile);
    read.sideFile = SideFileName(imageFile);
    if (read.image.status != ImageFileRead::Ok) return read;
    QString text;
    if (ReadDescriptionFile(read.sideFile, &text, &read.descriptionReason)) read.description = text;
    return read;
}

QString MissingDescriptionQuestion(const QString& sideFile, const QString& reason)
{
    return QStringLiteral("The description file %1 could not be read: %2.\n\n"
                          "Load the calibration without a description? The Description box will be "
                          "emptied and the calibration sent to the ECU. Cancel leaves everything as it is.")
        .arg(sideFile, reason);
}

}  // namespace calibration
