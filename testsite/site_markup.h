#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The directory site's markup: the pieces of a page that the crawl's page extraction
// reads, shared by the hand-made test site (TSiteModel) and the generated one
// (TGeneratedSite). Values are passed as the markup carries them (entities and tags
// included). Plain functions, no state.

// From the doctype to the site header; `extraHead` goes at the end of the head.
QString PageHead(const QString& title, const QString& extraHead = {});
// The site footer, `extraBody` after it, and the end of the page.
QString PageTail(const QString& extraBody = {});
QString Breadcrumbs(const QString& currentHtml);
// A rubric heading of the city page.
QString RubricHeading(const QString& path, const QString& nameHtml);
// The block of subrubric links of a rubric page.
QString SubrubricBlock(const QStringList& paths);

// One widget of a list page: a card link, or, with an empty path, an advertisement
// whose header has no link.
struct TCardLink {
    QString Path;
    QString NameHtml;
};

// The widget block of a list page with its numbered-page links.
QString CardWidgets(const QList<TCardLink>& cards, const QStringList& pagination);

// The values of one card page; an empty value leaves its entry out.
struct TCardMarkup {
    QString NameHtml;
    QString AddressHtml;
    QString PhonesHtml;
    QString HoursHtml;
    QString Site; // written base64-encoded in "data-url"
    QString DescriptionHtml;
};

// A card page's content between PageHead and PageTail.
QString CardContent(const TCardMarkup& card);
