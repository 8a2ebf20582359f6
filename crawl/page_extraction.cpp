#include "crawl/page_extraction.h"

#include "crawl/text_utils.h"
#include "fetch/job_line.h"
#include "platform/text_codec.h"

namespace {

const QString HeadingMarker = QStringLiteral("<h3 class=\"category-widget__title");
const QString LinkMarker = QStringLiteral("<a href=\"");
const QString CardMarker = QStringLiteral(" class=\"org-widget-header__title\">");
const QString Href = QStringLiteral("href=\"");
const QString Quote = QStringLiteral("\"");
// A consumed item at r (counted from 1) removes the first r+10 characters of the
// working copy, so the scan goes on 11 characters after the item's 0-based offset.
const qsizetype ItemAdvance = 11;

// The link at `start` up to the first quote; empty when no quote follows.
QString LinkAt(const QString& block, qsizetype start) {
    const qsizetype end = block.indexOf(Quote, start);
    return end < 0 ? QString() : block.mid(start, end - start);
}

QString MakeAbsolute(const QString& link, const QString& prefix) {
    return link.startsWith(u'/') ? prefix + link : link;
}

// As browsers read an href: blanks and control characters around it are dropped,
// and so are tabs and line breaks inside it. They are dropped from the prefix too
// (a page address from a hand-edited cities.txt may hold one), so no work-list
// line and no link key of rubrics.dat ever holds one. A bar is sent as browsers
// send it, "%7C", so that a link key never holds the separator of a card job line.
QString CleanLink(const QString& href, const QString& prefix) {
    QString link = MakeAbsolute(Trim(href), prefix);
    link.removeIf([](QChar c) { return c == u'\t' || c == u'\r' || c == u'\n'; });
    return link.replace(u'|', QStringLiteral("%7C"));
}

enum class TLinkFate { Kept, NotFetchable, TooLong };

// The link key of a link found on a page. A root-relative link hangs off
// `prefix`; an absolute one loses its "https://" or "http://". A link of another
// scheme or of none (mailto:, javascript:, a path relative to the page) names
// nothing the crawl can fetch and is left out, and so is one longer than
// MaxLinkLength; an empty link keeps its empty key.
TLinkFate LinkKey(const QString& href, const QString& prefix, QString& key) {
    const QString link = CleanLink(href, prefix);
    if (!link.isEmpty() && !HasWebScheme(link))
        return TLinkFate::NotFetchable;
    if (link.size() > MaxLinkLength)
        return TLinkFate::TooLong;
    key = StripScheme(link);
    return TLinkFate::Kept;
}

// Appends `item` while the list has fewer than `room` items; past that it is only counted.
void AppendWithin(QStringList& list, const QString& item, qsizetype room, qsizetype& extra) {
    if (list.size() < room)
        list.append(item);
    else
        ++extra;
}

// Appends the key of a link found on a page as the limits let it in: past `room`
// links of the page the rest are only counted.
void AppendLinkKey(QStringList& keys, const QString& href, const QString& prefix, qsizetype room,
                   TPageCuts& cuts) {
    QString key;
    switch (LinkKey(href, prefix, key)) {
    case TLinkFate::Kept:
        return AppendWithin(keys, key, room, cuts.ExtraLinks);
    case TLinkFate::TooLong:
        ++cuts.LongLinks;
        return;
    case TLinkFate::NotFetchable:
        return;
    }
}

// Relative links of list pages hang off the site's host; a city page has no path,
// so the page URL itself is the host.
QString HostPrefix(const QString& pageUrl) {
    const QString host = SchemeAndHost(pageUrl);
    return host.isEmpty() ? pageUrl : host;
}

// Link keys of every "<a href=" item of a block, at most `room` of them. Instead
// of cutting the working copy down after each item, the scan keeps an offset into
// the block.
QStringList ScanAnchorLinks(const QString& block, const QString& pageUrl, qsizetype room,
                            TPageCuts& cuts) {
    QStringList keys;
    const QString prefix = HostPrefix(pageUrl);
    qsizetype offset = 0;
    for (qsizetype r; (r = block.indexOf(LinkMarker, offset)) >= 0; offset = r + ItemAdvance)
        AppendLinkKey(keys, LinkAt(block, r + LinkMarker.size()), prefix, room, cuts);
    return keys;
}

// Cut to MaxNameLength, and trimmed again so that the cut leaves no blank at its end.
QString CurrentBreadcrumb(const QString& text, TPageCuts& cuts) {
    const QString crumb = Trim(HtmlToText(
        ExtractBetween(text, "breadcrumbs-list__link is-current\">", QString(), "</span>")));
    if (crumb.size() <= MaxNameLength)
        return crumb;
    cuts.NameLength = crumb.size();
    return Trim(LeftWhole(crumb, MaxNameLength));
}

// The first occurrence of a needle at or after positions that never move back:
// a hit still ahead of the position is still the answer, so a whole scan reads the
// text once however many items ask.
class TForwardSearch {
public:
    TForwardSearch(const QString& text, QString needle) : FText(text), FNeedle(std::move(needle)) {}

