// A calibration on disk: the image file, exactly the 500 bytes of the image, and its side
// file of the same base name holding the description's lines. Names, encodings, reading and
// writing; the window decides what to show and what to send.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include "calibration/ImageLayout.h"

namespace calibration {

// The name an image is saved under: the chosen name, with ".qxe" added unless it already ends
// in exactly ".qxe" (case matters: "tune.QXE" becomes "tune.QXE.qxe").
QString ImageFileName(const QString& chosen);

// The side file beside an image file: its name without the last four characters, plus ".qxc"
// ("tune.qxe" and "tune.bin" both give "tune.qxc").
QString SideFileName(const QString& imageFile);

// How a side file was written, so that a description loaded and saved again gives back the same
// bytes: its encoding, a byte order mark before the text, its line end and whether the last line
// had one. The default is a new description's: CR LF after every line, encoding as below.
struct DescriptionFormat {
    enum class Encoding { Windows1252, Utf8 };
    std::optional<Encoding> encoding;   // none: the file held only ASCII, or there was no file
    bool byteOrderMark = false;         // UTF-8 only
    QByteArray lineEnd = "\r\n";
    bool finalLineEnd = true;
};

// The description's text as side file bytes, one line per line of the text.
// A new description (no encoding in the format) is written in Windows-1252 so that the file
// reads right in Windows tools; in UTF-8 when the text holds a character Windows-1252 cannot,
// or when its Windows-1252 bytes would read back as UTF-8: either way the text loads back
// exactly. A description read as Windows-1252 stays Windows-1252 while every character fits,
// under the same proviso; one read as UTF-8 stays UTF-8, with its byte order mark.
QByteArray EncodeDescription(const QString& text, const DescriptionFormat& format = {});

// Side file bytes as the description's text: UTF-8 when the bytes are valid UTF-8 to the last
// one (a leading byte order mark taken off the text and noted in the format), otherwise
// Windows-1252 whole, whose bytes A0 to FF are Latin-1's. Lines end at CR LF, LF or CR; a final
// line end makes no empty last line. The lines are joined by '\n'.
QString DecodeDescription(const QByteArray& bytes, DescriptionFormat* format = nullptr);

// Windows-1252 both ways. Encoding gives false when a character has no byte. The five bytes
// the code page leaves unassigned decode to the control characters of the same number, the
// way Windows reads them, and encode back to themselves.
bool EncodeWindows1252(const QString& text, QByteArray* out);
QString DecodeWindows1252(const QByteArray& bytes);

// A description file holds at most this; a bigger one is refused before anything changes (it
// would hold the window while it is read, and no tuner's notes run to a megabyte).
inline constexpr qint64 MaxDescriptionBytes = qint64(1) << 20;

// Saves the image and its description as a pair: both files get their new contents, or both stay
// as they were. An empty message when saved; otherwise the words that tell the tuner which file
// failed and why.
QString SaveCalibrationFiles(const QString& imageFile, const EepromImage& image, const QString& description,
                             const DescriptionFormat& format = {});

struct ImageFileRead {
    enum Status {
        Ok,
        CannotOpen,  // missing, unreadable, or no regular file (a pipe would block the window)
        WrongSize,   // not a calibration image: it would upload a mix of two calibrations, or a
                     // log file picked by mistake into the ECU's memory
    } status = CannotOpen;
    EepromImage image{};   // Ok only
    qint64 size = 0;       // the file's size in bytes (WrongSize)
    QString reason;        // CannotOpen
};
ImageFileRead ReadImageFile(const QString& path);

// The words that tell the tuner why a file was not loaded.
QString WrongSizeMessage(const QString& path, qint64 size);
QString CannotOpenMessage(const QString& path, const QString& reason);

// The side file's text; false and the reason when it is missing, unreadable, no regular file or
// larger than MaxDescriptionBytes.
bool ReadDescriptionFile(const QString& path, QString* text, QString* reason, DescriptionFormat* format = nullptr);

// A calibration as read from disk, before the window changes anything: the image, and the
// description unless it could not be read.
struct CalibrationRead {
    ImageFileRead image;
    QString sideFile;
    std::optional<QString> description;   // read only when the image is Ok
    DescriptionFormat descriptionFormat;  // how it was written, for the next save
    QString descriptionReason;
};
CalibrationRead ReadCalibrationFiles(const QString& imageFile);

// The question asked when the description could not be read, and its answer that goes on.
QString MissingDescriptionQuestion(const QString& sideFile, const QString& reason);
inline constexpr const char* LoadWithoutDescription = "Load without a description";

}  // namespace calibration
