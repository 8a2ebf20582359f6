// Page text and extraction: ClassifyPage, the city, list and card-job scans,
// ExtractOrganisation, HtmlDecode, HtmlToText and the site address's base64, over
// any page text (the body's bytes read as UTF-8, as a fetch thread reads them) and
// any page URL.
//
// Properties: every scan gives what the rule read literally gives; no link key or
// job line holds a CR or LF (a work-list line is one line of lists.dat); every
// card job line splits back into its card, subrubric and list URL; the cleaned
// values hold no tab, no line break, no semicolon and no tag; decoding never makes
// a text longer or breaks a surrogate pair; base64 of any bytes decodes back; and
// what one page adds is bounded: no breadcrumb over MaxNameLength, no link over
// MaxLinkLength, at most MaxPageLinks links and MaxPageCardJobs card job lines.

#include "crawl/page_extraction.h"
#include "crawl/text_utils.h"
#include "fetch/job_line.h"
#include "fuzz/fuzz_support.h"
#include "platform/text_codec.h"
#include "tests/crawl/literal_rules.h"

namespace {

const char* const PageUrls[] = {
    "https://tomsk.quorvel.ru",
    "https://tomsk.quorvel.ru/",
    "https://tomsk.quorvel.ru/kafe",
    "https://tomsk.quorvel.ru/kafe/kofejni/page-2",
    "https://tomsk.quorvel.ru/org/uyut",
    "https://a/page-/page-3",
    "https://",
    "",
};

bool WellFormed(const QString& text) {
    return WithoutLoneSurrogates(text) == text;
}

bool HoldsAny(const QString& text, const char* characters) {
    for (const char* c = characters; *c; ++c)
        if (text.contains(QLatin1Char(*c)))
            return true;
    return false;
}

// A link key holds no tab either: it starts a line of rubrics.dat, and a tab ends it.
void CheckLinks(const QStringList& keys, const char* property, const char* banned = "\t\r\n") {
    for (const QString& key : keys)
        Require(!HoldsAny(key, banned) && WellFormed(key), property, key);
}

// A key is its link less "https://" or "http://": the shorter scheme bounds it.
void CheckLinkLengths(const QStringList& keys) {
    for (const QString& key : keys)
        Require(key.size() <= MaxLinkLength - 7, "no link over the limit", key);
}

void CheckBreadcrumb(const QString& breadcrumb) {
    Require(breadcrumb.size() <= MaxNameLength && WellFormed(breadcrumb),
            "no breadcrumb over the limit, none with a split pair", breadcrumb);
}

void CheckScans(const QString& page, const QString& url) {
    const QStringList city = ExtractCityPage(page, url);
    Require(city == LiteralCityLinks(page, url), "rubric links as the rule reads");
    CheckLinks(city, "a rubric link key holds no tab or line break");
    CheckLinkLengths(city);
    Require(city.size() <= MaxPageLinks, "at most the page's limit of rubric links");

    const TListPageLinks list = ExtractListPage(page, url);
    const QString block =
        ExtractBetween(page, "<div class=\"organizations-all__list\">", QString(), "</ul>");
    Require(list.SubrubricLinks == LiteralAnchorLinks(block, url),
            "subrubric links as the rule reads");
    Require(list.Breadcrumb == (block.isEmpty() ? QString() : LiteralBreadcrumb(page)),
            "the rubric name as the rule reads");
    Require(list.PageLinks ==
                LiteralAnchorLinks(
                    ExtractBetween(page, "<ul class=\"pagination-list\">", QString(), "</ul>"), url)
                    .mid(0, MaxPageLinks - list.SubrubricLinks.size()),
            "numbered-page links as the rule reads");
    Require(list.SubrubricLinks.size() + list.PageLinks.size() <= MaxPageLinks,
            "at most the page's limit of links");
    CheckLinkLengths(list.SubrubricLinks + list.PageLinks);
    CheckBreadcrumb(list.Breadcrumb);
    CheckLinks(list.SubrubricLinks, "a subrubric link key holds no tab or line break");
    CheckLinks(list.PageLinks, "a numbered-page link key holds no tab or line break");
}

TCardJobs CheckCardJobs(const QString& page, const QString& url) {
    const TCardJobs jobs = ExtractCardJobs(page, url);
    Require(jobs.JobLines == LiteralCardJobs(page, url), "card job lines as the rule reads");
    CheckLinks(jobs.JobLines, "a card job line holds no line break", "\r\n");
    Require(jobs.JobLines.size() <= MaxPageCardJobs, "at most the page's limit of card job lines");
    CheckBreadcrumb(jobs.Breadcrumb);
    const QString tail = "|||" + jobs.Breadcrumb + "|||" + jobs.ListUrl;
    for (const QString& line : jobs.JobLines) {
        const TJob job = SplitJobLine(AddScheme(line));
        CheckLinkLengths({StripScheme(job.Url)});
        Require(job.Code == TJobCode::Card && job.Url + tail == AddScheme(line) &&
                    job.Category == jobs.Breadcrumb && job.CategoryUrl == jobs.ListUrl,
                "a card job line splits back into card, subrubric and list URL", line);
    }
    return jobs;
}

// Name, phones and opening hours: trimmed markup text without tabs.
void CheckCleanValue(const QString& value, const char* property) {
    Require(!HoldsAny(value, "\t\r\n;<") && Trim(value) == value && WellFormed(value), property,
            value);
}

void CheckRecord(const QString& page, const QString& url, const QString& label,
                 const TCardJobs& jobs) {
    TNameValueList cities, rubrics;
    cities.Add(SchemeAndHost(url), label);
    rubrics.Add(StripScheme(jobs.ListUrl), "rubric");
    const OrganisationRecord r =
        ExtractOrganisation(page, url, jobs.Breadcrumb, jobs.ListUrl, cities, rubrics);
    CheckCleanValue(r.Name, "the name is clean text");
    CheckCleanValue(r.Phones, "the phones are clean text");
    CheckCleanValue(r.OpeningHours, "the opening hours are clean text");
    CheckCleanValue(r.Address, "the address is clean text");
    Require(!r.Address.contains("  "), "the address holds no two spaces in a row", r.Address);
    QString address =
        Trim(LiteralHtmlToText(ExtractBetween(page, u">Адрес</span>"_qs, "spec__value\">", "<")));
    for (const char* breakChar : {"\r", "\n", "\t"})
        address = ReplaceAll(address, breakChar, " ");
    Require(r.Address == LiteralCollapseSpaces(address), "the address as the rule reads");
    Require(!r.Site.contains(u'\t') && !r.Description.contains(u'\t'),
            "site and description hold no tab");
    Require(WellFormed(r.Site) && WellFormed(r.Description), "no value breaks a surrogate pair");
}

void CheckDecoding(const QString& page, const QByteArray& bytes) {
    const QString decoded = HtmlDecode(page);
    Require(decoded.size() <= page.size() && WellFormed(decoded),
            "decoding never lengthens a text nor breaks a surrogate pair");
    Require(HtmlToText(page) == LiteralHtmlToText(page), "HtmlToText as its steps read");
    const QByteArray payload = bytes.left(96);
    Require(DecodeSiteAddress(QString::fromLatin1(payload.toBase64())) == DecodeUtf8(payload),
            "base64 of any bytes decodes back to them");
    const QString text = QString::fromLatin1(bytes.left(64));
    const qsizetype fill = text.size() < 4       ? 0
                           : text.endsWith("==") ? 2
                           : text.endsWith("=")  ? 1
                                                 : 0;
    Require(text.size() % 4 != 0 || DecodeBase64Groups(text).size() == text.size() / 4 * 3 - fill,
            "base64 gives three bytes a group less its fill");
}

// A page address is one line of a list file or of cities.txt: it may hold anything
// (tabs too) but a line break.
QString TakeUrl(FuzzedDataProvider& in, uint8_t flags) {
    const uint8_t choice = in.ConsumeIntegral<uint8_t>();
    if (choice < std::size(PageUrls))
        return QString::fromLatin1(PageUrls[choice]);
    QString free = DecodeUtf8(TakeBytes(in, 48));
    free.removeIf([](QChar c) { return c == u'\r' || c == u'\n'; });
    return flags & 2 ? free : AddScheme(free);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    const TJobCode code = flags & 1 ? TJobCode::Card : TJobCode::Page;
    const QString url = TakeUrl(in, flags);
    const QString label = DecodeUtf8(TakeBytes(in, 24));
    const QByteArray bytes = TakeRest(in);
    const QString page = DecodeUtf8(bytes);

    const TPageKind kind = ClassifyPage(code, url);
    Require(code == TJobCode::Card ? kind == TPageKind::CardPage
                                   : (kind == TPageKind::CityPage) == SchemeAndHost(url).isEmpty(),
            "a card by its code, else a city page exactly when the URL has no path");
    CheckScans(page, url);
    CheckRecord(page, url, label, CheckCardJobs(page, url));
    CheckDecoding(page, bytes);
    return 0;
}
