#pragma once

#include "crawl/name_value_list.h"
#include "crawl/organisation_record.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Cutting links, card job lines and organisation values out of a page's text by
// the site's fixed markers. Pure functions of their arguments: nothing is kept
// between pages, and a missing marker yields an empty value or no links, never an
// error. Called on the controller's thread.

enum class TPageKind { CardPage, CityPage, ListPage };

struct TListPageLinks {
    // The current breadcrumb, only when the page has a subrubric block: the rubric
    // name recorded for each new subrubric link.
    QString Breadcrumb;
    QStringList SubrubricLinks; // link keys, page order
    QStringList PageLinks;      // numbered-page link keys, page order
};

struct TCardJobs {
    QString ListUrl;      // the page URL cut back to the list's first page
    QString Breadcrumb;   // the subrubric name as the job lines carry it (CardJobCategory)
    QStringList JobLines; // card job lines (fetch/job_line.h) of the breadcrumb, page order
};

// A job with a non-zero code is a card; otherwise a URL that is "https://" and a
// host only is a city page, and anything longer a list page.
TPageKind ClassifyPage(int code, const QString& pageUrl);

// The rubric link keys of a city page, page order.
QStringList ExtractCityPage(const QString& text, const QString& pageUrl);

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
