#pragma once

#include "crawl/page_extraction.h"
#include "crawl/run_journal.h"

#include <QString>

#include <functional>

// What a finished city or list page adds to a run: its links that the run does not
// hold yet and its card job lines, found by page extraction and filtered against
// the run's lists. Pure functions of their arguments; called on the controller's
// thread.

// What the run already holds, as routing asks it about a link key.
struct TRunLinkLists {
    std::function<bool(const QString& key)> IsKnown;   // queued before, in any letter case
    std::function<bool(const QString& key)> IsSkipped; // listed in skip.txt
};

struct TPageRoute {
    TRoutedLinks Links;
    TPageCuts Cuts; // what the page limits cut or left out of the page
};

// A city or list page: its rubric, subrubric and numbered-page links in page order,
// each once in any letter case and none that the run knows or skips (a subrubric
// with the page's rubric name), then its card job lines, but those of cards in
// skip.txt.
TPageRoute RouteFoundPage(TPageKind kind, const QString& page, const QString& url,
                          const TRunLinkLists& run);

// The links of a list page that the run takes, as RouteFoundPage takes them. Each
// link is looked up once in a set of the page's folded keys, so a page of many
// links costs time in proportion to their number.
TRoutedLinks RouteListLinks(const TListPageLinks& found, const TRunLinkLists& run);

// The one log line on what the page limits cut or left out of the page at `url`;
// empty when they cut nothing.
QString PageCutsText(const TPageCuts& cuts, const QString& url);
