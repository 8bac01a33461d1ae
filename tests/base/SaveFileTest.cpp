// Saving over files the way a tuner's files really are: read-only, hard-linked, someone else's,
// in folders they cannot write, on a disk that fills up. Tests run as root here, so the cases a
// plain user meets are played by switching to the "nobody" user for the save itself.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "base/RegularFile.h"
#include "base/SaveFile.h"

namespace {

constexpr uid_t kNobody = 65534;

QByteArray Name(const QString& path) { return QFile::encodeName(path); }

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray Read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

struct stat Stat(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(Name(path).constData(), &st), 0) << path.toStdString();
    return st;
}

// Everything in the folder but the names given: temporary files left behind show up here.
QStringList Others(const QString& folder, const QStringList& known)
{
    QStringList all = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& k : known) all.removeAll(k);
    return all;
}

// The save as a plain user would run it: as nobody when the tests run as root.
class AsPlainUser {
public:
    AsPlainUser() : was_(::geteuid())
    {
        if (was_ == 0) active_ = ::seteuid(kNobody) == 0;
    }
    ~AsPlainUser()
    {
        if (active_ && ::seteuid(was_) != 0) ADD_FAILURE() << "could not become user " << was_ << " again";
    }
    bool Ok() const { return was_ != 0 || active_; }

private:
    uid_t was_;
    bool active_ = false;
};

// A file size limit, which binds root too: the disk is full past `bytes`.
class DiskFullAfter {
public:
    explicit DiskFullAfter(rlim_t bytes) : signal_(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &was_);
        rlimit capped = was_;
        capped.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &capped);
    }
    ~DiskFullAfter()
    {
        ::setrlimit(RLIMIT_FSIZE, &was_);
        std::signal(SIGXFSZ, signal_);
    }

private:
    rlimit was_{};
    void (*signal_)(int);
};

class SaveFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(SaveFileTest, AFileTheUserCannotWriteInPlaceIsRefusedAndLeftAlone)
{
    ASSERT_TRUE(Write(Path("run.qxl"), "old"));
    ASSERT_EQ(::chmod(Name(Path("run.qxl")).constData(), 0444), 0);
    const struct stat before = Stat(Path("run.qxl"));
    QString reason;
    EXPECT_FALSE(base::SaveFile(Path("run.qxl"), QByteArray("new"), &reason));
    EXPECT_EQ(reason, "The file is read-only");
    EXPECT_EQ(Read(Path("run.qxl")), "old");
    const struct stat after = Stat(Path("run.qxl"));
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);

    // Writable by its owner only, and the user is someone else.
    ASSERT_EQ(::chmod(Name(Path("run.qxl")).constData(), 0644), 0);
    ASSERT_EQ(::chmod(Name(dir.path()).constData(), 0777), 0);
    {
        AsPlainUser nobody;
        ASSERT_TRUE(nobody.Ok());
        const bool saved = base::SaveFile(Path("run.qxl"), QByteArray("new"), &reason);
        if (::geteuid() != before.st_uid) {
            EXPECT_FALSE(saved);
            EXPECT_EQ(reason, "Permission denied");
        }
    }
    if (::geteuid() == 0) {
        EXPECT_EQ(Read(Path("run.qxl")), "old");
    }

    // Not files at all; the pipe is refused without waiting for a reader.
    ASSERT_EQ(::mkfifo(Name(Path("pipe")).constData(), 0666), 0);
    EXPECT_FALSE(base::SaveFile(Path("pipe"), QByteArray("x"), &reason));
    EXPECT_EQ(reason, "It is a named pipe, not a file");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.qxl"));
    EXPECT_FALSE(base::SaveFile(Path("folder.qxl"), QByteArray("x"), &reason));
    EXPECT_EQ(reason, "It is a folder");
    EXPECT_FALSE(base::SaveFile(Path("plain/run.qxl"), QByteArray("x"), &reason));
    EXPECT_EQ(reason, "No such file or directory");
    EXPECT_EQ(Others(dir.path(), {"run.qxl", "pipe"}), QStringList());
}

