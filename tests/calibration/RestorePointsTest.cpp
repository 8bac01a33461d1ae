#include "calibration/RestorePoints.h"
#include "tests/support/RawFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <csignal>

#include <sys/resource.h>

using namespace calibration;
using State = RestorePoint::State;

namespace {

EepromImage Image(uint8_t fill)
{
    EepromImage image;
    image.fill(fill);
    return image;
}

const QDateTime Noon(QDate(2026, 12, 9), QTime(12, 0, 0));

}  // namespace

// Three points in the same second: each under a name of its own, none replacing another, each
// a calibration pair a file load reads, with a summary that says what changed against the one
// before, and the index says the same after the list is read back from disk.
TEST(RestorePoints, KeptPointsAreNeverReplacedAndSummariseTheirChanges)
{
    QTemporaryDir dir;
    RestorePoints points(dir.filePath(QStringLiteral("restore points")));
    const EepromImage first = Image(7);
    EepromImage second = first;
    second[size_t(MapByNumber(7)->base + 3)] = 99;   // one cell of a map
    second[443] = 12;                                 // one setting
    second[3] = 1;                                    // and one byte of each

    const PointKept a = points.Keep(first, QStringLiteral("as read"), QStringLiteral("after reading the ECU"),
                                    QStringLiteral("Ver 4.2"), Noon);
    const PointKept b = points.Keep(first, QStringLiteral("same"), QStringLiteral("before edits"), {}, Noon);
    const PointKept c = points.Keep(second, QStringLiteral("changed\nsecond line"), QStringLiteral("before edits"), {}, Noon);
    ASSERT_TRUE(a.ok && b.ok && c.ok) << a.reason.toStdString() << c.reason.toStdString();
    EXPECT_EQ(a.name, QStringLiteral("2026-12-09 12-00-00 after-reading-the-ecu"));
    EXPECT_NE(b.name, c.name);
    EXPECT_EQ(SummaryText(a.summary), QStringLiteral("first point"));
    EXPECT_EQ(SummaryText(b.summary), QStringLiteral("no change"));
    EXPECT_EQ(c.summary.against, b.name);
    EXPECT_EQ(c.summary.bytes, 3);
    EXPECT_EQ(c.summary.maps, QStringList{QString::fromUtf8(MapByNumber(7)->title)});
    EXPECT_EQ(c.summary.settings, QStringList{QString::fromUtf8(AccessibleName(*SettingByAddress(443)))});

    // The pair is the program's own: a load gives the image and description back.
    const CalibrationRead read = points.Read(c.name);
    ASSERT_EQ(read.image.status, ImageFileRead::Ok);
    EXPECT_EQ(read.image.image, second);
    EXPECT_EQ(read.description.value_or(QString()), QStringLiteral("changed\nsecond line"));
    EXPECT_EQ(ReadRaw(points.ImageFile(a.name)), QByteArray(500, 7));

    const PointListing listing = points.List();
    ASSERT_EQ(listing.points.size(), 3u);
    EXPECT_FALSE(listing.indexDamaged);
    EXPECT_EQ(listing.points[0].name, c.name);   // newest first
    EXPECT_EQ(listing.points[2].name, a.name);
    for (const RestorePoint& p : listing.points) EXPECT_EQ(p.state, State::Ok) << p.problem.toStdString();
    EXPECT_EQ(listing.points[2].ecuVersion, QStringLiteral("Ver 4.2"));
    EXPECT_EQ(listing.points[2].cause, QStringLiteral("after reading the ECU"));
    EXPECT_EQ(listing.points[0].checksum, ImageChecksum(second));
    EXPECT_EQ(SummaryText(listing.points[0].summary), SummaryText(c.summary));
    qint64 total = 0;
    for (const QFileInfo& f : QDir(points.Folder()).entryInfoList(QDir::Files)) total += f.size();
    EXPECT_EQ(listing.folderSize, total);
    EXPECT_GE(total, 3 * ImageSize);
}

