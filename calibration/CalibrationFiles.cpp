#include "calibration/CalibrationFiles.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <optional>

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

bool WriteFileWhole(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    // Unbuffered: a buffered save file flushes on commit and takes a short write there (a
    // full disk) for success, which would put a cut-off file in place of the old one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
    if (file.write(bytes) != bytes.size() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

ImageFileRead ReadImageFile(const QString& path)
{
    ImageFileRead result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return result;
    // One byte more than an image tells a longer file without reading a whole log into memory.
    const QByteArray bytes = file.read(ImageSize + 1);
    result.size = qMax<qint64>(file.size(), bytes.size());
    if (bytes.size() != ImageSize || result.size != ImageSize) {
        result.status = ImageFileRead::WrongSize;
        return result;
    }
    std::memcpy(result.image.data(), bytes.constData(), ImageSize);
    result.status = ImageFileRead::Ok;
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

bool ReadDescriptionFile(const QString& path, QString* text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return false;
    *text = DecodeDescription(bytes);
    return true;
}

}  // namespace calibration
