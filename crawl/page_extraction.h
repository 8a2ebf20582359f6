#pragma once

#include "crawl/name_value_list.h"
#include "crawl/organisation_record.h"
#include "fetch/job_line.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Cutting links, card job lines and organisation values out of a page's text by
// the site's fixed markers. Pure functions of their arguments: nothing is kept
// between pages, and a missing marker yields an empty value or no links, never an
// error. Called on the controller's thread.

enum class TPageKind { CardPage, CityPage, ListPage };

// What one page may add to a run, in UTF-16 code units and items. A page's
// breadcrumb is copied into every card job line of the page and into the journal,
// and its links into the work and known lists, so each is bounded.
// The breadcrumb (a rubric or subrubric name) is cut to this length on a character boundary.
constexpr qsizetype MaxNameLength = 1000;
// A longer link, absolute as it would be fetched, is left out: cut, it would name another page.
constexpr qsizetype MaxLinkLength = 2048;
// Of a page's rubric, subrubric and numbered-page links, the first ones kept, in page order.
constexpr qsizetype MaxPageLinks = 10000;
// Of a page's card job lines, the first ones kept, in page order.
constexpr qsizetype MaxPageCardJobs = 10000;

// What the limits above cut or left out of one page; all zero when nothing.
struct TPageCuts {
    qsizetype NameLength = 0; // the breadcrumb's length before it was cut
    qsizetype LongLinks = 0;  // links left out for their length
    qsizetype ExtraLinks = 0; // links after the first MaxPageLinks
    qsizetype ExtraCardJobs = 0;

    bool Any() const {
        return NameLength > 0 || LongLinks > 0 || ExtraLinks > 0 || ExtraCardJobs > 0;
    }
};

struct TListPageLinks {
    // The current breadcrumb, only when the page has a subrubric block: the rubric
    // name recorded for each new subrubric link.
    QString Breadcrumb;
    QStringList SubrubricLinks; // link keys, page order
    QStringList PageLinks;      // numbered-page link keys, page order
    TPageCuts Cuts;
};

struct TCardJobs {
    QString ListUrl;      // the page URL cut back to the list's first page
    QString Breadcrumb;   // the subrubric name as the job lines carry it (CardJobCategory)
    QStringList JobLines; // card job lines (fetch/job_line.h) of the breadcrumb, page order
    TPageCuts Cuts;
};

// A card job is a card page whatever its URL; otherwise a URL that is "https://" and a
// host only is a city page, and anything longer a list page.
TPageKind ClassifyPage(TJobCode code, const QString& pageUrl);

// The rubric link keys of a city page, page order; what the limits cut goes to `cuts`.
QStringList ExtractCityPage(const QString& text, const QString& pageUrl, TPageCuts* cuts = nullptr);

TListPageLinks ExtractListPage(const QString& text, const QString& pageUrl);

// The card job lines of a city or list page.
TCardJobs ExtractCardJobs(const QString& text, const QString& pageUrl);

// The record of one card page; `category` and `categoryUrl` come from its job
// line, the country and city from `cityList`, the rubric from `rubricList`.
OrganisationRecord ExtractOrganisation(const QString& text, const QString& pageUrl,
                                       const QString& category, const QString& categoryUrl,
                                       const TNameValueList& cityList,
                                       const TNameValueList& rubricList);

// The text before the first "/" at or after the 10th character: "https://" and
// the host of an absolute link. Empty when there is no such "/".
QString SchemeAndHost(const QString& url);

// Bytes of a base64 text read in whole groups of four (standard alphabet); a
// shorter group at the end is ignored, "=" fill at the end of the last group
// shortens the output, and characters outside the alphabet count as zero bits.
QByteArray DecodeBase64Groups(const QString& text);

// The site address hidden in a card's "data-url" attribute: base64 of the
// address's UTF-8 bytes. Malformed input gives replacement characters, never an error.
QString DecodeSiteAddress(const QString& dataUrl);
