#pragma once

#include <QString>
#include <QStringList>

// The extraction rules as they read, step by step: working copies cut down after
// every item, successive replacements, the first tag removed again and again. Slow
// (quadratic at worst) and plainly right, they are what the product's one-pass
// scans must agree with, in the unit tests and in the fuzz targets alike. Links are
// cleaned and filtered as the product reads them: blanks around a link are dropped,
// then tabs and line breaks anywhere in it once the page's prefix is added, bars
// become "%7C", and only links of a web scheme (or empty ones) are kept. The
// limits of one page hold as well: a link over MaxLinkLength is left out, a
// breadcrumb cut to MaxNameLength, and a page's links and card jobs beyond the
// first MaxPageLinks and MaxPageCardJobs dropped (a list page's two blocks share
// its links' limit, which LiteralAnchorLinks, reading one block, leaves to the caller).

// HtmlToText: decoding, fifteen successive replacements, then tag removal.
QString LiteralHtmlToText(const QString& markup);

// The current breadcrumb of a page.
QString LiteralBreadcrumb(const QString& text);

// The rubric link keys of a city page. A heading with no "href=\"" after it ends
// the scan.
QStringList LiteralCityLinks(const QString& text, const QString& pageUrl);

// The "<a href=\"" link keys of a block of a list page.
QStringList LiteralAnchorLinks(const QString& block, const QString& pageUrl);

// The card job lines of a city or list page, with its breadcrumb (bars as broken
// bars) and list URL.
QStringList LiteralCardJobs(const QString& text, const QString& pageUrl);

// The spaces of an address collapsed by replacing every pair with one space while
// two remain.
QString LiteralCollapseSpaces(QString text);
