#include "calibration/RestorePoints.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <algorithm>
#include <cstring>
#include <map>

#include "base/RegularFile.h"
#include "base/SaveFile.h"
#include "calibration/ImageDiff.h"

namespace calibration {

namespace {

const QString ImageSuffix = QStringLiteral(".qxe");
const QString SideSuffix = QStringLiteral(".qxc");
const QString IndexFormat = QStringLiteral("Quenrix restore points");
constexpr int IndexVersion = 1;
constexpr qint64 MaxIndexBytes = qint64(16) << 20;   // some 40,000 points: far beyond pruning's reach
const QString NameTimeFormat = QStringLiteral("yyyy-MM-dd HH-mm-ss");

struct Index {
    std::vector<QJsonObject> points;   // in the order kept
    bool exists = false;
    bool damaged = false;
    QString problem;
};

Index LoadIndex(const QString& folder)
{
    Index index;
    const QString path = folder + QLatin1Char('/') + QLatin1String(RestorePoints::IndexName);
    if (!QFileInfo::exists(path)) return index;
    index.exists = true;
    const base::FileBytes file = base::ReadRegularFile(path, MaxIndexBytes);
    if (file.status != base::FileBytes::Ok) {
        index.damaged = true;
        index.problem = file.status == base::FileBytes::TooLarge ? QStringLiteral("the index is too large")
                                                                 : file.reason;
        return index;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.bytes, &error);
    const QJsonObject root = doc.object();
    if (error.error != QJsonParseError::NoError || !doc.isObject() || root.value(QStringLiteral("format")).toString() != IndexFormat
        || !root.value(QStringLiteral("points")).isArray()) {
        index.damaged = true;
        index.problem = QStringLiteral("the index is not a restore point index");
        return index;
    }
    for (const QJsonValue& v : root.value(QStringLiteral("points")).toArray())
        if (v.isObject() && !v.toObject().value(QStringLiteral("name")).toString().isEmpty())
            index.points.push_back(v.toObject());
    return index;
}

bool SaveIndex(const QString& folder, const std::vector<QJsonObject>& points, QString* reason)
{
    QJsonArray array;
    for (const QJsonObject& p : points) array.append(p);
    QJsonObject root;
    root.insert(QStringLiteral("format"), IndexFormat);
    root.insert(QStringLiteral("version"), IndexVersion);
    root.insert(QStringLiteral("points"), array);
    return base::SaveFile(folder + QLatin1Char('/') + QLatin1String(RestorePoints::IndexName),
                          QJsonDocument(root).toJson(QJsonDocument::Indented), reason);
}

QJsonObject Entry(const QString& name, const QDateTime& time, const QString& cause, const QString& ecuVersion,
                  const QByteArray& checksum, const PointSummary& s)
{
    QJsonObject o;
    o.insert(QStringLiteral("name"), name);
    o.insert(QStringLiteral("time"), time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("cause"), cause);
    o.insert(QStringLiteral("ecuVersion"), ecuVersion);
    o.insert(QStringLiteral("sha256"), QString::fromLatin1(checksum));
    o.insert(QStringLiteral("against"), s.first ? QJsonValue() : QJsonValue(s.against));
    o.insert(QStringLiteral("bytes"), s.bytes);
    o.insert(QStringLiteral("maps"), QJsonArray::fromStringList(s.maps));
    o.insert(QStringLiteral("settings"), QJsonArray::fromStringList(s.settings));
    return o;
}

RestorePoint FromEntry(const QJsonObject& o)
{
    RestorePoint p;
    p.name = o.value(QStringLiteral("name")).toString();
    p.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    p.cause = o.value(QStringLiteral("cause")).toString();
    p.ecuVersion = o.value(QStringLiteral("ecuVersion")).toString();
    p.checksum = o.value(QStringLiteral("sha256")).toString().toLatin1();
    const QJsonValue against = o.value(QStringLiteral("against"));
    p.summary.first = !against.isString();
    p.summary.against = against.toString();
    p.summary.bytes = o.value(QStringLiteral("bytes")).toInt();
    for (const QJsonValue& m : o.value(QStringLiteral("maps")).toArray()) p.summary.maps << m.toString();
    for (const QJsonValue& s : o.value(QStringLiteral("settings")).toArray()) p.summary.settings << s.toString();
    return p;
}

// What a name alone says of a point the index does not know: "2026-12-09 17-45-12 before-edits".
void FromName(RestorePoint* p)
{
    p->time = QDateTime::fromString(p->name.left(NameTimeFormat.size()), NameTimeFormat);
    p->cause = p->name.mid(NameTimeFormat.size() + 1).replace(QLatin1Char('-'), QLatin1Char(' '));
}

bool LooksLikePointName(const QString& base)
{
    return QDateTime::fromString(base.left(NameTimeFormat.size()), NameTimeFormat).isValid();
}

// Reads a point's image: nullopt with the words when it is missing or not 500 bytes.
std::optional<EepromImage> ReadPointImage(const QString& path, QString* problem)
{
    const ImageFileRead read = ReadImageFile(path);
    switch (read.status) {
    case ImageFileRead::Ok: return read.image;
    case ImageFileRead::CannotOpen: *problem = QStringLiteral("its image cannot be read: %1").arg(read.reason); break;
    case ImageFileRead::WrongSize:
        *problem = QStringLiteral("its image holds %1 bytes instead of %2").arg(read.size).arg(ImageSize);
        break;
    }
    return std::nullopt;
}

void RemovePointFiles(const QString& folder, const QString& name)
{
    QFile::remove(folder + QLatin1Char('/') + name + ImageSuffix);
    QFile::remove(folder + QLatin1Char('/') + name + SideSuffix);
}

QString& FolderOverride()
{
    static QString folder;
    return folder;
}

}  // namespace

void SetRestorePointFolder(const QString& folder) { FolderOverride() = folder; }

QString RestorePointFolder()
{
    if (!FolderOverride().isEmpty()) return FolderOverride();
    // GenericDataLocation follows XDG_DATA_HOME and falls back to ~/.local/share.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Quenrix/restore points");
}

QString PointName(const QDateTime& time, const QString& cause)
{
    QString slug;
    for (const QChar c : cause.toLower()) {
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            slug += c;
        else if (!slug.isEmpty() && !slug.endsWith(QLatin1Char('-')))
            slug += QLatin1Char('-');
    }
    slug = slug.left(48);
    while (slug.endsWith(QLatin1Char('-'))) slug.chop(1);
    if (slug.isEmpty()) slug = QStringLiteral("point");
    return time.toString(NameTimeFormat) + QLatin1Char(' ') + slug;
}

QByteArray ImageChecksum(const EepromImage& image)
{
    return QCryptographicHash::hash(QByteArrayView(image.data(), ImageSize), QCryptographicHash::Sha256).toHex();
}

PointSummary Summarize(const EepromImage& image, const EepromImage* before, const QString& beforeName)
{
    PointSummary s;
    if (!before) return s;
    s.first = false;
    s.against = beforeName;
    const ImageDifference d =
        CompareWithEcu(image, [before](uint16_t a) { return std::optional<uint8_t>((*before)[a]); });
    s.bytes = int(d.addresses.size());
    for (const MapDifference& m : d.maps) s.maps << QString::fromUtf8(m.map->title);
    for (const SettingDifference& st : d.settings) s.settings << QString::fromUtf8(AccessibleName(*st.setting));
    return s;
}

QString SummaryText(const PointSummary& s)
{
    if (s.first) return QStringLiteral("first point");
    if (s.bytes == 0) return QStringLiteral("no change");
    QString text = s.bytes == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(s.bytes);
    const QStringList named = s.maps + s.settings;
    if (!named.isEmpty()) text += QStringLiteral(": ") + named.join(QStringLiteral(", "));
    return text;
}

RestorePoints::RestorePoints(QString folder) : folder_(std::move(folder)) {}

QString RestorePoints::ImageFile(const QString& name) const { return folder_ + QLatin1Char('/') + name + ImageSuffix; }

PointKept RestorePoints::Keep(const EepromImage& image, const QString& description, const QString& cause,
                              const QString& ecuVersion, const QDateTime& now)
{
    PointKept kept;
    if (!QDir().mkpath(folder_)) {
        kept.reason = QStringLiteral("the folder %1 cannot be made").arg(folder_);
        return kept;
    }
    Index index = LoadIndex(folder_);
    if (index.damaged) {
        // The points stand in their files; the index is built again from what they tell.
        for (const RestorePoint& p : List().points)
            if (p.state == RestorePoint::State::Ok || p.state == RestorePoint::State::Unindexed) {
                RestorePoint q = p;
                QString ignored;
                const std::optional<EepromImage> img = ReadPointImage(ImageFile(p.name), &ignored);
                if (!img) continue;
                index.points.insert(index.points.begin(),
                                    Entry(p.name, p.time.isValid() ? p.time : now, p.cause, p.ecuVersion,
                                          ImageChecksum(*img), p.summary));
            }
    }

    // The summary compares with the newest point that can still be read.
    std::optional<EepromImage> before;
    QString beforeName;
    for (auto it = index.points.rbegin(); it != index.points.rend() && !before; ++it) {
        QString ignored;
        beforeName = it->value(QStringLiteral("name")).toString();
        before = ReadPointImage(ImageFile(beforeName), &ignored);
    }
    kept.summary = Summarize(image, before ? &*before : nullptr, beforeName);
    kept.checksum = ImageChecksum(image);

    const QByteArray imageBytes(reinterpret_cast<const char*>(image.data()), ImageSize);
    const QByteArray sideBytes = EncodeDescription(description);
    auto put = [](const QByteArray& bytes) {
        return [bytes](const base::FilePut& p) { return p(bytes.constData(), size_t(bytes.size())); };
    };
    const QString stem = PointName(now, cause);
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const QString name = attempt == 1 ? stem : stem + QStringLiteral(" (%1)").arg(attempt);
        QString reason;
        const base::NewFile img = base::SaveNewFile(ImageFile(name), put(imageBytes), &reason);
        if (img == base::NewFile::NameTaken) continue;
        if (img == base::NewFile::Failed) {
            kept.reason = reason;
            return kept;
        }
        const QString side = folder_ + QLatin1Char('/') + name + SideSuffix;
        const base::NewFile desc = base::SaveNewFile(side, put(sideBytes), &reason);
        if (desc != base::NewFile::Saved) {
            QFile::remove(ImageFile(name));   // ours, made a moment ago
            if (desc == base::NewFile::NameTaken) continue;
            kept.reason = reason;
            return kept;
        }
        index.points.push_back(Entry(name, now, cause, ecuVersion, kept.checksum, kept.summary));
        if (!SaveIndex(folder_, index.points, &reason)) {
            RemovePointFiles(folder_, name);
            kept.reason = reason;
            return kept;
        }
        kept.ok = true;
        kept.name = name;
        Prune(now);
        return kept;
    }
    kept.reason = QStringLiteral("every name for it is taken");
    return kept;
}

