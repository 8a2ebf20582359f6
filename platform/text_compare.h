#pragma once

#include <QString>
#include <QStringView>

#include <string>

// The one case-insensitive comparison of the system: known links, name-value
// lookups and the restored selection all use it, so they agree on what "the same
// text" is. Letters are compared by their Unicode case folding, code unit by code
// unit; no locale is involved, so the order is the same on every machine.

// Negative, zero or positive as `a` sorts before, with or after `b`.
int CompareTextIgnoreCase(QStringView a, QStringView b);

bool SameTextIgnoreCase(QStringView a, QStringView b);

// A hash key under which texts that CompareTextIgnoreCase finds equal, and only
// those, are one: each code unit's folding exactly as the comparison computes it
// (a low surrogate after a high one stands for the whole code point). For sets of
// such texts that must not compare each text with all the others.
std::u32string FoldedKey(QStringView text);

// The order of CompareTextIgnoreCase, for sorted lists and maps keyed by such text.
struct TLessIgnoreCase {
    bool operator()(QStringView a, QStringView b) const { return CompareTextIgnoreCase(a, b) < 0; }
};
