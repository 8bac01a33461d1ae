#include "base/SaveFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "base/RegularFile.h"

namespace base {

namespace {

bool WriteAll(int fd, const char* data, size_t size, int* err)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            *err = errno;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// The file a save replaces: through a link to the file it names, so that the link stays a link.
QString SaveTarget(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isSymLink()) return path;
    const QString canonical = info.canonicalFilePath();   // empty for a link to nothing
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

QByteArray FolderOf(const QByteArray& file)
{
    const qsizetype slash = file.lastIndexOf('/');
    if (slash < 0) return QByteArrayLiteral(".");
    if (slash == 0) return QByteArrayLiteral("/");
    return file.left(slash);
}

// Attributes a replacement would not carry over. A security label is not among them: every file
// has one on some systems, and a new file in the same folder gets the same.
bool HasExtendedAttributes(const QByteArray& file)
{
    const ssize_t size = ::listxattr(file.constData(), nullptr, 0);
    if (size <= 0) return false;
    QByteArray names(size, '\0');
    const ssize_t got = ::listxattr(file.constData(), names.data(), size_t(names.size()));
    if (got <= 0) return true;   // changed meanwhile: stay on the safe side
    for (const QByteArray& name : names.left(got).split('\0'))
        if (!name.isEmpty() && name != "security.selinux") return true;
    return false;
}

void SyncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);   // makes the rename durable; the files are safe either way
    ::close(fd);
}

}  // namespace

PendingSave::PendingSave(const QString& path) : path_(path) {}

PendingSave::~PendingSave()
{
    if (!temp_.isEmpty()) ::unlink(temp_.constData());
    if (fd_ >= 0) ::close(fd_);
}

bool PendingSave::Fail(int err) { return Fail(SystemReason(err)); }

bool PendingSave::Fail(const QString& reason)
{
    reason_ = reason;
    return false;
}

bool PendingSave::CheckWritable()
{
    const QString notAFile = NotAFileReason(old_.st_mode);
    if (!notAFile.isEmpty()) return Fail(notAFile);
    if (::faccessat(AT_FDCWD, target_.constData(), W_OK, AT_EACCESS) != 0) return Fail(errno);
    // Root passes the check above whatever the mode; a file whose every write bit is cleared was
    // made read-only on purpose.
    if ((old_.st_mode & 0222) == 0) return Fail(QStringLiteral("The file is read-only"));
    return true;
}

bool PendingSave::Prepare(const QByteArray& bytes)
{
    return Prepare([bytes](const FilePut& put) { return put(bytes.constData(), size_t(bytes.size())); });
}

bool PendingSave::Prepare(FileProducer produce)
{
    produce_ = std::move(produce);
    target_ = QFile::encodeName(SaveTarget(path_));
    if (::stat(target_.constData(), &old_) == 0) {
        existed_ = true;
        if (!CheckWritable()) return false;
    } else if (errno != ENOENT) {
        return Fail(errno);
    }
    // A replacement is a new file: it would leave the other names of the old one behind.
    if (!existed_ || (old_.st_nlink <= 1 && !HasExtendedAttributes(target_))) {
        const int prepared = PrepareTemporary();
        if (prepared > 0) return true;
        if (prepared < 0 || !existed_) return false;
    }
    return PrepareInPlace();
}