PointListing RestorePoints::List() const
{
    PointListing listing;
    const Index index = LoadIndex(folder_);
    listing.indexDamaged = index.damaged;
    listing.indexProblem = index.problem;
    std::map<QString, std::pair<size_t, QJsonObject>> indexed;
    for (size_t i = 0; i < index.points.size(); ++i)
        indexed[index.points[i].value(QStringLiteral("name")).toString()] = {i, index.points[i]};

    QDir dir(folder_);
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::System,
                                                  QDir::Name);
    std::vector<std::pair<qint64, RestorePoint>> ours;   // (order in the index or -1, point)
    std::vector<RestorePoint> others;
    std::map<QString, bool> seen;
    for (const QFileInfo& info : files) {
        listing.folderSize += info.isFile() ? info.size() : 0;
        const QString file = info.fileName();
        if (file == QLatin1String(IndexName)) continue;
        const bool image = file.endsWith(ImageSuffix), side = file.endsWith(SideSuffix);
        const QString base = file.left(file.size() - 4);
        if (side && QFileInfo::exists(folder_ + QLatin1Char('/') + base + ImageSuffix)) continue;   // with its image
        if (!info.isFile() || (!image && !side) || (!indexed.count(base) && !LooksLikePointName(base))) {
            RestorePoint p;
            p.state = RestorePoint::State::Foreign;
            p.name = file;
            p.problem = info.isDir() ? QStringLiteral("a folder, not a restore point") : QStringLiteral("not a restore point");
            others.push_back(p);
            continue;
        }
        seen[base] = true;
        const auto it = indexed.find(base);
        RestorePoint p;
        if (it != indexed.end()) p = FromEntry(it->second.second);
        else {
            p.name = base;
            FromName(&p);
            p.state = RestorePoint::State::Unindexed;
        }
        if (side) {
            p.state = RestorePoint::State::Damaged;
            p.problem = QStringLiteral("its image file is missing");
        } else if (!QFileInfo::exists(folder_ + QLatin1Char('/') + base + SideSuffix)) {
            p.state = RestorePoint::State::Damaged;
            p.problem = QStringLiteral("its description file is missing");
        } else if (const std::optional<EepromImage> img = ReadPointImage(info.filePath(), &p.problem); !img) {
            p.state = RestorePoint::State::Damaged;
        } else if (it != indexed.end() && ImageChecksum(*img) != p.checksum) {
            p.state = RestorePoint::State::Damaged;
            p.problem = QStringLiteral("its image has changed since it was kept");
        } else if (it == indexed.end()) {
            p.checksum = ImageChecksum(*img);
        }
        ours.push_back({it != indexed.end() ? qint64(it->second.first) : -1, p});
    }
    for (const auto& [name, entry] : indexed) {
        if (seen.count(name)) continue;
        RestorePoint p = FromEntry(entry.second);
        p.state = RestorePoint::State::Damaged;
        p.problem = QStringLiteral("its files are missing");
        ours.push_back({qint64(entry.first), p});
    }
    // Newest first: by time, and points of the same moment by the order they were kept.
    std::stable_sort(ours.begin(), ours.end(), [](const auto& a, const auto& b) {
        if (a.second.time != b.second.time) return a.second.time > b.second.time;
        return a.first > b.first;
    });
    for (auto& [order, p] : ours) listing.points.push_back(std::move(p));
    for (RestorePoint& p : others) listing.points.push_back(std::move(p));
    return listing;
}