TEST_F(SaveFileTest, AnExistingFileKeepsOwnerGroupModeAndHardLinks)
{
    // Hard links: both names see the new contents, still one file.
    ASSERT_TRUE(Write(Path("tune.qxe"), "old"));
    ASSERT_EQ(::link(Name(Path("tune.qxe")).constData(), Name(Path("backup.qxe")).constData()), 0);
    const struct stat linked = Stat(Path("tune.qxe"));
    QString reason;
    ASSERT_TRUE(base::SaveFile(Path("tune.qxe"), QByteArray("new and longer"), &reason)) << reason.toStdString();
    EXPECT_EQ(Read(Path("tune.qxe")), "new and longer");
    EXPECT_EQ(Read(Path("backup.qxe")), "new and longer");
    EXPECT_EQ(Stat(Path("backup.qxe")).st_ino, linked.st_ino);
    EXPECT_EQ(Stat(Path("tune.qxe")).st_nlink, 2u);
    ASSERT_TRUE(base::SaveFile(Path("backup.qxe"), QByteArray("short"), &reason));
    EXPECT_EQ(Read(Path("tune.qxe")), "short") << "a shorter save leaves no tail of the old";

    // Owner, group and mode of a file that is replaced (root can give them to a new file).
    ASSERT_TRUE(Write(Path("run.qxl"), "old"));
    ASSERT_EQ(::chmod(Name(Path("run.qxl")).constData(), 0640), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(Name(Path("run.qxl")).constData(), kNobody, kNobody), 0);
    }
    const struct stat before = Stat(Path("run.qxl"));
    ASSERT_TRUE(base::SaveFile(Path("run.qxl"), QByteArray("new"), &reason)) << reason.toStdString();
    const struct stat after = Stat(Path("run.qxl"));
    EXPECT_EQ(Read(Path("run.qxl")), "new");
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode, before.st_mode);

    // Extended attributes (an access list, a tag a file manager set) stay with the file.
    if (::setxattr(Name(Path("run.qxl")).constData(), "user.note", "dyno day", 8, 0) == 0) {
        ASSERT_TRUE(base::SaveFile(Path("run.qxl"), QByteArray("newer"), &reason));
        char note[16] = {};
        EXPECT_EQ(::getxattr(Name(Path("run.qxl")).constData(), "user.note", note, sizeof note), 8);
        EXPECT_STREQ(note, "dyno day");
        EXPECT_EQ(Read(Path("run.qxl")), "newer");
    }
    EXPECT_EQ(Others(dir.path(), {"tune.qxe", "backup.qxe", "run.qxl"}), QStringList());
}

TEST_F(SaveFileTest, NamesUpToTheLimitAndFoldersTheUserCannotWriteSave)
{
    // 255 bytes is the longest name most file systems take; the temporary name must not be longer.
    const QString longest = Path(QString(251, QLatin1Char('a')) + ".qxl");
    QString reason;
    ASSERT_TRUE(base::SaveFile(longest, QByteArray("first"), &reason)) << reason.toStdString();
    ASSERT_TRUE(base::SaveFile(longest, QByteArray("second"), &reason)) << reason.toStdString();
    EXPECT_EQ(Read(longest), "second");
    EXPECT_FALSE(base::SaveFile(longest + "x", QByteArray("x"), &reason));
    EXPECT_EQ(reason, "File name too long");

    // A folder that takes no new file: a file the user may write in it is written in place.
    ASSERT_TRUE(QDir(dir.path()).mkdir("shared"));
    ASSERT_TRUE(Write(Path("shared/run.qxl"), "old contents"));
    ASSERT_EQ(::chmod(Name(Path("shared/run.qxl")).constData(), 0666), 0);
    ASSERT_EQ(::chmod(Name(Path("shared")).constData(), 0555), 0);
    ASSERT_EQ(::chmod(Name(dir.path()).constData(), 0755), 0);
    const ino_t inode = Stat(Path("shared/run.qxl")).st_ino;
    bool saved = false, created = false;
    {
        AsPlainUser nobody;
        ASSERT_TRUE(nobody.Ok());
        saved = base::SaveFile(Path("shared/run.qxl"), QByteArray("new"), &reason);
        created = base::SaveFile(Path("shared/other.qxl"), QByteArray("x"), nullptr);
    }
    ::chmod(Name(Path("shared")).constData(), 0755);
    EXPECT_TRUE(saved) << reason.toStdString();
    EXPECT_EQ(Read(Path("shared/run.qxl")), "new");
    EXPECT_EQ(Stat(Path("shared/run.qxl")).st_ino, inode);
    EXPECT_FALSE(created) << "a new file needs a folder that takes one";
    EXPECT_EQ(Others(Path("shared"), {"run.qxl"}), QStringList());
}

