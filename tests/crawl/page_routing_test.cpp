#include "crawl/page_routing.h"

#include "fetch/job_line.h"
#include "platform/text_compare.h"
#include "tests/qt_print.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TRunLinkLists RunWith(const QStringList& known, const QStringList& skipped) {
    auto in = [](QStringList list) {
        return [list](const QString& key) {
            return std::any_of(list.begin(), list.end(), [&key](const QString& item) {
                return SameTextIgnoreCase(item, key);
            });
        };
    };
    return {in(known), in(skipped)};
}

QString Repeat(const QString& piece, int times) {
    QString text;
    for (int i = 0; i < times; ++i)
        text += QString(piece).replace("%i", QString::number(i));
    return text;
}

} // namespace

// A link is taken once, in the letter case it is first seen in, exactly when the
// comparison of the known list would find no earlier one equal.
TEST(RouteListLinks, EachLinkOnceAsTheComparisonSeesIt) {
    struct Case {
        const char* name;
        QStringList subrubrics, pages, known, skipped, taken;
    } cases[] = {
        {"Latin letter case",
         {"h.ru/Cafe", "H.RU/cafe", "h.ru/bars"},
         {"h.ru/CAFE", "h.ru/p-2", "H.ru/P-2"},
         {},
         {},
         {"h.ru/Cafe", "h.ru/bars", "h.ru/p-2"}},
        {"Cyrillic letter case",
         {u"h.ru/Кафе"_qs, u"h.ru/КАФЕ"_qs, u"h.ru/кафе/Ёлка"_qs},
         {u"h.ru/кафе/ёлка"_qs, u"h.ru/ЖЁЛТЫЙ"_qs, u"h.ru/жёлтый"_qs},
         {},
         {},
         {u"h.ru/Кафе"_qs, u"h.ru/кафе/Ёлка"_qs, u"h.ru/ЖЁЛТЫЙ"_qs}},
        {"foldings that would lengthen a text are not made",
         {u"h.ru/straße"_qs, "h.ru/STRASSE", u"h.ru/STRAẞE"_qs},
         {},
         {},
         {},
         {u"h.ru/straße"_qs, "h.ru/STRASSE"}},
        {"letters whose folding no lower case gives",
         {u"h.ru/ΣΟΦΙΑΣ"_qs, u"h.ru/σοφιας"_qs, u"h.ru/\u212A"_qs, "h.ru/k"},
         {},
         {},
         {},
         {u"h.ru/ΣΟΦΙΑΣ"_qs, u"h.ru/\u212A"_qs}},
        {"known and skipped links in any case",
         {"H.ru/OLD", "h.ru/new", "h.ru/SKIP"},
         {"h.ru/old"},
         {"h.ru/old"},
         {"h.ru/skip"},
         {"h.ru/new"}},
    };
    for (const Case& c : cases) {
        TListPageLinks found;
        found.Breadcrumb = "r";
        found.SubrubricLinks = c.subrubrics;
        found.PageLinks = c.pages;
        const TRoutedLinks links = RouteListLinks(found, RunWith(c.known, c.skipped));
        EXPECT_EQ(links.ListLinks, c.taken) << c.name;
        for (const TRubricEntry& rubric : links.Rubrics)
            EXPECT_TRUE(c.subrubrics.contains(rubric.first) && rubric.second == "r") << c.name;
    }
}

// What one page may add is bounded, and the page's one log line says what was cut.
TEST(RouteFoundPage, PageLimitsAndTheirLogLine) {
    const QString crumb = "<span class=\"breadcrumbs-list__link is-current\">";
    const QString sub = "<div class=\"organizations-all__list\">";
    const QString pages = "<ul class=\"pagination-list\">";
    const QString heading = "<h3 class=\"category-widget__title\"><a href=\"";
    const QString widgets = "<div class=\"organization-category__widgets\">";
    const QString card = " class=\"org-widget-header__title\"><a href=\"";
    // Absolute links of 2049 and 2048 characters on the host "https://h.ru".
    const QString tooLong = "/" + QString(2036, u'a'), longest = "/" + QString(2035, u'a');
    const QString name = QString(998, u'x');
    const QString begun = "Страница разобрана не целиком (";
    struct Case {
        const char* name;
        TPageKind kind;
        QString text, url, rubric;
        qsizetype links, cards;
        QString line;
    } cases[] = {
        {"nothing cut, no line", TPageKind::ListPage,
         crumb + "r</span>" + sub + "<a href=\"/s\"></ul>" + widgets + card + "/o\"></div><footer",
         "https://h.ru/l/", "r", 1, 1, ""},
        {"a long breadcrumb cut before a surrogate pair, and trimmed", TPageKind::ListPage,
         crumb + " " + name + u" \U0001F600tail</span>"_qs + sub + "<a href=\"/s\"></ul>" +
             widgets + card + "/o\"></div><footer",
         "https://h.ru/l/", name, 1, 1,
         begun + "название раздела обрезано до 1000 символов из 1005) по ссылке https://h.ru/l/"},
        {"the 10,001st link of a list page left out, subrubrics first", TPageKind::ListPage,
         crumb + "r</span>" + sub + Repeat("<a href=\"/s%i\">", 10000) + "</ul>" + pages +
             "<a href=\"/p\"></ul>",
         "https://h.ru/l/", "r", 10000, 0,
         begun + "пропущено ссылок сверх 10000: 1) по ссылке https://h.ru/l/"},
        {"the 10,001st card of a city page left out", TPageKind::CityPage,
         widgets + Repeat(card + "/o%i\"></div>", 10001) + "<footer", "https://h.ru", "", 0, 10000,
         begun + "пропущено карточек сверх 10000: 1) по ссылке https://h.ru"},
        {"links over 2048 characters left out whole, one of 2048 kept", TPageKind::CityPage,
         heading + tooLong + "\">" + heading + longest + "\">" + widgets + card + tooLong +
             "\"></div>" + card + longest + "\"></div><footer",
         "https://h.ru", "", 1, 1,
         begun + "пропущено ссылок длиннее 2048 символов: 2) по ссылке https://h.ru"},
    };
    for (const Case& c : cases) {
        const TPageRoute route = RouteFoundPage(c.kind, c.text, c.url, RunWith({}, {}));
        EXPECT_EQ(route.Links.ListLinks.size(), c.links) << c.name;
        ASSERT_EQ(route.Links.CardJobs.size(), c.cards) << c.name;
        for (const TRubricEntry& rubric : route.Links.Rubrics)
            EXPECT_EQ(rubric.second, c.rubric) << c.name;
        for (const QString& line : route.Links.CardJobs)
            EXPECT_EQ(SplitJobLine(line).Category, c.rubric) << c.name;
        EXPECT_EQ(PageCutsText(route.Cuts, c.url), c.line) << c.name;
    }
}