CalibrationRead RestorePoints::Read(const QString& name) const
{
    CalibrationRead read = ReadCalibrationFiles(ImageFile(name));
    if (read.image.status != ImageFileRead::Ok) return read;
    for (const RestorePoint& p : List().points) {
        if (p.name != name) continue;
        if (p.state == RestorePoint::State::Damaged || p.state == RestorePoint::State::Foreign) {
            read.image.status = ImageFileRead::CannotOpen;
            read.image.reason = p.problem;
        }
        break;
    }
    return read;
}

int RestorePoints::Prune(const QDateTime& now)
{
    Index index = LoadIndex(folder_);
    if (index.damaged) return 0;   // built again by the next point kept; nothing removed blind
    // Within the newest KeepNewest there is nothing to look at: a point is kept without reading
    // the folder. (Pairs the index lost are counted again once it grows past them.)
    if (index.points.size() <= size_t(KeepNewest)) return 0;
    const QDateTime limit = now.addDays(-KeepDays);
    std::vector<RestorePoint> points;
    for (const RestorePoint& p : List().points)
        if (p.state != RestorePoint::State::Foreign) points.push_back(p);
    int removed = 0;
    std::vector<QString> gone;
    for (size_t i = KeepNewest; i < points.size(); ++i) {
        if (!points[i].time.isValid() || points[i].time >= limit) continue;
        RemovePointFiles(folder_, points[i].name);
        gone.push_back(points[i].name);
        ++removed;
    }
    if (gone.empty()) return 0;
    index.points.erase(std::remove_if(index.points.begin(), index.points.end(),
                                      [&](const QJsonObject& o) {
                                          return std::find(gone.begin(), gone.end(),
                                                           o.value(QStringLiteral("name")).toString()) != gone.end();
                                      }),
                       index.points.end());
    QString ignored;
    SaveIndex(folder_, index.points, &ignored);   // a stale line only lists a point as missing
    return removed;
}

}  // namespace calibration
