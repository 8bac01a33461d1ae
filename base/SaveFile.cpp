#include "base/SaveFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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

FallocateCall fallocateCall = nullptr;

int Fallocate(int fd, int mode, off_t offset, off_t length)
{
    return fallocateCall ? fallocateCall(fd, mode, offset, length) : ::fallocate(fd, mode, offset, length);
}

constexpr char kTempPrefix[] = ".qxsave-";

// A temporary file of ours: a name nobody can guess (the folder may be shared) created afresh,
// never an existing file or a link. The returned lock descriptor holds a lock on it while it is
// in use, so that a later save tells it from the leftover of a save that was killed.
int CreateTemporary(const QByteArray& folder, QByteArray* temp, int* lock)
{
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        *temp = folder + '/' + kTempPrefix + QByteArray::number(QRandomGenerator::system()->generate64(), 16);
        // 0666 through the umask, as a new file of the user's gets.
        fd = ::open(temp->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        const int err = errno;
        temp->clear();
        errno = err;
        return -1;
    }
    *lock = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (*lock >= 0) ::flock(*lock, LOCK_EX | LOCK_NB);
    return fd;
}

void DropTemporary(QByteArray* temp, int* lock)
{
    if (!temp->isEmpty()) ::unlink(temp->constData());
    temp->clear();
    if (*lock >= 0) ::close(*lock);
    *lock = -1;
}

// Removes what saves killed half-way left in the folder: temporary files of ours, of this user,
// that no save holds and that have not changed for a while (one created a moment ago may not be
// locked yet).
void RemoveLeftovers(const QByteArray& folder)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir) return;
    const uid_t user = ::geteuid();
    const time_t now = ::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strncmp(name, kTempPrefix, sizeof kTempPrefix - 1) != 0) continue;
        const char* digits = name + sizeof kTempPrefix - 1;
        if (!*digits || std::strspn(digits, "0123456789abcdef") != std::strlen(digits)) continue;
        const int dirFd = ::dirfd(dir);
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_uid != user
            || st.st_nlink != 1 || now - st.st_mtime < 60)
            continue;
        const int fd = ::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && held.st_ino == st.st_ino
            && held.st_dev == st.st_dev)
            ::unlinkat(dirFd, name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

void SyncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);   // makes the rename durable; the files are safe either way
    ::close(fd);
}

}  // namespace

void SetFallocateForTest(FallocateCall call) { fallocateCall = call; }

QString SaveTarget(const QString& path, QString* reason)
{
    // Link by link, as the kernel walks them, so that its rule for shared folders applies to
    // each: a sticky folder anyone may write takes links from anyone, and a link there is
    // followed only when it is the user's own or the folder owner's.
    QByteArray current = QFile::encodeName(path);
    for (int hops = 0; hops < 40; ++hops) {
        struct stat link {};
        if (::lstat(current.constData(), &link) != 0 || !S_ISLNK(link.st_mode)) return QFile::decodeName(current);
        const QByteArray folder = FolderOf(current);
        struct stat dir {};
        if (::stat(folder.constData(), &dir) == 0 && (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH)
            && link.st_uid != ::geteuid() && link.st_uid != dir.st_uid) {
            *reason = QStringLiteral("It is a link another user made in a shared folder; it is not followed");
            return {};
        }
        QByteArray to(qsizetype(PATH_MAX), Qt::Uninitialized);
        const ssize_t n = ::readlink(current.constData(), to.data(), size_t(to.size()));
        if (n < 0 || n >= to.size()) {
            *reason = SystemReason(n < 0 ? errno : ENAMETOOLONG);
            return {};
        }
        to.truncate(n);
        current = to.startsWith('/') ? to : folder + '/' + to;
    }
    *reason = SystemReason(ELOOP);
    return {};
}

PendingSave::PendingSave(const QString& path) : path_(path) {}

