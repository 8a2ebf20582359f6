#pragma once

#include "platform/exception.h"

#include <QString>
#include <QStringList>

// The text helpers that page extraction, the data file and the controller rest on.
// Positions count UTF-16 code units from 1; searches are exact and case-sensitive.
// Every function is total and linear in its input; only SaveListFile touches a file.
// Pure functions, any thread.

// A list file that could not be created or written; the message names the path
// and the reason.
class EListFileError : public Exception {
public:
    using Exception::Exception;
};

// The text after the first `startMarker` (or, when `secondMarker` is not empty,
// after the first `secondMarker` that follows it) up to the first `endMarker`
// after that. Empty when any marker is missing; an empty marker never occurs.
QString ExtractBetween(const QString& text, const QString& startMarker, const QString& secondMarker,
                       const QString& endMarker);

// The mirror of ExtractBetween: the last `startMarker` is the right boundary (or
// the last `secondMarker` lying wholly before it), and the last `endMarker` lying
// wholly before that is the left boundary.
QString ExtractBetweenBack(const QString& text, const QString& startMarker,
                           const QString& secondMarker, const QString& endMarker);

// Position from 1 of the last occurrence of `sub` lying wholly within the first
// `limit` characters of `text`, or 0. A NUL character ends the searched part.
int LastPosBefore(const QString& sub, const QString& text, int limit);

// Markup snippet to plain text: character references decoded, fifteen fixed
// replacements (so no semicolon survives), tags removed. Does not trim.
QString HtmlToText(const QString& text);

// Decodes "&amp;", "&lt;", "&gt;", "&laquo;", "&raquo;", "&nbsp;", "&quot;" and
// numeric references in one left-to-right pass; anything else after "&" is kept.
// A NUL ends the text. Never longer than its input.
QString HtmlDecode(const QString& text);

// Every occurrence of `oldText`, left to right without overlap; inserted text is
// not searched again. An empty `oldText` changes nothing.
QString ReplaceAll(const QString& text, const QString& oldText, const QString& newText);

// Every double quote becomes an apostrophe.
QString QuoteToApostrophe(const QString& text);

// True when the text begins with "https://" or "http://", in any letter case: the
// only links the crawl can fetch (over HTTPS, whichever of the two they name).
bool HasWebScheme(const QString& url);

// The link key of an absolute link: the text without its "https://" or "http://"
// (in any letter case). Any other text has no such scheme to lose and is returned
// unchanged.
QString StripScheme(const QString& url);

// "https://" in front of a link key.
QString AddScheme(const QString& text);

// Removes the characters with codes 0 to 32 at both ends (U+00A0 stays).
QString Trim(const QString& text);

// Writes the items as UTF-8 with the mark EF BB BF, each followed by CR LF. The
// file is written beside the target and renamed over it only when complete, so
// an interrupted save never leaves a truncated list. Raises EListFileError.
void SaveListFile(const QStringList& list, const QString& path);
