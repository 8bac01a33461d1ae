#include "base/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace base {

QString NotAFileReason(mode_t mode)
{
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return QStringLiteral("It is a folder");
    if (S_ISFIFO(mode)) return QStringLiteral("It is a named pipe, not a file");
    if (S_ISSOCK(mode)) return QStringLiteral("It is a socket, not a file");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("It is a device, not a file");
    return QStringLiteral("It is not a regular file");
}

QString SystemReason(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

int OpenRegularFile(const QString& path, QString* reason, qint64* size)
{
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK: a pipe with no writer opens at once instead of waiting for one; for a regular
    // file it changes nothing. O_NOCTTY: a terminal named here must not become ours.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *reason = SystemReason(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        *reason = SystemReason(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        *reason = NotAFileReason(st.st_mode);
        ::close(fd);
        return -1;
    }
    if (size) *size = qint64(st.st_size);
    return fd;
}

FileBytes ReadRegularFile(const QString& path, qint64 limit)
{
    FileBytes result;
    const int fd = OpenRegularFile(path, &result.reason, &result.size);
    if (fd < 0) return result;
    if (result.size > limit) {
        ::close(fd);
        result.status = FileBytes::TooLarge;
        return result;
    }
    // One byte more than allowed tells a file that grew since it was looked at.
    QByteArray bytes(qsizetype(limit) + 1, Qt::Uninitialized);
    qint64 got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0) {
            if (errno == EINTR) continue;
            result.status = FileBytes::ReadFailed;
            result.reason = SystemReason(errno);
            ::close(fd);
            return result;
        }
        if (n == 0) break;
        got += n;
    }
    ::close(fd);
    if (got > limit) {
        result.size = got;
        result.status = FileBytes::TooLarge;
        return result;
    }
    bytes.truncate(qsizetype(got));
    result.bytes = std::move(bytes);
    result.size = got;
    result.status = FileBytes::Ok;
    return result;
}

}  // namespace base