PendingSave::~PendingSave()
{
    DropTemporary(&temp_, &tempLock_);
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
    QString why;
    const QString target = SaveTarget(path_, &why);
    if (target.isEmpty()) return Fail(why);
    target_ = QFile::encodeName(target);
    RemoveLeftovers(FolderOf(target_));
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
    const int fd = CreateTemporary(FolderOf(target_), &temp_, &tempLock_);
    if (fd < 0) {
        const int err = errno;
        // A folder the user cannot write still lets them write a file they may write.
        if (existed_ && (err == EACCES || err == EPERM || err == EROFS)) return 0;
        Fail(err);
        return -1;
    }
    auto drop = [&] {
        ::close(fd);
        DropTemporary(&temp_, &tempLock_);
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
        DropTemporary(&temp_, &tempLock_);
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
    if (size_ > qint64(now.st_size) && Fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, off_t(size_)) != 0) {
        // Without room set aside, a full disk part-way would leave the file cut short with its
        // old contents gone: refused, the file untouched.
        if (errno == EOPNOTSUPP || errno == ENOSYS)
            return Fail(QStringLiteral("It has to be written in place (it has other names, attributes a "
                                       "replacement would lose, or its folder takes no new file), and this "
                                       "file system cannot set room aside for the new contents first, so a "
                                       "full disk could leave it cut short. It was not changed"));
        return Fail(errno);   // no room: the old contents are still there, untouched
    }
    return true;
}

bool PendingSave::Commit()
{
    if (!inPlace_) {
        if (temp_.isEmpty()) return Fail(QStringLiteral("Nothing was prepared"));
        if (::rename(temp_.constData(), target_.constData()) != 0) {
            const int err = errno;
            DropTemporary(&temp_, &tempLock_);
            return Fail(err);
        }
        temp_.clear();
        DropTemporary(&temp_, &tempLock_);
        SyncFolder(FolderOf(target_));
        return true;
    }
    if (fd_ < 0) return Fail(QStringLiteral("Nothing was prepared"));
    int err = EIO;
    touched_ = true;
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
        result.firstChanged = first.Touched() && !putBackFirst();
        return result;
    }
    if (second.Commit()) {
        result.ok = true;
        return result;
    }
    result.failedPath = second.Path();
    result.reason = second.Reason();
    result.secondChanged = second.Touched();
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

NewFile SaveNewFile(const QString& path, const FileProducer& produce, QString* reason)
{
    auto fail = [&](int err) {
        if (reason) *reason = SystemReason(err);
        return NewFile::Failed;
    };
    const QByteArray target = QFile::encodeName(path);
    const QByteArray folder = FolderOf(target);
    RemoveLeftovers(folder);
    QByteArray temp;
    int lock = -1;
    int fd = CreateTemporary(folder, &temp, &lock);
    if (fd < 0) return fail(errno);
    int err = EIO;
    auto fill = [&](int to) {
        bool ok = produce([&](const char* data, size_t size) { return WriteAll(to, data, size, &err); });
        if (ok && ::fsync(to) != 0) {
            err = errno;
            ok = false;
        }
        if (::close(to) != 0 && ok) {
            err = errno;
            ok = false;
        }
        return ok;
    };
    if (!fill(fd)) {
        DropTemporary(&temp, &lock);
        return fail(err);
    }
    // A second name for the finished file claims the name: link() fails on anything there, a
    // link to nothing included, and never follows one.
    if (::link(temp.constData(), target.constData()) == 0) {
        DropTemporary(&temp, &lock);
        SyncFolder(folder);
        return NewFile::Saved;
    }
    err = errno;
    DropTemporary(&temp, &lock);
    if (err == EEXIST) return NewFile::NameTaken;
    if (err != EPERM && err != EOPNOTSUPP && err != ENOSYS && err != EMLINK) return fail(err);
    // A file system without hard links: the name is created exclusively and written there.
    fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return errno == EEXIST ? NewFile::NameTaken : fail(errno);
    if (!fill(fd)) {
        ::unlink(target.constData());
        return fail(err);
    }
    SyncFolder(folder);
    return NewFile::Saved;
}

}  // namespace base
