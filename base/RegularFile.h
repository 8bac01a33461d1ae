// Opening a file the user picked, for reading, without ever waiting on something that is not a
// file. Opening a named pipe for reading waits for a writer, and reading a device may never
// end; either would freeze the window. So the path is opened without waiting and anything but a
// regular file (a link to one is fine) is refused at once, with words the user can act on.
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace base {

// Why a path of this type is no file to read or write: "It is a folder", "It is a named pipe,
// not a file", ... Empty for a regular file.
QString NotAFileReason(mode_t mode);

// The system's words for an errno value ("Permission denied").
QString SystemReason(int err);

// Opens a regular file for reading; the descriptor, or -1 and the reason. `size` receives the
// file's size when given.
int OpenRegularFile(const QString& path, QString* reason, qint64* size = nullptr);

// A whole file, read only when it is a regular file of at most `limit` bytes.
struct FileBytes {
    enum Status { Ok, CannotOpen, TooLarge, ReadFailed };
    Status status = CannotOpen;
    QByteArray bytes;   // Ok only
    qint64 size = 0;    // the file's size (Ok, TooLarge)
    QString reason;     // CannotOpen, ReadFailed
};
FileBytes ReadRegularFile(const QString& path, qint64 limit);

}  // namespace base
