#include "crawl/page_routing.h"

#include "fetch/job_line.h"
#include "platform/log_line.h"
#include "platform/text_compare.h"

#include <QStringList>

#include <algorithm>
#include <unordered_set>

namespace {

// The links a page has given so far, by folded key: a link is new when neither the
// run nor the page has it in any letter case.
class TPageLinkSet {
public:
    TPageLinkSet(TRoutedLinks& links, const TRunLinkLists& run) : FLinks(links), FRun(run) {}

    bool Take(const QString& key) {
        if (FRun.IsKnown(key) || FRun.IsSkipped(key) || !FTaken.insert(FoldedKey(key)).second)
            return false;
        FLinks.ListLinks.append(key);
        return true;
    }

private:
    TRoutedLinks& FLinks;
    const TRunLinkLists& FRun;
    std::unordered_set<std::u32string> FTaken;
};

QStringList CardJobsToRun(const TCardJobs& jobs, const TRunLinkLists& run) {
    QStringList lines = jobs.JobLines;
    lines.removeIf([&run](const QString& line) { return run.IsSkipped(SplitJobLine(line).Url); });
    return lines;
}

// The breadcrumb is read for the links and for the card jobs alike: its cut is one.
TPageCuts Merged(const TPageCuts& a, const TPageCuts& b) {
    return {std::max(a.NameLength, b.NameLength), a.LongLinks + b.LongLinks,
            a.ExtraLinks + b.ExtraLinks, a.ExtraCardJobs + b.ExtraCardJobs};
}

} // namespace

TRoutedLinks RouteListLinks(const TListPageLinks& found, const TRunLinkLists& run) {
    TRoutedLinks links;
    TPageLinkSet taken(links, run);
    for (const QString& key : found.SubrubricLinks) {
        if (taken.Take(key))
            links.Rubrics.append({key, found.Breadcrumb});
    }
    for (const QString& key : found.PageLinks)
        taken.Take(key);
    return links;
}

TPageRoute RouteFoundPage(TPageKind kind, const QString& page, const QString& url,
                          const TRunLinkLists& run) {
    TPageRoute route;
    if (kind == TPageKind::CityPage) {
        TPageLinkSet taken(route.Links, run);
        for (const QString& key : ExtractCityPage(page, url, &route.Cuts))
            taken.Take(key);
    } else {
        const TListPageLinks found = ExtractListPage(page, url);
        route.Links = RouteListLinks(found, run);
        route.Cuts = found.Cuts;
    }
    const TCardJobs jobs = ExtractCardJobs(page, url);
    route.Links.CardJobs = CardJobsToRun(jobs, run);
    route.Cuts = Merged(route.Cuts, jobs.Cuts);
    return route;
}

QString PageCutsText(const TPageCuts& cuts, const QString& url) {
    if (!cuts.Any())
        return {};
    QStringList parts;
    if (cuts.NameLength > 0)
        parts.append(QStringLiteral("название раздела обрезано до %1 символов из %2")
                         .arg(MaxNameLength)
                         .arg(cuts.NameLength));
    if (cuts.LongLinks > 0)
        parts.append(QStringLiteral("пропущено ссылок длиннее %1 символов: %2")
                         .arg(MaxLinkLength)
                         .arg(cuts.LongLinks));
    if (cuts.ExtraLinks > 0)
        parts.append(
            QStringLiteral("пропущено ссылок сверх %1: %2").arg(MaxPageLinks).arg(cuts.ExtraLinks));
    if (cuts.ExtraCardJobs > 0)
        parts.append(QStringLiteral("пропущено карточек сверх %1: %2")
                         .arg(MaxPageCardJobs)
                         .arg(cuts.ExtraCardJobs));
    return QStringLiteral("Страница разобрана не целиком (%1) по ссылке %2")
        .arg(parts.join(QStringLiteral("; ")), LogUrl(url));
}
