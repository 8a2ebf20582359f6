#pragma once

#include <QByteArray>
#include <QString>

// Conversions between bytes and UTF-16 text. Pure functions, any thread.

// UTF-8 to text. Every malformed or truncated sequence becomes U+FFFD (one per
// maximal invalid subpart), a leading byte-order mark stays as U+FEFF, and code
// points above U+FFFF become surrogate pairs.
QString DecodeUtf8(const QByteArray& bytes);

// True when the bytes are well-formed UTF-8 (no overlongs, surrogates or codes
// beyond U+10FFFF).
bool IsValidUtf8(const QByteArray& bytes);

// Text to UTF-8. A lone surrogate, which UTF-8 cannot carry, is written as U+FFFD.
QByteArray EncodeUtf8(const QString& text);

// Windows-1251 bytes to text; the one unassigned byte 0x98 maps to U+0098.
QString DecodeWindows1251(const QByteArray& bytes);

// The system's default 8-bit code page: bytes that are valid UTF-8 are read as
// UTF-8, anything else as Windows-1251 (files made on Windows in the site's region).
QString DecodeDefaultCodePage(const QByteArray& bytes);

// Text written "in the default code page" is written as UTF-8 without a mark.
QByteArray EncodeDefaultCodePage(const QString& text);

// At most `max` code units of the text from its start, one fewer where the cut
// would split a surrogate pair: a text cut to a limit stays well-formed.
QString LeftWhole(const QString& text, qsizetype max);
