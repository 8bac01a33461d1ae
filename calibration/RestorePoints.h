// Restore points: every calibration the ECU held at a moment that mattered (read, before an
// upload, before a burst of edits, ...) kept in the user's data folder, so that a tuner can go
// back to how the engine ran an hour ago. Each point is a calibration pair in the program's own
// formats (".qxe" image, ".qxc" description) plus a line of a small index, "index.json":
//
//   {"format": "Quenrix restore points", "version": 1, "points": [
//     {"name": "2026-12-09 17-45-12 after-reading-the-ecu",   the files' base name
//      "time": "2026-12-09T17:45:12.345+01:00",                when it was kept (ISO 8601)
//      "cause": "after reading the ECU",                       why
//      "ecuVersion": "Ver 4.2",                                the ECU's firmware, as shown
//      "sha256": "…64 hex digits…",                           of the 500 image bytes
//      "against": "<name of the point before>" or null,        what the summary compares with
//      "bytes": 3, "maps": ["Fuel"], "settings": ["Idle Fuel"] the summary: what differs
//     }, …]}
//
// Points are only ever added under a name nobody has taken and removed by pruning: a point never
// replaces another. Files in the folder that are not points are listed as such and never removed.
// A damaged index costs the summaries, never the points: they are listed from their files.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "calibration/CalibrationFiles.h"
#include "calibration/ImageLayout.h"

namespace calibration {

// $XDG_DATA_HOME/Quenrix/restore points (~/.local/share/Quenrix/restore points by default), or
// the folder set below.
QString RestorePointFolder();
// Points of a session that must leave the user's folder alone (the demo: its ECU is a simulator
// and its calibrations no engine's) go to this folder instead. Empty: the user's folder.
void SetRestorePointFolder(const QString& folder);

// What changed against the point before: bytes, and the maps and settings they belong to.
struct PointSummary {
    bool first = true;   // no point before it to compare with
    QString against;     // the point compared with
    int bytes = 0;
    QStringList maps;    // titles, in map order
    QStringList settings;   // accessible names, in address order
};
// "first point", "no change", "3 bytes: Fuel; Idle Fuel".
QString SummaryText(const PointSummary& summary);
PointSummary Summarize(const EepromImage& image, const EepromImage* before, const QString& beforeName);

// SHA-256 of the 500 bytes, lower-case hex.
QByteArray ImageChecksum(const EepromImage& image);

struct RestorePoint {
    enum class State {
        Ok,          // indexed, both files there, the image as it was kept
        Unindexed,   // a whole pair the index does not know (the index was damaged or lost)
        Damaged,     // ours, but a file is missing, of the wrong size, or not what was kept
        Foreign,     // a file that is no restore point
    } state = State::Ok;
    QString name;        // the files' base name; for a foreign file its file name
    QDateTime time;      // invalid when not known
    QString cause;
    QString ecuVersion;
    QByteArray checksum;
    PointSummary summary;
    QString problem;     // Damaged and Foreign: what is wrong, in words
};

struct PointListing {
    std::vector<RestorePoint> points;   // newest first; damaged and foreign files last
    bool indexDamaged = false;
    QString indexProblem;
    qint64 folderSize = 0;              // bytes of every file in the folder
};

struct PointKept {
    bool ok = false;
    QString name;        // the point's name (ok)
    QByteArray checksum;
    PointSummary summary;
    QString reason;      // why it was not kept (not ok)
};

class RestorePoints {
public:
    explicit RestorePoints(QString folder = RestorePointFolder());
    const QString& Folder() const { return folder_; }

    // Keeps a new point, then prunes. Refused (ok false) when the folder, either file or the index
    // cannot be written: nothing of the new point is left behind then.
    PointKept Keep(const EepromImage& image, const QString& description, const QString& cause,
                   const QString& ecuVersion, const QDateTime& now = QDateTime::currentDateTime());

    PointListing List() const;

    // A point's calibration, as a file load reads it; the image checked against its checksum
    // (a point changed behind our back reads as WrongSize-free but is refused as CannotOpen).
    CalibrationRead Read(const QString& name) const;
    QString ImageFile(const QString& name) const;

    // Points beyond the newest KeepNewest that are older than KeepDays are removed with their index
    // lines; foreign files stay. The number of points removed.
    int Prune(const QDateTime& now = QDateTime::currentDateTime());

    static constexpr int KeepNewest = 200;
    static constexpr int KeepDays = 90;
    static constexpr const char* IndexName = "index.json";

private:
    QString folder_;
};

// A point's name: the local time and the cause as letters, digits and dashes.
QString PointName(const QDateTime& time, const QString& cause);

}  // namespace calibration
