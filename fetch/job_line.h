#pragma once

#include <QString>

// One work item: either a page's link, or a card job line "<card link>|||<subrubric
// name>|||<list URL>". Page extraction builds card job lines with CardJobTail, the
// work lists keep them as text, and the controller and the fetch thread read them
// with SplitJobLine.
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

// A subrubric name as a card job line carries it: the site's text, except that a
// run of bars that would move the split (three or more in a row, or a run that ends
// the name and would join the next separator) is written as broken bars '¦'.
QString CardJobCategory(const QString& name);

// What follows the card link in a card job line: "|||", the subrubric name, "|||"
// and the list URL. Cards found on one page share it.
QString CardJobTail(const QString& category, const QString& listUrl);
