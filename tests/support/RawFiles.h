// Whole files as bytes, for tests that make a file by hand or check one byte for byte.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

inline bool WriteRaw(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// "<missing>" for a file that cannot be read, so that a comparison fails with a readable text.
inline QByteArray ReadRaw(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
