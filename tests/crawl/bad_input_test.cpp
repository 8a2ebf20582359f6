// Hostile page text: each case would take minutes with a quadratic scan, so a
// regression shows up as a hung test rather than a timing assertion.
#include "crawl/page_extraction.h"
#include "crawl/text_utils.h"

#include "tests/qt_print.h"

#include <climits>

#include <gtest/gtest.h>

namespace {

QString Repeat(const QString& piece, int times) {
    return piece.repeated(times);
}

const QString LoneHigh = QString(QChar(0xD800));
const QString LoneLow = QString(QChar(0xDC00));

} // namespace

TEST(BadInput, HundredThousandTagsInAField) {
    const QString field = Repeat("<b>x</b>", 100000);
    EXPECT_EQ(HtmlToText(field), Repeat("x", 100000));
    const QString name = "<h1>" + field + "</h1>";
    EXPECT_EQ(ExtractOrganisation(name, "https://a/o", "", "", {}, {}).Name, Repeat("x", 100000));
}

TEST(BadInput, UnterminatedTagsAndMarkers) {
    EXPECT_EQ(HtmlToText(Repeat("<", 1000000)), "");
    EXPECT_EQ(HtmlToText("a" + Repeat("<<", 200000) + ">b"), "ab");
    const QString openHeadings = Repeat("<h3 class=\"category-widget__title", 100000);
    EXPECT_EQ(ExtractCityPage(openHeadings, "https://a"), QStringList());
    const QString links = "<ul class=\"pagination-list\">" + Repeat("<a href=\"", 100000);
    EXPECT_EQ(ExtractListPage(links, "https://a/b").PageLinks, QStringList());
}

TEST(BadInput, CardHeadersWithoutEnds) {
    const QString block = "<div class=\"organization-category__widgets\">";
    const QString title = " class=\"org-widget-header__title\">";
    const QString titles = Repeat(title, 100000);
    const QString farLink = "<a href=\"/" + Repeat("x", 2000) + "\">";
    struct Case {
        const char* name;
        QString text;
        qsizetype lines, extra;
    } cases[] = {
        {"no header end", block + titles + "<footer", 0, 0},
        {"one far header end", block + titles + "</div><footer", 0, 0},
        {"far href without quote", block + titles + "href=" + Repeat("y", 100000) + "</div><footer",
         MaxPageCardJobs, 90000},
        {"one far link shared by every header",
         block + Repeat(title, 20000) + farLink + "</div><footer", MaxPageCardJobs, 10000},
    };
    for (const Case& c : cases) {
        const TCardJobs jobs = ExtractCardJobs(c.text, "https://a/b");
        ASSERT_EQ(jobs.JobLines.size(), c.lines) << c.name;
        EXPECT_EQ(jobs.Cuts.ExtraCardJobs, c.extra) << c.name;
        if (c.lines > 0) {
            EXPECT_EQ(jobs.JobLines.front(), jobs.JobLines.back()) << c.name;
        }
    }
}

TEST(BadInput, TenMegabytesOfMarkup) {
    const QString card = "<div class=\"org-widget-header__title\"><a href=\"/org/1\">x</a></div>";
    const QString page = "<div class=\"organization-category__widgets\">" +
                         Repeat(card + Repeat("<span>&amp;;&quot;</span>", 20), 20000) + "<footer";
    ASSERT_GT(page.size() * 2, 10 * 1000 * 1000);
    const TCardJobs jobs = ExtractCardJobs(page, "https://a/b/page-3");
    ASSERT_EQ(jobs.JobLines.size(), MaxPageCardJobs);
    EXPECT_EQ(jobs.JobLines.back(), "a/org/1||||||https://a/b/");
    const QString text = HtmlToText(page);
    EXPECT_EQ(text.size(), 20000 * (1 + 20 * 3));
    EXPECT_EQ(ReplaceAll(page, "<", "").size(), page.size() - page.count(u'<'));
    EXPECT_EQ(ExtractBetweenBack(page, "<footer", "", "</div>"),
              Repeat("<span>&amp;;&quot;</span>", 20));
}

TEST(BadInput, NulAndLoneSurrogatesAreCarriedOrCut) {
    const QString nul(QChar(0));
    struct Case {
        const char* name;
        QString text, expected;
    } cases[] = {
        {"NUL ends the decoded text", "a" + nul + Repeat("<b>", 1000), "a"},
        {"lone high surrogate kept", "a" + LoneHigh + "<i>b", "a" + LoneHigh + "b"},
        {"lone low surrogate kept", LoneLow + "&amp;", LoneLow + "&"},
        {"reference next to a surrogate", "&#65;" + LoneHigh, "A" + LoneHigh},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HtmlToText(c.text), c.expected) << c.name;
    EXPECT_EQ(LastPosBefore("x", Repeat(nul, 1000000) + "x", INT_MAX), 0);
}

TEST(BadInput, HugeNumericReferences) {
    const QString digits = Repeat("9", 1000000);
    EXPECT_EQ(HtmlDecode("&#" + digits + ";z"), u"\uFFFDz"_qs);
    EXPECT_EQ(HtmlDecode(Repeat("&#4294967361;", 1000)), Repeat(u"\uFFFD"_qs, 1000));
    EXPECT_EQ(HtmlDecode(Repeat("&#65601;", 3)), Repeat(QString::fromUcs4(U"\U00010041"), 3));
}

TEST(BadInput, SpacesCollapseInOnePass) {
    const QString address = u">Адрес</span>spec__value\">а"_qs + Repeat(" ", 1000000) + "b<";
    EXPECT_EQ(ExtractOrganisation(address, "https://a/o", "", "", {}, {}).Address, u"а b"_qs);
}

TEST(BadInput, EmptyTextEverywhere) {
    EXPECT_EQ(HtmlToText(""), "");
    EXPECT_EQ(ExtractCityPage("", ""), QStringList());
    const TListPageLinks list = ExtractListPage("", "");
    EXPECT_TRUE(list.SubrubricLinks.isEmpty() && list.PageLinks.isEmpty());
    EXPECT_EQ(ExtractCardJobs("", "").JobLines, QStringList());
    EXPECT_EQ(ExtractOrganisation("", "", "", "", {}, {}).Values(), QStringList(13, QString()));
    EXPECT_EQ(DecodeSiteAddress(""), "");
}