    qsizetype From(qsizetype from) {
        if (FHit == NotSearched || (FHit >= 0 && FHit < from))
            FHit = FText.indexOf(FNeedle, from);
        return FHit;
    }

private:
    static constexpr qsizetype NotSearched = -2;
    const QString& FText;
    QString FNeedle;
    qsizetype FHit = NotSearched;
};

// The card links of the widget block: each header runs from its marker to the
// first "</div>" after it; a header without "href=" gives no link, otherwise the
// link is the text between the header's first "href=\"" and the quote after it.
// Headers may overlap when their ends are far away, so every search goes through a
// forward search, and cards that share one link share one outcome (one string, or
// being left out). Each link becomes a job line: the link key followed by `tail`;
// past MaxPageCardJobs lines the rest are only counted.
QStringList ScanCardJobLines(const QString& block, const QString& pageUrl, const QString& tail,
                             TPageCuts& cuts) {
    QStringList lines;
    const QString prefix = HostPrefix(pageUrl);
    TForwardSearch headerEnd(block, "</div>"), anyHref(block, "href="), quotedHref(block, Href),
        quote(block, Quote);
    qsizetype sharedHref = -1, sharedEnd = -1;
    QString shared; // the job line of the last link read
    TLinkFate sharedFate = TLinkFate::NotFetchable;
    qsizetype offset = 0;
    for (qsizetype r; (r = block.indexOf(CardMarker, offset)) >= 0; offset = r + ItemAdvance) {
        const qsizetype start = r + CardMarker.size();
        const qsizetype end = headerEnd.From(start);
        if (end < 0)
            break; // no later header has an end either
        const qsizetype any = anyHref.From(start);
        if (any < 0 || any + 5 > end)
            continue;
        const qsizetype href = quotedHref.From(start);
        if (href < 0 || href != sharedHref || end != sharedEnd) {
            QString link;
            if (href >= 0 && href + Href.size() <= end) {
                const qsizetype close = quote.From(href + Href.size());
                if (close >= 0 && close < end)
                    link = block.mid(href + Href.size(), close - href - Href.size());
            }
            sharedFate = LinkKey(link, prefix, shared);
            if (sharedFate == TLinkFate::Kept)
                shared += tail;
            sharedHref = href;
            sharedEnd = end;
        }
        if (sharedFate == TLinkFate::Kept)
            AppendWithin(lines, shared, MaxPageCardJobs, cuts.ExtraCardJobs);
        else if (sharedFate == TLinkFate::TooLong)
            ++cuts.LongLinks;
    }
    return lines;
}

QString CollapseSpaces(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u' ' && !out.isEmpty() && out.back() == u' ')
            continue;
        out.append(text[i]);
    }
    return out;
}

QString TabsToSpaces(const QString& text) {
    return ReplaceAll(text, "\t", " ");
}

// Name, phones and opening hours share one cleaning.
QString PageValue(const QString& text, const QString& startMarker, const QString& endMarker) {
    return TabsToSpaces(
        Trim(HtmlToText(ExtractBetween(text, startMarker, "spec__value\">", endMarker))));
}

QString AddressValue(const QString& text) {
    QString address =
        Trim(HtmlToText(ExtractBetween(text, u">Адрес</span>"_qs, "spec__value\">", "<")));
    for (const char* breakChar : {"\r", "\n", "\t"})
        address = ReplaceAll(address, breakChar, " ");
    return CollapseSpaces(address);
}

QString SiteValue(const QString& text) {
    const QString entry = ExtractBetween(text, u">Сайт</span>"_qs, "spec__value\">", "</");
    const QString encoded = ExtractBetween(entry, "data-url=\"", QString(), Quote);
    return TabsToSpaces(encoded.isEmpty() ? QString() : DecodeSiteAddress(encoded));
}

// The description is kept as the page has it: no entity decoding, no trimming.
QString DescriptionValue(const QString& text) {
    const QString section =
        ExtractBetweenBack(text, u">Нашли ошибку в описании?</span>"_qs, QString(), "</dl>");
    return TabsToSpaces(ExtractBetween(section, "<p>", QString(), "</p>"));
}

int Base64Value(QChar c) {
    const char16_t u = c.unicode();
    if (u >= 'A' && u <= 'Z')
        return u - 'A';
    if (u >= 'a' && u <= 'z')
        return u - 'a' + 26;
    if (u >= '0' && u <= '9')
        return u - '0' + 52;
    if (u == '+')
        return 62;
    if (u == '/')
        return 63;
    return 0;
}

} // namespace

TPageKind ClassifyPage(TJobCode code, const QString& pageUrl) {
    if (code != TJobCode::Page)
        return TPageKind::CardPage;
    return pageUrl.indexOf(u'/', 9) < 0 ? TPageKind::CityPage : TPageKind::ListPage;
}

