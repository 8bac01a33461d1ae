#include "logging/LogCalibrations.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace logging {

namespace {

const QString Format = QStringLiteral("Quenrix log calibrations");

QJsonObject Root(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return {};
    const QJsonObject root = doc.object();
    return root.value(QStringLiteral("format")).toString() == Format ? root : QJsonObject();
}

}  // namespace

QString CalibrationSideFile(const QString& logFile) { return logFile + QStringLiteral(".json"); }

std::vector<LogStretchRange> StretchRanges(const std::vector<LogState::Stretch>& stretches, int samples)
{
    std::vector<LogStretchRange> ranges;
    for (size_t i = 0; i < stretches.size(); ++i) {
        const int first = std::max(0, stretches[i].first);
        const int end = std::min(samples, i + 1 < stretches.size() ? stretches[i + 1].first : samples);
        if (end <= first) continue;
        ranges.push_back({first, end - 1, stretches[i].point, stretches[i].checksum});
    }
    return ranges;
}

QByteArray EncodeLogCalibrations(const std::vector<LogStretchRange>& ranges, int samples)
{
    QJsonArray array;
    for (const LogStretchRange& r : ranges) {
        QJsonObject o;
        o.insert(QStringLiteral("first"), r.first);
        o.insert(QStringLiteral("last"), r.last);
        o.insert(QStringLiteral("point"), r.point.isEmpty() ? QJsonValue() : QJsonValue(r.point));
        o.insert(QStringLiteral("sha256"), r.point.isEmpty() ? QJsonValue() : QJsonValue(QString::fromLatin1(r.checksum)));
        array.append(o);
    }
    QJsonObject root;
    root.insert(QStringLiteral("format"), Format);
    root.insert(QStringLiteral("version"), 1);
    root.insert(QStringLiteral("samples"), samples);
    root.insert(QStringLiteral("stretches"), array);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<std::vector<LogStretchRange>> DecodeLogCalibrations(const QByteArray& bytes, int samples, QString* problem)
{
    const QJsonObject root = Root(bytes);
    if (root.isEmpty()) {
        *problem = QStringLiteral("it is not a log calibration file");
        return std::nullopt;
    }
    if (root.value(QStringLiteral("samples")).toInt(-1) != samples) {
        *problem = QStringLiteral("it was written for a log of %1 samples, and this one holds %2")
                       .arg(root.value(QStringLiteral("samples")).toInt(-1))
                       .arg(samples);
        return std::nullopt;
    }
    std::vector<LogStretchRange> ranges;
    int next = 0;
    for (const QJsonValue& v : root.value(QStringLiteral("stretches")).toArray()) {
        const QJsonObject o = v.toObject();
        LogStretchRange r;
        r.first = o.value(QStringLiteral("first")).toInt(-1);
        r.last = o.value(QStringLiteral("last")).toInt(-1);
        r.point = o.value(QStringLiteral("point")).toString();
        r.checksum = o.value(QStringLiteral("sha256")).toString().toLatin1();
        // In order, without overlap, inside the log: anything else describes another log.
        if (r.first < next || r.last < r.first || r.last >= samples) {
            *problem = QStringLiteral("its stretches do not fit this log");
            return std::nullopt;
        }
        next = r.last + 1;
        ranges.push_back(r);
    }
    return ranges;
}

bool IsLogCalibrationFile(const QByteArray& bytes) { return !Root(bytes).isEmpty(); }

}  // namespace logging
