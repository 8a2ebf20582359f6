#pragma once

#include <QByteArray>

// Test-side encoders, so decoding cases are built from known plain bytes.
enum class TDeflateFormat { Zlib, Gzip, Raw };

QByteArray Deflate(const QByteArray& plain, TDeflateFormat format);
// Reproducible text of `size` bytes that compresses like an HTML page.
QByteArray SampleHtml(int size);
