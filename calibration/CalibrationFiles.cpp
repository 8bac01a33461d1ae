#include "calibration/CalibrationFiles.h"

#include <QRegularExpression>
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

// UTF-8 as its standard defines it, to the last byte: no sequence cut short, no overlong form,
// no surrogate, nothing beyond U+10FFFF. A file that fails anywhere is no UTF-8 file.
bool IsUtf8(const QByteArray& bytes)
{
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
    const size_t n = size_t(bytes.size());
    for (size_t i = 0; i < n;) {
        const uint8_t c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        const size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (length == 0 || n - i < length) return false;
        uint32_t code = c & (0x7Fu >> length);
        for (size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i + k] & 0x3Fu);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF)))
            || (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += length;
    }
    return true;
}

bool IsAscii(const QByteArray& bytes)
{
    return std::none_of(bytes.cbegin(), bytes.cend(), [](char c) { return uint8_t(c) >= 0x80; });
}

const QByteArray ByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");

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

QByteArray EncodeDescription(const QString& text, const DescriptionFormat& format)
{
    const QString lineEnd = QString::fromLatin1(format.lineEnd);
    const QStringList lines = LinesOf(text);
    QString joined = lines.join(lineEnd);
    if (!lines.isEmpty() && format.finalLineEnd) joined += lineEnd;

    using Encoding = DescriptionFormat::Encoding;
    if (format.encoding != Encoding::Utf8) {
        QByteArray ansi;
        // Windows-1252 bytes that also read as UTF-8 would come back as other characters
        // ("Ã©" as "é"); only pure ASCII reads the same both ways.
        if (EncodeWindows1252(joined, &ansi) && (IsAscii(ansi) || !IsUtf8(ansi))) return ansi;
        return joined.toUtf8();
    }
    return (format.byteOrderMark ? ByteOrderMark : QByteArray()) + joined.toUtf8();
}

QString DecodeDescription(const QByteArray& bytes, DescriptionFormat* format)
{
    DescriptionFormat found;
    QString text;
    if (IsUtf8(bytes)) {
        found.byteOrderMark = bytes.startsWith(ByteOrderMark);
        const QByteArray body = found.byteOrderMark ? bytes.mid(ByteOrderMark.size()) : bytes;
        text = QString::fromUtf8(body);
        if (found.byteOrderMark || !IsAscii(body)) found.encoding = DescriptionFormat::Encoding::Utf8;
    } else {
        text = DecodeWindows1252(bytes);
        found.encoding = DescriptionFormat::Encoding::Windows1252;
    }
    // The first line end found stands for all; a file without one is a single open line.
    const qsizetype end = text.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    if (end >= 0)
        found.lineEnd = text.at(end) == QLatin1Char('\n') ? QByteArrayLiteral("\n")
                        : text.mid(end, 2) == QStringLiteral("\r\n") ? QByteArrayLiteral("\r\n")
                                                                      : QByteArrayLiteral("\r");
    found.finalLineEnd = text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'));
    if (format) *format = found;
    QStringList lines = LinesOf(text);
    // A line end closes its line; it does not open an empty one after it.
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    return lines.join(QLatin1Char('\n'));
}

QString SaveCalibrationFiles(const QString& imageFile, const EepromImage& image, const QString& description,
                             const DescriptionFormat& format)
{
    const QString sideFile = SideFileName(imageFile);
    const QByteArray side = EncodeDescription(description, format);
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
    // "As it was" is said only of a file that is.
    if (!saved.firstChanged && !saved.secondChanged)
        return message + QStringLiteral("\n\n\"%1\" and \"%2\" are as they were.").arg(imageFile, sideFile);
    const QString imageState = saved.firstChanged ? QStringLiteral("\"%1\" has changed and could not be put back")
                                             : QStringLiteral("\"%1\" is as it was");
    const QString sideState = saved.secondChanged ? QStringLiteral("\"%2\" was being written in place and may now be incomplete")
                                             : QStringLiteral("\"%2\" is as it was");
    return message + QStringLiteral("\n\n") + (imageState + QStringLiteral("; ") + sideState + QLatin1Char('.')).arg(imageFile, sideFile);
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

bool ReadDescriptionFile(const QString& path, QString* text, QString* reason, DescriptionFormat* format)
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
    *text = DecodeDescription(file.bytes, format);
    return true;
}

CalibrationRead ReadCalibrationFiles(const QString& imageFile)
{
    CalibrationRead read;
    read.image = ReadImageFile(imageFile);
    read.sideFile = SideFileName(imageFile);
    if (read.image.status != ImageFileRead::Ok) return read;
    QString text;
    if (ReadDescriptionFile(read.sideFile, &text, &read.descriptionReason, &read.descriptionFormat))
        read.description = text;
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
