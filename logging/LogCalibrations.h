// The side file of a saved log, "<name>.qxl.json": which calibration each stretch of the log was
// recorded with, as restore points named with their checksums. The log file itself stays as it
// always was; a tool that knows nothing of this file loses nothing.
//
//   {"format": "Quenrix log calibrations", "version": 1, "samples": 1234,
//    "stretches": [
//      {"first": 0, "last": 611, "point": "2026-12-09 17-45-12 after-reading-the-ecu",
//       "sha256": "…64 hex digits of the point's 500 image bytes…"},
//      {"first": 612, "last": 1233, "point": null, "sha256": null}   (no point could be kept)
//    ]}
//
// "first" and "last" are sample numbers (0 is the file's first line), both included; the
// stretches follow one another without a gap. "samples" lets a reader tell a side file that
// belongs to another version of the log.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

#include "logging/LogState.h"

namespace logging {

QString CalibrationSideFile(const QString& logFile);   // "<logFile>.json"

struct LogStretchRange {
    int first = 0;
    int last = 0;
    QString point;
    QByteArray checksum;
};

// The stretches as ranges of a log of `samples` samples; stretches without a sample are left out.
std::vector<LogStretchRange> StretchRanges(const std::vector<LogState::Stretch>& stretches, int samples);

QByteArray EncodeLogCalibrations(const std::vector<LogStretchRange>& ranges, int samples);

// The stretches of a side file, or nullopt and the words when it is none of ours, damaged, or
// written for a log of another length.
std::optional<std::vector<LogStretchRange>> DecodeLogCalibrations(const QByteArray& bytes, int samples, QString* problem);

// True when the bytes are a side file of ours (whatever log it was written for).
bool IsLogCalibrationFile(const QByteArray& bytes);

}  // namespace logging
