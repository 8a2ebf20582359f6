#include "tests/crawl/literal_rules.h"

#include "crawl/page_extraction.h"
#include "crawl/text_utils.h"
#include "fetch/job_line.h"

namespace {

// A consumed item at r (counted from 1) removes the first r+10 characters.
void CutAfterItem(QString& copy, qsizetype zeroBasedItem) {
    copy.remove(0, (zeroBasedItem + 1) + 10);
}

// The link key of a link: root-relative links get `prefix`; links of no web
// scheme give none.
bool LinkKey(const QString& href, const QString& prefix, QString& key) {
    QString link = Trim(href);
    if (link.startsWith(u'/'))
        link = prefix + link;
    link.remove(u'\t').remove(u'\r').remove(u'\n').replace("|", "%7C");
    if ((!link.isEmpty() && !HasWebScheme(link)) || link.size() > MaxLinkLength)
        return false;
    key = StripScheme(link);
    return true;
}

QString HostPrefix(const QString& pageUrl) {
    const QString host = SchemeAndHost(pageUrl);
    return host.isEmpty() ? pageUrl : host;
}

} // namespace

QString LiteralHtmlToText(const QString& markup) {
    const char* steps[][2] = {
        {"&nbsp;", " "},  {"&bull;", "-"},   {"&times;", "x"},  {"&quot;", "\""}, {"&mdash;", "-"},
        {"&ndash;", "-"}, {"&laquo;", "\""}, {"&raquo;", "\""}, {"&lt;", "<"},    {"&gt;", ">"},
        {"&#039;", "'"},  {";", ","},        {"<br>", " "},     {"\r", ""},       {"\n", ""},
    };
    QString text = HtmlDecode(markup);
    for (const auto& step : steps)
        text = ReplaceAll(text, step[0], step[1]);
    for (qsizetype open; (open = text.indexOf(u'<')) >= 0;) {
        const qsizetype close = text.indexOf(u'>', open + 1);
        text.remove(open, close < 0 ? text.size() - open : close - open + 1);
    }
    return text;
}

QString LiteralBreadcrumb(const QString& text) {
    QString crumb = Trim(LiteralHtmlToText(
        ExtractBetween(text, "breadcrumbs-list__link is-current\">", "", "</span>")));
    if (crumb.size() <= MaxNameLength)
        return crumb;
    const bool pairAtCut =
        crumb[MaxNameLength - 1].isHighSurrogate() && crumb[MaxNameLength].isLowSurrogate();
    crumb.truncate(pairAtCut ? MaxNameLength - 1 : MaxNameLength);
    return Trim(crumb);
}

QStringList LiteralCityLinks(const QString& text, const QString& pageUrl) {
    const QString heading = "<h3 class=\"category-widget__title";
    QString copy = text;
    QStringList keys;
    for (qsizetype h; (h = copy.indexOf(heading)) >= 0;) {
        const qsizetype r = copy.indexOf("href=\"", h);
        if (r < 0)
            break;
        const qsizetype start = r + 6;
        const qsizetype end = copy.indexOf(u'"', start);
        QString key;
        if (LinkKey(end < 0 ? QString() : copy.mid(start, end - start), pageUrl, key))
            keys.append(key);
        CutAfterItem(copy, r);
    }
    return keys.mid(0, MaxPageLinks);
}

QStringList LiteralAnchorLinks(const QString& block, const QString& pageUrl) {
    const QString marker = "<a href=\"";
    QString copy = block;
    QStringList keys;
    for (qsizetype r; (r = copy.indexOf(marker)) >= 0;) {
        const qsizetype start = r + marker.size();
        const qsizetype end = copy.indexOf(u'"', start);
        QString key;
        if (LinkKey(end < 0 ? QString() : copy.mid(start, end - start), HostPrefix(pageUrl), key))
            keys.append(key);
        CutAfterItem(copy, r);
    }
    return keys;
}

QStringList LiteralCardJobs(const QString& text, const QString& pageUrl) {
    const QString marker = " class=\"org-widget-header__title\">";
    const qsizetype numbered = pageUrl.indexOf("/page-");
    const QString listUrl = numbered < 0 ? pageUrl : pageUrl.left(numbered + 1);
    const QString tail = CardJobTail(CardJobCategory(LiteralBreadcrumb(text)), listUrl);
    QString copy =
        ExtractBetween(text, "<div class=\"organization-category__widgets\">", "", "<footer");
    QStringList lines;
    for (qsizetype r; (r = copy.indexOf(marker)) >= 0;) {
        const qsizetype start = r + marker.size();
        const qsizetype end = copy.indexOf("</div>", start);
        const QString header = end < 0 ? QString() : copy.mid(start, end - start);
        QString key;
        if (header.contains("href=") &&
            LinkKey(ExtractBetween(header, "href=\"", "", "\""), HostPrefix(pageUrl), key))
            lines.append(key + tail);
        CutAfterItem(copy, r);
    }
    return lines.mid(0, MaxPageCardJobs);
}

QString LiteralCollapseSpaces(QString text) {
    while (text.contains("  "))
        text = ReplaceAll(text, "  ", " ");
    return text;
}
