#pragma once

#include <QByteArray>

#include <cstdint>

// Compressors for the site's response bodies (the site's side of content coding).
QByteArray GzipBytes(const QByteArray& data);
QByteArray BrotliBytes(const QByteArray& data);

// A body of `size` zero bytes, coded: a "bomb" that a few hundred kilobytes carry.
// Made a piece at a time, so the plain bytes are never all in memory.
QByteArray GzipOfZeros(int64_t size);
QByteArray BrotliOfZeros(int64_t size);