// Whatever else lies in the folder is listed for what it is, and a damaged index costs the
// summaries only: the next point builds it again from the files.
TEST(RestorePoints, DamagedAndForeignFilesAreListedAsSuchAndPointsGoOn)
{
    QTemporaryDir dir;
    RestorePoints points(dir.path());
    const PointKept kept = points.Keep(Image(1), {}, QStringLiteral("after reading the ECU"), {}, Noon);
    const PointKept changed = points.Keep(Image(2), {}, QStringLiteral("before edits"), {}, Noon.addSecs(1));
    ASSERT_TRUE(kept.ok && changed.ok);
    ASSERT_TRUE(WriteRaw(points.ImageFile(changed.name), QByteArray(500, 3)));   // changed behind our back
    ASSERT_TRUE(WriteRaw(dir.filePath(QStringLiteral("notes.txt")), "mine"));
    ASSERT_TRUE(WriteRaw(dir.filePath(QStringLiteral("2026-01-01 10-00-00 short.qxe")), "cut"));
    ASSERT_TRUE(WriteRaw(dir.filePath(QStringLiteral("2026-01-01 10-00-00 short.qxc")), ""));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("a folder.qxe")));

    PointListing listing = points.List();
    auto find = [&](const QString& name) -> const RestorePoint* {
        for (const RestorePoint& p : listing.points)
            if (p.name == name) return &p;
        return nullptr;
    };
    ASSERT_EQ(listing.points.size(), 5u);
    ASSERT_TRUE(find(kept.name));
    EXPECT_EQ(find(kept.name)->state, State::Ok);
    EXPECT_EQ(find(changed.name)->state, State::Damaged);
    EXPECT_EQ(points.Read(changed.name).image.status, ImageFileRead::CannotOpen);   // never restored
    ASSERT_TRUE(find(QStringLiteral("2026-01-01 10-00-00 short")));
    EXPECT_EQ(find(QStringLiteral("2026-01-01 10-00-00 short"))->state, State::Damaged);
    EXPECT_EQ(find(QStringLiteral("notes.txt"))->state, State::Foreign);
    EXPECT_EQ(find(QStringLiteral("a folder.qxe"))->state, State::Foreign);

    ASSERT_TRUE(WriteRaw(dir.filePath(QLatin1String(RestorePoints::IndexName)), "{ not json"));
    listing = points.List();
    EXPECT_TRUE(listing.indexDamaged);
    ASSERT_TRUE(find(kept.name));
    EXPECT_EQ(find(kept.name)->state, State::Unindexed);
    EXPECT_EQ(find(kept.name)->time, Noon);   // the name still tells when

    const PointKept next = points.Keep(Image(4), {}, QStringLiteral("on closing"), {}, Noon.addSecs(5));
    ASSERT_TRUE(next.ok) << next.reason.toStdString();
    EXPECT_FALSE(next.summary.first);
    listing = points.List();
    EXPECT_FALSE(listing.indexDamaged);
    EXPECT_EQ(find(kept.name)->state, State::Ok);
    EXPECT_EQ(find(QStringLiteral("notes.txt"))->state, State::Foreign);
    EXPECT_EQ(ReadRaw(dir.filePath(QStringLiteral("notes.txt"))), "mine");
}

// The newest 200 stay whatever their age; beyond them, points older than 90 days go, with their
// lines in the index. Nothing that is not a point is removed.
TEST(RestorePoints, PruningKeepsTheNewestTwoHundredAndRecentOnes)
{
    QTemporaryDir dir;
    RestorePoints points(dir.path());
    ASSERT_TRUE(WriteRaw(dir.filePath(QStringLiteral("notes.txt")), "mine"));
    const QDateTime old = Noon.addDays(-200);
    // Two old ones first, then 200 more on one day long ago, and the kept newest: 203 points
    // of which two are beyond the newest 200 and older than 90 days.
    std::vector<QString> names;
    for (int i = 0; i < 203; ++i) {
        const QDateTime at = i < 2 ? old.addSecs(i) : old.addDays(100).addSecs(i);
        const PointKept k = points.Keep(Image(uint8_t(i)), {}, QStringLiteral("before edits"), {}, at);
        ASSERT_TRUE(k.ok) << k.reason.toStdString();
        names.push_back(k.name);
    }
    // Each point kept prunes against its own time: the two old ones went as the 201st and the
    // 202nd were kept; the third is beyond the newest 200 too, but within 90 days of them.
    PointListing listing = points.List();
    EXPECT_EQ(listing.points.size(), 202u);   // 201 points and notes.txt
    EXPECT_FALSE(QFile::exists(points.ImageFile(names[0])));
    EXPECT_FALSE(QFile::exists(points.ImageFile(names[1])));
    EXPECT_TRUE(QFile::exists(points.ImageFile(names[2])));

    // A hundred days on, it is older than 90 days as well.
    EXPECT_EQ(points.Prune(Noon), 1);
    listing = points.List();
    EXPECT_EQ(listing.points.size(), 201u);
    EXPECT_FALSE(QFile::exists(points.ImageFile(names[2])));
    EXPECT_TRUE(QFile::exists(points.ImageFile(names[3])));
    EXPECT_EQ(listing.points.front().name, names.back());
    EXPECT_EQ(ReadRaw(dir.filePath(QStringLiteral("notes.txt"))), "mine");
    const QJsonObject index = QJsonDocument::fromJson(ReadRaw(dir.filePath(QLatin1String(RestorePoints::IndexName)))).object();
    EXPECT_EQ(index.value(QStringLiteral("points")).toArray().size(), 200);
}

// A full disk (here the file size limit) refuses the point and leaves nothing of it behind;
// the next point, with room again, is kept.
TEST(RestorePoints, ARefusedWriteLeavesNothingBehind)
{
    QTemporaryDir dir;
    RestorePoints points(dir.path());
    ASSERT_TRUE(points.Keep(Image(1), QStringLiteral("first"), QStringLiteral("before edits"), {}, Noon).ok);
    const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    const QByteArray indexBefore = ReadRaw(dir.filePath(QLatin1String(RestorePoints::IndexName)));

    rlimit was{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &was), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);   // a failed write, not a signal
    rlimit capped = was;
    capped.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
    const PointKept refused = points.Keep(Image(2), QStringLiteral("second"), QStringLiteral("before edits"), {}, Noon.addSecs(1));
    setrlimit(RLIMIT_FSIZE, &was);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(refused.ok);
    EXPECT_FALSE(refused.reason.isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);
    EXPECT_EQ(ReadRaw(dir.filePath(QLatin1String(RestorePoints::IndexName))), indexBefore);
    EXPECT_TRUE(points.Keep(Image(2), {}, QStringLiteral("before edits"), {}, Noon.addSecs(2)).ok);
    EXPECT_EQ(points.List().points.size(), 2u);
}
