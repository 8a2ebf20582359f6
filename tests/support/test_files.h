#pragma once

#include <QByteArray>
#include <QString>

// Writes `bytes` to `path` whole, replacing the file; a failure fails the test.
void WriteTestFile(const QString& path, const QByteArray& bytes);

// The whole file, or "<missing>" when it cannot be read, so that a missing file
// shows as such in a comparison.
QByteArray ReadTestFile(const QString& path);
