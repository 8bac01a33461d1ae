#include "calibration/ImageDiff.h"

#include <QFileInfo>
#include <QStringList>

namespace calibration {

namespace {

QString ValueText(std::optional<int> value)
{
    return value ? QString::number(*value) : QStringLiteral("not known");
}

// "columns 3, 4, 12" or, for many, "17 cells"
QString ColumnsText(const MapDifference& map)
{
    if (int(map.columns.size()) == map.map->columns) return QStringLiteral("every cell");
    if (map.columns.size() > 6) return QStringLiteral("%1 cells").arg(map.columns.size());
    QStringList columns;
    for (int c : map.columns) columns << QString::number(Breakpoint(*map.map, c));
    return (map.columns.size() == 1 ? QStringLiteral("the cell at ") : QStringLiteral("the cells at "))
           + columns.join(QStringLiteral(", "));
}

}  // namespace

ImageDifference CompareWithEcu(const EepromImage& file, const EcuByteAt& ecu)
{
    ImageDifference d;
    std::array<std::optional<uint8_t>, ImageSize> held;
    for (int a = 0; a < ImageSize; ++a) {
        held[size_t(a)] = ecu(uint16_t(a));
        if (held[size_t(a)] == file[size_t(a)]) continue;
        d.addresses.push_back(uint16_t(a));
        if (!held[size_t(a)]) ++d.unknown;
    }
    std::array<bool, ImageSize> named{};
    for (const MapLayout& map : Maps) {
        MapDifference m{&map, {}};
        for (int c = 0; c < map.columns; ++c) {
            const int a = map.base + c;
            named[size_t(a)] = true;
            if (held[size_t(a)] != file[size_t(a)]) m.columns.push_back(c);
        }
        if (!m.columns.empty()) d.maps.push_back(std::move(m));
    }
    for (const SettingLayout& setting : Settings) {
        const size_t a = size_t(setting.address);
        named[a] = true;
        if (held[a] == file[a]) continue;
        const std::optional<int> ecuValue =
            held[a] ? std::optional<int>(ShownValue(setting.encoding, *held[a])) : std::nullopt;
        d.settings.push_back({&setting, ecuValue, ShownValue(setting.encoding, file[a])});
    }
    for (uint16_t a : d.addresses)
        if (!named[a]) d.others.push_back(a);
    return d;
}

QString UploadQuestion(const QString& file, const ImageDifference& d)
{
    const QString name = QFileInfo(file).fileName();
    if (d.Equal())
        return QStringLiteral("%1 holds the same calibration as the ECU: there is nothing to upload.").arg(name);
    QStringList lines;
    lines << QStringLiteral("%1 changes %2 of the ECU's 500 bytes%3:")
                 .arg(name)
                 .arg(d.addresses.size())
                 .arg(d.unknown ? QStringLiteral(" (%1 of them the ECU's value is not known)").arg(d.unknown)
                                : QString());
    for (const MapDifference& m : d.maps)
        lines << QStringLiteral("  %1: %2").arg(QString::fromUtf8(m.map->title), ColumnsText(m));
    for (const SettingDifference& s : d.settings)
        lines << QStringLiteral("  %1: %2 \u2192 %3")
                     .arg(QString::fromUtf8(AccessibleName(*s.setting)), ValueText(s.ecuValue))
                     .arg(s.fileValue);
    if (!d.others.empty()) {
        QStringList addresses;
        for (uint16_t a : d.others) addresses << QString::number(a);
        lines << QStringLiteral("  other bytes at %1").arg(addresses.join(QStringLiteral(", ")));
    }
    lines << QString() << QStringLiteral("Upload it to the ECU?");
    return lines.join(QLatin1Char('\n'));
}

QString UploadBlindQuestion(const QString& file)
{
    return QStringLiteral("What the ECU holds is not known: its calibration has not been read. "
                          "Upload %1 to the ECU all the same? Every one of its 500 bytes will be written.")
        .arg(QFileInfo(file).fileName());
}

}  // namespace calibration
