#pragma once

#include <QString>

// One work item as the fetch thread receives it: either a page URL, or a card
// job line "<card URL>|||<subrubric name>|||<list URL>".
struct TJobLine {
    QString Url;
    QString Category;
    QString CategoryUrl;
    bool IsCard = false;
};

// A line holding "|||" anywhere is a card job line: the card URL is the text
// before the first "|||", the subrubric name the text up to the next "|||", and
// the list URL everything after that. A line without "|||" is a page URL.
TJobLine SplitJobLine(const QString& line);
