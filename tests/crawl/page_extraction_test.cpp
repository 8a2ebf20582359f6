#include "crawl/page_extraction.h"

#include "crawl/text_utils.h"
#include "fetch/job_line.h"
#include "tests/crawl/fixture.h"
#include "tests/crawl/literal_rules.h"
#include "tests/qt_print.h"

#include <iterator>
#include <random>

#include <gtest/gtest.h>

TEST(ClassifyPage, CodeThenUrlShape) {
    struct Case {
        TJobCode code;
        QString url;
        TPageKind expected;
    } cases[] = {
        {TJobCode::Page, "https://tomsk.quorvel.ru", TPageKind::CityPage},
        {TJobCode::Page, "https://tomsk.quorvel.ru/", TPageKind::ListPage},
        {TJobCode::Page, "https://tomsk.quorvel.ru/kafe/page-2", TPageKind::ListPage},
        {TJobCode::Page, "https://a/", TPageKind::ListPage},
        {TJobCode::Page, "https://", TPageKind::CityPage},
        {TJobCode::Card, "https://tomsk.quorvel.ru", TPageKind::CardPage},
        {TJobCode::Card, "https://tomsk.quorvel.ru/org/1", TPageKind::CardPage},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClassifyPage(c.code, c.url), c.expected) << c.url.toStdString();
}