QString SchemeAndHost(const QString& url) {
    const qsizetype slash = url.indexOf(u'/', 9);
    return slash < 0 ? QString() : url.left(slash);
}

QStringList ExtractCityPage(const QString& text, const QString& pageUrl, TPageCuts* cuts) {
    TPageCuts ignored;
    TPageCuts& counted = cuts ? *cuts : ignored;
    QStringList keys;
    qsizetype offset = 0;
    for (qsizetype heading; (heading = text.indexOf(HeadingMarker, offset)) >= 0;) {
        // With no "href=\"" after a heading, no later heading can have one either:
        // the heading yields no link and the scan ends.
        const qsizetype r = text.indexOf(Href, heading);
        if (r < 0)
            break;
        AppendLinkKey(keys, LinkAt(text, r + Href.size()), pageUrl, MaxPageLinks, counted);
        offset = r + ItemAdvance;
    }
    return keys;
}

TListPageLinks ExtractListPage(const QString& text, const QString& pageUrl) {
    TListPageLinks links;
    const QString subrubrics =
        ExtractBetween(text, "<div class=\"organizations-all__list\">", QString(), "</ul>");
    if (!subrubrics.isEmpty()) {
        links.Breadcrumb = CurrentBreadcrumb(text, links.Cuts);
        links.SubrubricLinks = ScanAnchorLinks(subrubrics, pageUrl, MaxPageLinks, links.Cuts);
    }
    links.PageLinks =
        ScanAnchorLinks(ExtractBetween(text, "<ul class=\"pagination-list\">", QString(), "</ul>"),
                        pageUrl, MaxPageLinks - links.SubrubricLinks.size(), links.Cuts);
    return links;
}

TCardJobs ExtractCardJobs(const QString& text, const QString& pageUrl) {
    TCardJobs jobs;
    const qsizetype numbered = pageUrl.indexOf(QStringLiteral("/page-"));
    jobs.ListUrl = numbered < 0 ? pageUrl : pageUrl.left(numbered + 1);
    jobs.Breadcrumb = CardJobCategory(CurrentBreadcrumb(text, jobs.Cuts));
    const QString block = ExtractBetween(text, "<div class=\"organization-category__widgets\">",
                                         QString(), "<footer");
    jobs.JobLines =
        ScanCardJobLines(block, pageUrl, CardJobTail(jobs.Breadcrumb, jobs.ListUrl), jobs.Cuts);
    return jobs;
}

OrganisationRecord ExtractOrganisation(const QString& text, const QString& pageUrl,
                                       const QString& category, const QString& categoryUrl,
                                       const TNameValueList& cityList,
                                       const TNameValueList& rubricList) {
    OrganisationRecord record;
    record.CardUrl = pageUrl;
    record.CityUrl = SchemeAndHost(pageUrl);
    // The label reads "country, city"; a label without a comma gives no country
    // and the label less its first character as the city.
    const QString label = cityList.Lookup(record.CityUrl);
    const qsizetype comma = label.indexOf(u',');
    record.Country = comma < 0 ? QString() : label.left(comma);
    record.City = label.mid(comma + 2);
    record.Rubric = rubricList.Lookup(StripScheme(categoryUrl));
    record.Subrubric = category;
    record.SubrubricUrl = categoryUrl;
    record.Name = TabsToSpaces(Trim(HtmlToText(ExtractBetween(text, "<h1", ">", "</h1>"))));
    record.Address = AddressValue(text);
    record.Phones = PageValue(text, u">Телефон</span>"_qs, "</");
    record.OpeningHours = PageValue(text, u">Режим работы</span>"_qs, "</");
    record.Site = SiteValue(text);
    record.Description = DescriptionValue(text);
    return record;
}

QByteArray DecodeBase64Groups(const QString& text) {
    QByteArray bytes;
    const qsizetype groups = text.size() / 4;
    bytes.reserve(groups * 3);
    for (qsizetype g = 0; g < groups; ++g) {
        uint32_t bits = 0;
        for (int k = 0; k < 4; ++k)
            bits = (bits << 6) | uint32_t(Base64Value(text[g * 4 + k]));
        bytes.append(char(bits >> 16)).append(char(bits >> 8)).append(char(bits));
    }
    if (groups > 0) {
        const QStringView last = QStringView(text).mid((groups - 1) * 4, 4);
        bytes.chop(last.endsWith(u"==") ? 2 : last.endsWith(u'=') ? 1 : 0);
    }
    return bytes;
}

// The payload is the address's UTF-8 bytes; reading them as UTF-8 directly is what
// the round trip through Windows-1251 and the 8-bit code page gives on a
// Windows-1251 system, and it keeps the address intact on any other.
QString DecodeSiteAddress(const QString& dataUrl) {
    return DecodeUtf8(DecodeBase64Groups(dataUrl));
}