TEST_F(SaveFileTest, AFullDiskLeavesTheOldFileByteForByte)
{
    const QByteArray old = "old contents\r\n";
    const QByteArray big(256 * 1024, 'n');
    ASSERT_TRUE(Write(Path("run.qxl"), old));
    ASSERT_TRUE(Write(Path("tune.qxe"), old));
    ASSERT_EQ(::link(Name(Path("tune.qxe")).constData(), Name(Path("copy.qxe")).constData()), 0);
    QString replaced, inPlace;
    bool replacedOk = true, inPlaceOk = true;
    {
        DiskFullAfter full(64 * 1024);
        // Replaced through a temporary file, and written in place (two hard links).
        replacedOk = base::SaveFile(Path("run.qxl"), big, &replaced);
        int runs = 0;
        inPlaceOk = base::SaveFile(Path("tune.qxe"), [&](const base::FilePut& put) {
            ++runs;
            for (int i = 0; i < 4; ++i)
                if (!put(big.constData(), size_t(big.size()) / 4)) return false;
            return true;
        }, &inPlace);
        EXPECT_EQ(runs, 1) << "counted once, refused before the writing run";
    }
    EXPECT_FALSE(replacedOk);
    EXPECT_EQ(replaced, "File too large");
    EXPECT_FALSE(inPlaceOk);
    EXPECT_EQ(inPlace, "File too large");
    EXPECT_EQ(Read(Path("run.qxl")), old);
    EXPECT_EQ(Read(Path("tune.qxe")), old);
    EXPECT_EQ(Read(Path("copy.qxe")), old);
    EXPECT_EQ(Others(dir.path(), {"run.qxl", "tune.qxe", "copy.qxe"}), QStringList());
}

TEST_F(SaveFileTest, APairIsCommittedWholeOrPutBack)
{
    ASSERT_TRUE(Write(Path("tune.qxe"), "old image"));
    {
        base::PendingSave image(Path("tune.qxe")), side(Path("tune.qxc"));
        ASSERT_TRUE(image.Prepare(QByteArray("new image")));
        ASSERT_TRUE(side.Prepare(QByteArray("new side")));
        EXPECT_EQ(Read(Path("tune.qxe")), "old image") << "readied, not yet changed";
        // Something takes the second name before the commit: the first is put back.
        ASSERT_TRUE(QDir(dir.path()).mkpath("tune.qxc/inside"));
        const base::PairSave result = base::CommitTogether(image, side);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.failedPath, Path("tune.qxc"));
        EXPECT_FALSE(result.reason.isEmpty());
        EXPECT_FALSE(result.firstChanged);
        EXPECT_EQ(Read(Path("tune.qxe")), "old image");
    }
    {
        // A first file that is new is removed again.
        base::PendingSave image(Path("new.qxe")), side(Path("new.qxc"));
        ASSERT_TRUE(image.Prepare(QByteArray("new image")));
        ASSERT_TRUE(side.Prepare(QByteArray("x")));
        ASSERT_TRUE(QDir(dir.path()).mkpath("new.qxc/inside"));
        EXPECT_FALSE(base::CommitTogether(image, side).ok);
        EXPECT_FALSE(QFile::exists(Path("new.qxe")));
    }
    {
        base::PendingSave never(Path("never.qxe"));
        ASSERT_TRUE(never.Prepare(QByteArray("x")));
    }
    EXPECT_FALSE(QFile::exists(Path("never.qxe"))) << "a save never committed leaves nothing";

    QDir(Path("tune.qxc")).removeRecursively();
    const base::PairSave both = base::SaveFilePair(Path("tune.qxe"), "image 2", Path("tune.qxc"), "side 2");
    EXPECT_TRUE(both.ok) << both.reason.toStdString();
    EXPECT_EQ(Read(Path("tune.qxe")), "image 2");
    EXPECT_EQ(Read(Path("tune.qxc")), "side 2");
    EXPECT_EQ(Others(dir.path(), {"tune.qxe", "tune.qxc"}), QStringList());
}

int NoFallocate(int, int, off_t, off_t)
{
    errno = EOPNOTSUPP;   // ext2, some network and FUSE file systems
    return -1;
}

// A file that has to be written in place (a second hard link) on a file system that cannot set
// room aside: a save that needs more room is refused and the old bytes stay, alone or in a pair.
// A temporary file a killed save left behind is removed by the next save, one in use is not.
TEST_F(SaveFileTest, WithoutRoomSetAsideNothingIsWrittenInPlace)
{
    const QByteArray old(100 * 1024, 'o');
    ASSERT_TRUE(Write(Path("run.qxl"), old));
    ASSERT_EQ(::link(Name(Path("run.qxl")).constData(), Name(Path("copy.qxl")).constData()), 0);
    ASSERT_TRUE(Write(Path(".qxsave-1a2b3c"), "killed half-way"));
    const timeval hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimes(Name(Path(".qxsave-1a2b3c")).constData(), hourAgo), 0);
    ASSERT_TRUE(Write(Path(".qxsave-beef"), "another save, just begun"));
    base::SetFallocateForTest(NoFallocate);

    QString reason;
    EXPECT_FALSE(base::SaveFile(Path("run.qxl"), QByteArray(256 * 1024, 'n'), &reason));
    EXPECT_TRUE(reason.contains("cannot set room aside")) << reason.toStdString();
    EXPECT_EQ(Read(Path("run.qxl")), old);
    EXPECT_EQ(Read(Path("copy.qxl")), old);

    ASSERT_TRUE(Write(Path("tune.qxe"), "old image"));
    const base::PairSave pair = base::SaveFilePair(Path("tune.qxe"), "new image", Path("run.qxl"), QByteArray(200 * 1024, 'd'));
    EXPECT_FALSE(pair.ok);
    EXPECT_FALSE(pair.firstChanged);
    EXPECT_FALSE(pair.secondChanged);
    EXPECT_EQ(Read(Path("tune.qxe")), "old image");
    EXPECT_EQ(Read(Path("run.qxl")), old);

    // No more room than the file holds: written in place as before; both names see it.
    EXPECT_TRUE(base::SaveFile(Path("copy.qxl"), QByteArray("short"), &reason)) << reason.toStdString();
    EXPECT_EQ(Read(Path("run.qxl")), "short");
    base::SetFallocateForTest(nullptr);

    EXPECT_EQ(Others(dir.path(), {"run.qxl", "copy.qxl", "tune.qxe"}), QStringList{".qxsave-beef"});
}

