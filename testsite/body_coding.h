#pragma once

#include <QByteArray>

// Compressors for the site's response bodies (the site's side of content coding).
QByteArray GzipBytes(const QByteArray& data);
QByteArray BrotliBytes(const QByteArray& data);
