#pragma once

#include <QString>

#include <cstdint>

// What kind of page a job fetches, as the fetch thread reports it in `Code`.
enum class TJobCode : int32_t {
    Page = 0, // a city or list page
    Card = 1, // a card page
};

// One job of the crawl: a page's URL, or a card's URL with the subrubric name and
// the URL of the list the card was found on. It is a value in memory; only where
// the work lists are stored (lists.dat, failed.dat, the journal) is it the job line
// "<page link>" or "<card link>|||<subrubric name>|||<list URL>": SplitJobLine reads
// a stored line, page extraction packs a card's with CardJobTail.
struct TJob {
    QString Url;
    QString Category;    // a card's subrubric name
    QString CategoryUrl; // a card's list URL
    TJobCode Code = TJobCode::Page;
};

// A line holding "|||" anywhere is a card job line: the card URL is the text
// before the first "|||", the subrubric name the text up to the next "|||", and
// the list URL everything after that. A line without "|||" is a page URL.
TJob SplitJobLine(const QString& line);

// A subrubric name as a card job line carries it: the site's text, except that a
// run of bars that would move the split (three or more in a row, or a run that ends
// the name and would join the next separator) is written as broken bars '¦'.
QString CardJobCategory(const QString& name);

// What follows the card link in a card job line: "|||", the subrubric name, "|||"
// and the list URL. Cards found on one page share it.
QString CardJobTail(const QString& category, const QString& listUrl);