int PendingSave::PrepareTemporary()
{
    // A short name, whatever the length of the file's own: a name at the file system's limit
    // must save too.
    const QByteArray folder = FolderOf(target_);
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp_ = folder + "/.qxsave-" + QByteArray::number(QRandomGenerator::global()->generate(), 16);
        // 0666 through the umask, as a new file of the user's gets.
        fd = ::open(temp_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        const int err = errno;
        temp_.clear();
        // A folder the user cannot write still lets them write a file they may write.
        if (existed_ && (err == EACCES || err == EPERM || err == EROFS)) return 0;
        Fail(err);
        return -1;
    }
    auto drop = [&] {
        ::close(fd);
        ::unlink(temp_.constData());
        temp_.clear();
    };
    if (existed_) {
        struct stat made {};
        if (::fstat(fd, &made) != 0 || made.st_uid != old_.st_uid || made.st_gid != old_.st_gid) {
            if (::fchown(fd, old_.st_uid, old_.st_gid) != 0) {   // another's file: keep it theirs
                drop();
                return 0;
            }
        }
        if (::fchmod(fd, old_.st_mode & 07777) != 0) {
            drop();
            return 0;
        }
    }
    int err = EIO;
    bool ok = produce_([&](const char* data, size_t size) { return WriteAll(fd, data, size, &err); });
    if (ok && ::fsync(fd) != 0) {
        err = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {   // some file systems report a failed write only here
        err = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(temp_.constData());
        temp_.clear();
        Fail(err);
        return -1;
    }
    return 1;
}

bool PendingSave::PrepareInPlace()
{
    inPlace_ = true;
    fd_ = ::open(target_.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return Fail(errno);
    struct stat now {};
    if (::fstat(fd_, &now) != 0) return Fail(errno);
    if (!S_ISREG(now.st_mode)) return Fail(NotAFileReason(now.st_mode));

    size_ = 0;
    produce_([&](const char*, size_t size) {
        size_ += qint64(size);
        return true;
    });
    // Every failure that can be foreseen comes before the first byte is overwritten.
    rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        && rlim_t(size_) > limit.rlim_cur)
        return Fail(EFBIG);
    if (size_ > qint64(now.st_size)
        && ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, off_t(size_)) != 0
        && errno != EOPNOTSUPP && errno != ENOSYS)
        return Fail(errno);   // no room: the old contents are still there, untouched
    return true;
}

bool PendingSave::Commit()
{
    if (!inPlace_) {
        if (temp_.isEmpty()) return Fail(QStringLiteral("Nothing was prepared"));
        if (::rename(temp_.constData(), target_.constData()) != 0) {
            const int err = errno;
            ::unlink(temp_.constData());
            temp_.clear();
            return Fail(err);
        }
        temp_.clear();
        SyncFolder(FolderOf(target_));
        return true;
    }
    if (fd_ < 0) return Fail(QStringLiteral("Nothing was prepared"));
    int err = EIO;
    const bool written = ::lseek(fd_, 0, SEEK_SET) == 0
                         && produce_([&](const char* data, size_t size) { return WriteAll(fd_, data, size, &err); });
    if (!written || ::ftruncate(fd_, off_t(size_)) != 0 || ::fsync(fd_) != 0) {
        if (written) err = errno;
        ::close(fd_);
        fd_ = -1;
        return Fail(SystemReason(err) + QStringLiteral(" (it was being written in place and may now be incomplete)"));
    }
    const int closed = ::close(fd_);
    fd_ = -1;
    return closed == 0 || Fail(errno);
}

bool SaveFile(const QString& path, const QByteArray& bytes, QString* reason)
{
    return SaveFile(path, [&bytes](const FilePut& put) { return put(bytes.constData(), size_t(bytes.size())); }, reason);
}

bool SaveFile(const QString& path, const FileProducer& produce, QString* reason)
{
    PendingSave save(path);
    const bool ok = save.Prepare(produce) && save.Commit();
    if (!ok && reason) *reason = save.Reason();
    return ok;
}

PairSave CommitTogether(PendingSave& first, PendingSave& second)
{
    PairSave result;
    // What the first file holds now, to put back should anything fail after it changed.
    constexpr qint64 kKeepLimit = qint64(16) << 20;
    const FileBytes old = first.Existed() ? ReadRegularFile(QFile::decodeName(first.Target()), kKeepLimit)
                                          : FileBytes{};
    auto putBackFirst = [&] {
        if (!first.Existed()) return ::unlink(first.Target().constData()) == 0;
        return old.status == FileBytes::Ok && SaveFile(QFile::decodeName(first.Target()), old.bytes, nullptr);
    };
    if (!first.Commit()) {
        result.failedPath = first.Path();
        result.reason = first.Reason();
        // A replacement that failed changed nothing; a write in place may have changed part.
        result.firstChanged = first.InPlace() && !putBackFirst();
        return result;
    }
    if (second.Commit()) {
        result.ok = true;
        return result;
    }
    result.failedPath = second.Path();
    result.reason = second.Reason();
    result.firstChanged = !putBackFirst();
    return result;
}

PairSave SaveFilePair(const QString& first, const QByteArray& firstBytes, const QString& second,
                      const QByteArray& secondBytes)
{
    PendingSave a(first), b(second);
    PairSave result;
    for (PendingSave* save : {&a, &b}) {
        const QByteArray& bytes = save == &a ? firstBytes : secondBytes;
        if (!save->Prepare(bytes)) {
            result.failedPath = save->Path();
            result.reason = save->Reason();
            return result;   // nothing committed: both files as they were
        }
    }
    return CommitTogether(a, b);
}

}  // namespace base