// The kernel follows a link in a sticky folder anyone may write (/tmp, a shared drop folder)
// only when it is the follower's own or the folder owner's; a save that resolves links itself
// must keep that rule, or a link planted there replaces a file of the user's.
TEST_F(SaveFileTest, ALinkAnotherUserPlantedInASharedFolderIsNotFollowed)
{
    if (::geteuid() != 0) GTEST_SKIP() << "planting another user's link needs root";
    const QString shared = Path("shared");
    ASSERT_TRUE(QDir().mkdir(shared));
    ASSERT_EQ(::chmod(Name(shared).constData(), 01777), 0);
    ASSERT_TRUE(Write(Path("precious.txt"), "precious"));
    const QByteArray link = Name(shared + "/run.qxl");
    ASSERT_EQ(::symlink(Name(Path("precious.txt")).constData(), link.constData()), 0);
    ASSERT_EQ(::lchown(link.constData(), kNobody, kNobody), 0);

    QString reason;
    EXPECT_FALSE(base::SaveFile(shared + "/run.qxl", QByteArray("log"), &reason));
    EXPECT_TRUE(reason.contains("not followed")) << reason.toStdString();
    EXPECT_EQ(Read(Path("precious.txt")), "precious");
    EXPECT_FALSE(base::SaveFilePair(shared + "/run.qxl", "image", Path("side.qxc"), "side").ok);
    EXPECT_EQ(Read(Path("precious.txt")), "precious");

    // A name claimed as new never follows a link, not even one to nothing.
    const QByteArray dangling = Name(shared + "/unsaved.qxl");
    ASSERT_EQ(::symlink(Name(Path("made.txt")).constData(), dangling.constData()), 0);
    ASSERT_EQ(::lchown(dangling.constData(), kNobody, kNobody), 0);
    const base::FileProducer produce = [](const base::FilePut& put) { return put("log", 3); };
    EXPECT_EQ(base::SaveNewFile(shared + "/unsaved.qxl", produce, &reason), base::NewFile::NameTaken);
    EXPECT_FALSE(QFile::exists(Path("made.txt")));

    // The folder owner's link (root's here) is followed as before.
    ASSERT_EQ(::lchown(link.constData(), 0, 0), 0);
    EXPECT_TRUE(base::SaveFile(shared + "/run.qxl", QByteArray("log"), &reason)) << reason.toStdString();
    EXPECT_EQ(Read(Path("precious.txt")), "log");
    EXPECT_TRUE(QFileInfo(shared + "/run.qxl").isSymLink());
}

TEST(RegularFile, OnlyRegularFilesAreReadAndNothingWaits)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(::mkfifo(Name(dir.filePath("pipe")).constData(), 0644), 0);
    const std::pair<QString, QString> refused[] = {
        {dir.filePath("pipe"), "It is a named pipe, not a file"},
        {"/dev/zero", "It is a device, not a file"},   // would never end
        {dir.path(), "It is a folder"},
        {dir.filePath("missing"), "No such file or directory"},
    };
    for (const auto& [path, reason] : refused) {
        const base::FileBytes read = base::ReadRegularFile(path, 100);
        EXPECT_EQ(read.status, base::FileBytes::CannotOpen) << path.toStdString();
        EXPECT_EQ(read.reason, reason);
    }
    ASSERT_TRUE(Write(dir.filePath("five"), "12345"));
    EXPECT_EQ(base::ReadRegularFile(dir.filePath("five"), 5).bytes, "12345");
    const base::FileBytes big = base::ReadRegularFile(dir.filePath("five"), 4);
    EXPECT_EQ(big.status, base::FileBytes::TooLarge);
    EXPECT_EQ(big.size, 5);
    // A link to a file is the file.
    ASSERT_TRUE(QFile::link(dir.filePath("five"), dir.filePath("link")));
    EXPECT_EQ(base::ReadRegularFile(dir.filePath("link"), 5).bytes, "12345");
}

}  // namespace