TEST(SchemeAndHost, SlashFromTheTenthCharacter) {
    struct Case {
        QString url, expected;
    } cases[] = {
        {"https://tomsk.quorvel.ru/kafe/x", "https://tomsk.quorvel.ru"},
        {"https://tomsk.quorvel.ru", ""},
        {"https://a/b", "https://a"},
        {"https:///b/c", "https:///b"},
        {"http://abc/d", "http://abc"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SchemeAndHost(c.url), c.expected) << c.url.toStdString();
}

TEST(NameValueList, WholeNameFirstEntryIgnoringCase) {
    const TNameValueList list = NameValues({
        {u"https://TOMSK.quorvel.ru"_qs, u"Россия, Томск"_qs},
        {u"https://tomsk.quorvel.ru"_qs, u"второй"_qs},
        {"city.ru/kafe?sort=name", u"Кафе"_qs},
        {"city.ru/kafe?sort", "shorter name"},
        {"a", "b=c"},
        {"", "empty name"},
        {u"ЁЛКА"_qs, "ok"},
    });
    struct Case {
        QString name, expected;
    } cases[] = {
        {"https://tomsk.quorvel.ru", u"Россия, Томск"_qs},
        {"CITY.RU/KAFE?SORT=NAME", u"Кафе"_qs},
        {"city.ru/kafe?sort", "shorter name"},
        {"city.ru/kafe?sort=", ""},
        {"a", "b=c"},
        {"a=b", ""},
        {"", "empty name"},
        {u"ёлка"_qs, "ok"},
        {"missing", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(list.Lookup(c.name), c.expected) << c.name.toStdString();
}

TEST(ExtractCityPage, RubricLinksOfTheFixture) {
    const QString url = "https://tomsk.quorvel.ru";
    EXPECT_EQ(ExtractCityPage(FixtureText("city_page.html"), url),
              QStringList(
                  {"tomsk.quorvel.ru/kafe", "tomsk.quorvel.ru/avto", "tomsk.quorvel.ru/zdorove"}));
}

TEST(ExtractCityPage, ScanEdges) {
    const QString h = "<h3 class=\"category-widget__title\">";
    struct Case {
        const char* name;
        QString text, url;
        QStringList expected;
    } cases[] = {
        {"root-relative link takes the whole page URL",
         h + "<a href=\"/x\">",
         "https://c.ru/r",
         {"c.ru/r/x"}},
        {"http link loses exactly its scheme",
         h + "<a href=\"http://other.ru/y\">",
         "https://c.ru",
         {"other.ru/y"}},
        {"links of no web scheme left out",
         h + "<a href=\"ftp://c.ru/f\">" + h + "<a href=\"mailto:a@c.ru\">" + h +
             "<a href=\"relative/x\">" + h + "<a href=\"/ok\">",
         "https://c.ru",
         {"c.ru/ok"}},
        {"line breaks and tabs inside and blanks around the link dropped",
         h + "<a href=\" /a/\r\nb\tc\n \">",
         "https://c.ru",
         {"c.ru/a/bc"}},
        {"tabs and line breaks of a hand-edited page address dropped as well",
         h + "<a href=\"/x\">",
         "https://c.\tru\r\n/r",
         {"c.ru/r/x"}},
        {"a heading 10 characters after the href is consumed with it",
         h + "href=\"/abc" + h + "href=\"/d\"",
         "https://c.ru",
         {"c.ru/abc<h3 class="}},
        {"a heading 11 characters after the href is read",
         h + "href=\"/abcd" + h + "href=\"/d\"",
         "https://c.ru",
         {"c.ru/abcd<h3 class=", "c.ru/d"}},
        {"href before the heading is not used",
         "<a href=\"/no\">" + h + "<a href=\"/yes\">",
         "https://c.ru",
         {"c.ru/yes"}},
        {"missing closing quote gives an empty link", h + "<a href=\"/x", "https://c.ru", {""}},
        {"heading without any href after it", "<a href=\"/x\">" + h + "text", "https://c.ru", {}},
        {"no heading", "<a href=\"/x\">", "https://c.ru", {}},
        {"two headings share one far href", h + h + "<a href=\"/x\">", "https://c.ru", {"c.ru/x"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExtractCityPage(c.text, c.url), c.expected) << c.name;
}

TEST(ExtractListPage, RubricPageFixture) {
    const TListPageLinks links =
        ExtractListPage(FixtureText("rubric_page.html"), "https://tomsk.quorvel.ru/kafe");
    EXPECT_EQ(links.Breadcrumb, u"Кафе & рестораны, бары"_qs);
    EXPECT_EQ(links.SubrubricLinks,
              QStringList({"tomsk.quorvel.ru/kafe/kofejni", "tomsk.quorvel.ru/kafe/pitstsa",
                           "tomsk.quorvel.ru/kafe/sushi"}));
    EXPECT_EQ(links.PageLinks,
              QStringList({"tomsk.quorvel.ru/kafe/page-2", "tomsk.quorvel.ru/kafe/page-3"}));
}

TEST(ExtractListPage, NumberedPageFixtureHasNoSubrubrics) {
    const TListPageLinks links = ExtractListPage(FixtureText("numbered_page.html"),
                                                 "https://tomsk.quorvel.ru/kafe/kofejni/page-2");
    EXPECT_EQ(links.Breadcrumb, ""); // only taken with a subrubric block
    EXPECT_EQ(links.SubrubricLinks, QStringList());
    EXPECT_EQ(links.PageLinks,
              QStringList({"tomsk.quorvel.ru/kafe/kofejni", "tomsk.quorvel.ru/kafe/kofejni/page-3",
                           "tomsk.quorvel.ru/kafe/kofejni/page-4"}));
}

TEST(ExtractListPage, BlockEdges) {
    const QString sub = "<div class=\"organizations-all__list\">";
    const QString pages = "<ul class=\"pagination-list\">";
    struct Case {
        const char* name;
        QString text;
        QStringList subrubrics, pageLinks;
    } cases[] = {
        {"block without its end", sub + "<a href=\"/a\">", {}, {}},
        {"end before the block", "</ul>" + sub + "<a href=\"/a\">", {}, {}},
        {"empty href", sub + "<a href=\"\">x</a></ul>", {""}, {}},
        {"other host kept", sub + "<a href=\"https://b.ru/z\"></ul>", {"b.ru/z"}, {}},
        {"http and letter case of the scheme",
         sub + "<a href=\"http://b.ru/z\"><a href=\"HTTPS://B.ru/y\"></ul>",
         {"b.ru/z", "B.ru/y"},
         {}},
        {"no web scheme left out",
         sub + "<a href=\"javascript:void(0)\"><a href=\"page-2\"></ul>" + pages +
             "<a href=\"tel:+7900\"><a href=\"/p-3\"></ul>",
         {},
         {"h.ru/p-3"}},
        {"line break inside the link dropped",
         sub + "<a href=\"/r/a\r\nb\"></ul>" + pages + "<a href=\"/p-\n2\"></ul>",
         {"h.ru/r/ab"},
         {"h.ru/p-2"}},
        {"a marker 10 characters after the last one is consumed with it",
         pages + "<a href=\"/<a href=\"/y\"></ul>",
         {},
         {"h.ru/<a href="}},
        {"a marker 11 characters after the last one is read",
         pages + "<a href=\"/x<a href=\"/y\"></ul>",
         {},
         {"h.ru/x<a href=", "h.ru/y"}},
        {"a link over 2048 characters left out whole, one of 2048 kept",
         sub + "<a href=\"/" + QString(2036, u'a') + "\"><a href=\"/" + QString(2035, u'a') +
             "\"></ul>",
         {"h.ru/" + QString(2035, u'a')},
         {}},
        {"links only inside the block",
         "<a href=\"/out\">" + pages + "<a href=\"/p-2\"></ul><a href=\"/out\">",
         {},
         {"h.ru/p-2"}},
    };
    for (const Case& c : cases) {
        const TListPageLinks links = ExtractListPage(c.text, "https://h.ru/r");
        EXPECT_EQ(links.SubrubricLinks, c.subrubrics) << c.name;
        EXPECT_EQ(links.PageLinks, c.pageLinks) << c.name;
    }
}

TEST(ExtractCardJobs, FixturePages) {
    struct Case {
        const char* fixture;
        QString url, listUrl, breadcrumb;
        QStringList jobLines;
    } cases[] = {
        {"city_page.html",
         "https://tomsk.quorvel.ru",
         "https://tomsk.quorvel.ru",
         "",
         {"tomsk.quorvel.ru/org/1001-kofejnya-zerno||||||https://tomsk.quorvel.ru",
          "tomsk.quorvel.ru/org/1002-avtomojka||||||https://tomsk.quorvel.ru"}},
        {"rubric_page.html",
         "https://tomsk.quorvel.ru/kafe",
         "https://tomsk.quorvel.ru/kafe",
         u"Кафе & рестораны, бары"_qs,
         {u"tomsk.quorvel.ru/org/2001-pitstseriya-italiya|||Кафе & рестораны, бары|||https://tomsk.quorvel.ru/kafe"_qs,
          u"tomsk.quorvel.ru/org/2002-kafe-uyut|||Кафе & рестораны, бары|||https://tomsk.quorvel.ru/kafe"_qs}},
        {"numbered_page.html",
         "https://tomsk.quorvel.ru/kafe/kofejni/page-2",
         "https://tomsk.quorvel.ru/kafe/kofejni/",
         u"Кофейни"_qs,
         {u"tomsk.quorvel.ru/org/3001-kofe-hauz|||Кофейни|||https://tomsk.quorvel.ru/kafe/kofejni/"_qs,
          u"tomsk.quorvel.ru/org/1001-kofejnya-zerno|||Кофейни|||https://tomsk.quorvel.ru/kafe/kofejni/"_qs}},
        {"card_full.html",
         "https://tomsk.quorvel.ru/org/2002-kafe-uyut",
         "https://tomsk.quorvel.ru/org/2002-kafe-uyut",
         "",
         {}},
    };
    for (const Case& c : cases) {
        const TCardJobs jobs = ExtractCardJobs(FixtureText(c.fixture), c.url);
        EXPECT_EQ(jobs.ListUrl, c.listUrl) << c.fixture;
        EXPECT_EQ(jobs.Breadcrumb, c.breadcrumb) << c.fixture;
        EXPECT_EQ(jobs.JobLines, c.jobLines) << c.fixture;
    }
}

// Bars in a card link or in the subrubric name must not fake the separators of
// the job line: it splits back into the card, the name and the list URL. A bar
// that cannot move the split keeps the site's text, which the row then shows.
TEST(ExtractCardJobs, BarsCannotFakeASeparator) {
    const struct {
        QString Breadcrumb, Carried;
    } cases[] = {
        {"|A ||| B|", u"|A ¦¦¦ B¦"_qs},
        {"Авто | Мото", "Авто | Мото"},
        {"||A || B", "||A || B"},
        {"A||", u"A¦¦"_qs},
    };
    for (const auto& c : cases) {
        const QString page = "<span class=\"breadcrumbs-list__link is-current\">" + c.Breadcrumb +
                             "</span><div class=\"organization-category__widgets\"> "
                             "class=\"org-widget-header__title\"><a href=\"/o|||x|\"></div><footer";
        const TCardJobs jobs = ExtractCardJobs(page, "https://h.ru/l|/");
        EXPECT_EQ(jobs.Breadcrumb, c.Carried);
        ASSERT_EQ(jobs.JobLines,
                  QStringList({"h.ru/o%7C%7C%7Cx%7C|||" + c.Carried + "|||https://h.ru/l|/"}));
        const TJob job = SplitJobLine(AddScheme(jobs.JobLines[0]));
        EXPECT_EQ(job.Url, "https://h.ru/o%7C%7C%7Cx%7C");
        EXPECT_EQ(job.Category, c.Carried);
        EXPECT_EQ(job.CategoryUrl, "https://h.ru/l|/");
    }
}

TEST(ExtractCardJobs, WidgetEdges) {
    const QString block = "<div class=\"organization-category__widgets\">";
    const QString title = " class=\"org-widget-header__title\">";
    struct Case {
        const char* name;
        QString text;
        QStringList jobLines;
    } cases[] = {
        {"header without href", block + title + "<span>x</span></div><footer", {}},
        {"href outside the header", block + title + "x</div><a href=\"/o\"><footer", {}},
        {"header without end", block + title + "<a href=\"/o\"><footer", {}},
        {"href= without quote gives an empty link",
         block + title + "<a href=/o></div><footer",
         {"|||c|||https://h.ru/l/"}},
        {"no footer, no block", block + title + "<a href=\"/o\"></div>", {}},
        {"link of a later header is not the earlier one's",
         block + title + "<a href=x></div>" + title + "<a href=\"/o\"></div><footer",
         {"|||c|||https://h.ru/l/", "h.ru/o|||c|||https://h.ru/l/"}},
        {"headers sharing one end share the link",
         block + title + title + "<a href=\"/o\"></div><footer",
         {"h.ru/o|||c|||https://h.ru/l/", "h.ru/o|||c|||https://h.ru/l/"}},
        {"same card twice",
         block + title + "<a href=\"/o\"></div>" + title + "<a href=\"/o\"></div><footer",
         {"h.ru/o|||c|||https://h.ru/l/", "h.ru/o|||c|||https://h.ru/l/"}},
        {"card of another scheme left out, also where headers share it",
         block + title + "<a href=\"mailto:x@h.ru\"></div>" + title + title +
             "<a href=\"ftp://h.ru/o\"></div>" + title + "<a href=\"http://h.ru/o\"></div><footer",
         {"h.ru/o|||c|||https://h.ru/l/"}},
        {"line break inside the card link dropped",
         block + title + "<a href=\"\r\n/o\r\n1\"></div><footer",
         {"h.ru/o1|||c|||https://h.ru/l/"}},
    };
    const QString crumb = "<span class=\"breadcrumbs-list__link is-current\"> c </span>";
    for (const Case& c : cases)
        EXPECT_EQ(ExtractCardJobs(crumb + c.text, "https://h.ru/l/page-12").JobLines, c.jobLines)
            << c.name;
}

TEST(ExtractOrganisation, CardWithEveryValue) {
    const TNameValueList cities = NameValues({{"https://omsk.quorvel.ru", u"Россия, Омск"_qs},
                                              {"https://TOMSK.quorvel.ru", u"Россия, Томск"_qs}});
    const TNameValueList rubrics =
        NameValues({{"tomsk.quorvel.ru/kafe/kofejni", u"Кафе \"и\" рестораны"_qs}});
    const OrganisationRecord r = ExtractOrganisation(
        FixtureText("card_full.html"), "https://tomsk.quorvel.ru/org/2002-kafe-uyut", u"Кофейни"_qs,
        "https://tomsk.quorvel.ru/kafe/kofejni", cities, rubrics);
    EXPECT_EQ(r.Country, u"Россия"_qs);
    EXPECT_EQ(r.City, u"Томск"_qs);
    EXPECT_EQ(r.CityUrl, "https://tomsk.quorvel.ru");
    EXPECT_EQ(r.Rubric, u"Кафе \"и\" рестораны"_qs);
    EXPECT_EQ(r.Subrubric, u"Кофейни"_qs);
    EXPECT_EQ(r.SubrubricUrl, "https://tomsk.quorvel.ru/kafe/kofejni");
    EXPECT_EQ(r.Name, u"Кафе \"Уют\", бар"_qs);
    EXPECT_EQ(r.Address, u"Томск, проспект Ленина, 45, 2 этаж"_qs);
    EXPECT_EQ(r.Phones, u"+7 (3822) 55-11-22,  +7 913 000-00-00"_qs);
    EXPECT_EQ(r.OpeningHours, u"Пн-Пт 09:00-22:00"_qs);
    EXPECT_EQ(r.Site, u"https://кофе-томск.рф/menu?a=1;b=2"_qs);
    EXPECT_EQ(r.Description,
              u" Уютное кафе &quot;в центре&quot;; <b>завтраки</b>\nвесь день и кофе. "_qs);
    EXPECT_EQ(r.CardUrl, "https://tomsk.quorvel.ru/org/2002-kafe-uyut");
}

TEST(ExtractOrganisation, CardWithNoValue) {
    const OrganisationRecord r =
        ExtractOrganisation(FixtureText("card_empty.html"), "https://tomsk.quorvel.ru/org/9", "",
                            "", NameValues({{"https://omsk.quorvel.ru", "X, Y"}}), {});
    EXPECT_EQ(r.Values(), QStringList({"", "", "https://tomsk.quorvel.ru", "", "", "", "", "", "",
                                       "", "", "", "https://tomsk.quorvel.ru/org/9"}));
}

TEST(ExtractOrganisation, CityLabels) {
    struct Case {
        QString label, country, city;
    } cases[] = {
        {u"Россия, Томск"_qs, u"Россия"_qs, u"Томск"_qs},
        {u"Казахстан,Алматы"_qs, u"Казахстан"_qs, u"лматы"_qs},
        {u"Томск"_qs, "", u"омск"_qs},
        {"A, B, C", "A", "B, C"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        const OrganisationRecord r = ExtractOrganisation(
            "", "https://t.ru/org/1", "", "", NameValues({{"https://t.ru", c.label}}), {});
        EXPECT_EQ(r.Country, c.country) << c.label.toStdString();
        EXPECT_EQ(r.City, c.city) << c.label.toStdString();
    }
}

TEST(ExtractOrganisation, ValueEdges) {
    const QString site = u">Сайт</span><span class=\"spec__value\">"_qs;
    const QString address = u">Адрес</span><span class=\"spec__value\">"_qs;
    const QString about = u"</dl><p>a</p><span>Нашли ошибку в описании?</span>"_qs;
    struct Case {
        const char* name;
        QString text;
        QString OrganisationRecord::*field;
        QString expected;
    } cases[] = {
        {"site without data-url", site + "<a href=\"http://x.ru\">x</a></span>",
         &OrganisationRecord::Site, ""},
        {"site length not a multiple of four",
         site + "<a data-url=\"aHR0cDovL3V5dXQucnU=abc\"></a>", &OrganisationRecord::Site,
         "http://uyut.ru"},
        {"site with a tab", site + "<a data-url=\"YQli\"></a>", &OrganisationRecord::Site, "a b"},
        {"site visible text unused", site + "<a data-url=\"\">http://x.ru</a></span>",
         &OrganisationRecord::Site, ""},
        {"address of spaces", address + "&nbsp; &nbsp;<", &OrganisationRecord::Address, ""},
        {"address entity spaces collapse", address + u"а,&nbsp;&nbsp; б<"_qs,
         &OrganisationRecord::Address, u"а, б"_qs},
        {"name needs the second marker", "<h1</h1><p>x</h1>", &OrganisationRecord::Name, "x"},
        {"description of the last marker", about + about.left(5) + "<p>b</p>" + about.mid(12),
         &OrganisationRecord::Description, "b"},
        {"description without paragraph", u"</dl>x<span>Нашли ошибку в описании?</span>"_qs,
         &OrganisationRecord::Description, ""},
    };
    for (const Case& c : cases) {
        const OrganisationRecord r = ExtractOrganisation(c.text, "https://t.ru/o", "", "", {}, {});
        EXPECT_EQ(r.*c.field, c.expected) << c.name;
    }
}

TEST(DecodeBase64Groups, WholeGroupsOnly) {
    struct Case {
        QString text;
        QByteArray expected;
    } cases[] = {
        {"QUJD", "ABC"},
        {"QUI=", "AB"},
        {"QQ==", "A"},
        {"QUJDRA", "ABC"},
        {"QUJDRA=", "ABC"},
        {"QQ", ""},
        {"", ""},
        {"Q===", "@"},
        {"////", "\xFF\xFF\xFF"},
        {"+/+/", "\xFB\xFF\xBF"},
        {u"QU\u0416D"_qs, "A@\x03"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeBase64Groups(c.text), c.expected) << c.text.toStdString();
}

TEST(DecodeSiteAddress, Utf8PayloadAndMalformedBytes) {
    EXPECT_EQ(DecodeSiteAddress("aHR0cDovL3V5dXQucnU="), "http://uyut.ru");
    EXPECT_EQ(DecodeSiteAddress(u"0KLQvtC80YHQug=="_qs), u"Томск"_qs);
    EXPECT_EQ(DecodeSiteAddress("0g=="), u"\uFFFD"_qs);
}

// Random mixes of overlapping headers, unquoted and quoted links and far header
// ends must give the job lines of the literal scan.
TEST(ExtractCardJobs, SamePiecesGiveTheLiteralResult) {
    const QString pieces[] = {
        " class=\"org-widget-header__title\">",
        "</div>",
        "href=",
        "href=\"",
        "\"",
        "/o1",
        "/o2",
        "https://x.ru/o3",
        "<a ",
        ">",
        "x",
        " class=\"org-widget-header__title\"></div>",
        " \r\n/o\t4",
        "mailto:o5",
    };
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pick(0, std::size(pieces) - 1), length(0, 16);
    const QString url = "https://h.ru/l/page-2";
    for (int round = 0; round < 20000; ++round) {
        QString block;
        for (int k = length(random); k > 0; --k)
            block += pieces[pick(random)];
        const QString page = "<div class=\"organization-category__widgets\">" + block + "<footer";
        ASSERT_EQ(ExtractCardJobs(page, url).JobLines, LiteralCardJobs(page, url))
            << block.toStdString();
    }
}
