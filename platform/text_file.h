#pragma once

#include "platform/exception.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Reading the system's text files (city list, selection, work lists, skip list).
// Pure functions apart from ReadTextFileLines, any thread.

// A text file that could not be read; the message names the file and the reason.
class ETextFileError : public Exception {
public:
    using Exception::Exception;
};

// Decodes a file's bytes by their byte-order mark: EF BB BF is UTF-8, FF FE UTF-16
// little endian, FE FF UTF-16 big endian (the mark itself is not part of the
// text); without a mark, the default code page.
QString DecodeTextFileBytes(const QByteArray& bytes);

// Splits at CR LF, CR or LF. A final line break adds no empty line, so an empty
// text has no lines and "a\r\n" has one.
QStringList SplitLines(const QString& text);

// The bytes of a whole file. Raises ETextFileError.
QByteArray ReadFileBytes(const QString& path);

// The lines of a file, decoded as DecodeTextFileBytes does.
QStringList ReadTextFileLines(const QString& path);
