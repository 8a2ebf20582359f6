#pragma once

#include <QByteArray>

#include <cstdint>

// Compressors for the site's response bodies (the site's side of content coding).
enum class TDeflateFormat { Zlib, Gzip, Raw };

// Deflate data of `plain` in a zlib or gzip wrapper or bare, at zlib's `level`.
QByteArray Deflate(const QByteArray& plain, TDeflateFormat format, int level = 6);
QByteArray GzipBytes(const QByteArray& data); // the site's level: the best compression
QByteArray BrotliBytes(const QByteArray& data);

// A body of `size` zero bytes, coded: a "bomb" that a few hundred kilobytes carry.
// Made a piece at a time, so the plain bytes are never all in memory.
QByteArray GzipOfZeros(int64_t size);
QByteArray BrotliOfZeros(int64_t size);

// Reproducible text of `size` bytes that compresses like an HTML page.
QByteArray SampleHtml(int size);
