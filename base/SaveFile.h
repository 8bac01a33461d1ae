// Saving a file so that a failed save never costs the file that was there.
//
// A file the user could not write in place is refused and left untouched: no write permission,
// or no write bit at all (a file made read-only stays read-only even for root, who could write
// it anyway). Any file the user could write in place is saved, whatever its name's length and
// whether or not its folder takes new files.
//
// The new contents go to a temporary file beside the old one, which takes the old file's owner,
// group and mode and replaces it only once it is complete and on disk: a full disk or a crash
// mid-save leaves the old file whole. Where a replacement would change what the file is (a
// second hard link, extended attributes such as an access list, an owner or group the temporary
// file cannot take) or the folder takes no new file, the file is written in place instead, after
// room for the new contents has been reserved, so that a full disk still fails before the first
// byte changes; where the file system can reserve no room, such a save is refused and the file
// left as it was. A symbolic link is followed: the file it names is saved, except where the
// kernel would not follow it either: a link in a sticky folder anyone may write (/tmp, a shared
// folder) owned neither by the user nor by the folder's owner, which someone else may have
// planted there to have the save replace a file of the user's.
//
// A save killed half-way leaves its temporary file (".qxsave-" and a random number) behind; the
// next save into that folder removes such files of the user's that no running save holds.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

#include <sys/stat.h>

namespace base {

// Hands a file's contents to `put` piece by piece and stops, returning false, as soon as `put`
// fails. A save may run it twice (to count the bytes, then to write them): it must give the
// same bytes each time.
using FilePut = std::function<bool(const char* data, size_t size)>;
using FileProducer = std::function<bool(const FilePut& put)>;

// One save in two steps, so that several files can be readied before any of them changes.
class PendingSave {
public:
    explicit PendingSave(const QString& path);
    ~PendingSave();   // a save never committed leaves the old file as it was
    PendingSave(const PendingSave&) = delete;
    PendingSave& operator=(const PendingSave&) = delete;

    // Checks the target and readies the new contents: written to a temporary file, or room for
    // them reserved in the file itself. Nothing the user can see changes.
    bool Prepare(const QByteArray& bytes);
    bool Prepare(FileProducer produce);
    // Makes the readied contents the file's.
    bool Commit();

    const QString& Path() const { return path_; }
    QString Reason() const { return reason_; }   // why the last step failed
    bool Existed() const { return existed_; }     // a file was there before
    bool InPlace() const { return inPlace_; }     // written in place rather than replaced
    bool Touched() const { return touched_; }     // a failed write in place may have changed it
    QByteArray Target() const { return target_; } // the file a link led to, or the path itself

private:
    bool Fail(int err);
    bool Fail(const QString& reason);
    bool CheckWritable();
    // 1: readied; 0: the folder takes no temporary file of ours, write in place; -1: failed.
    int PrepareTemporary();
    bool PrepareInPlace();

    QString path_;
    QByteArray target_;
    QByteArray temp_;          // the temporary file while it exists
    int fd_ = -1;              // the file itself, while a save in place is readied
    int tempLock_ = -1;        // holds a lock on the temporary file: it is in use
    bool touched_ = false;
    bool existed_ = false;
    bool inPlace_ = false;
    struct stat old_ {};
    FileProducer produce_;
    qint64 size_ = 0;
    QString reason_;
};

// One file. False and the reason when it was not saved; the old file is then as it was.
bool SaveFile(const QString& path, const QByteArray& bytes, QString* reason);
bool SaveFile(const QString& path, const FileProducer& produce, QString* reason);

// Two files that belong together: both get their new contents, or neither does.
struct PairSave {
    bool ok = false;
    QString failedPath;          // the file that could not be saved
    QString reason;
    bool firstChanged = false;   // the first file changed and could not be put back
    bool secondChanged = false;  // the second was being written in place when it failed
};
// Commits two readied saves as one: when the second cannot be committed, the first gets back its
// old contents (or is removed again when it is new).
PairSave CommitTogether(PendingSave& first, PendingSave& second);
PairSave SaveFilePair(const QString& first, const QByteArray& firstBytes, const QString& second,
                      const QByteArray& secondBytes);

// Saves a file under a name nobody has taken: the name is claimed only once the contents are
// whole on disk, and nothing already there is replaced or followed, not even a link to nothing.
enum class NewFile { Saved, NameTaken, Failed };
NewFile SaveNewFile(const QString& path, const FileProducer& produce, QString* reason);

// The file a save of `path` writes: the path itself, or the file its link names. Empty, with the
// reason, when the link may not be followed (see above).
QString SaveTarget(const QString& path, QString* reason);

// For tests: stands in for fallocate(2), so that a file system without it can be played.
using FallocateCall = int (*)(int fd, int mode, off_t offset, off_t length);
void SetFallocateForTest(FallocateCall call);   // nullptr: the real call

}  // namespace base
