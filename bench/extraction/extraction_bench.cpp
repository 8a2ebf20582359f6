// Extraction speed on pages of the site's size: a 300 KB list page with 50 cards,
// a 100 KB card page, and HtmlToText over 1 M characters. Beside each, the same work done the
// way the rules read literally (cutting the front off a working copy per item,
// removing tags one at a time) as the peer, so the report shows the ratio.
#include "crawl/page_extraction.h"
#include "crawl/text_utils.h"

#include <benchmark/benchmark.h>

namespace {

// Script and style noise that real pages carry around the content.
QString Filler(qsizetype size) {
    const QString chunk =
        u"<script>window.dataLayer=window.dataLayer||[];function gtag(){dataLayer.push("
        u"arguments);}gtag('js',new Date());</script>\n<div class=\"banner\"><a href=\"/promo\">"
        u"Скидки недели &mdash; до 50%</a></div>\n"_qs;
    QString text;
    while (text.size() < size)
        text += chunk;
    text.truncate(size);
    return text;
}

QString ListPage() {
    QString page = u"<html><head><title>Кафе</title></head><body><span class=\"breadcrumbs-"
                   u"list__link is-current\">Кафе &amp; бары</span>"
                   u"<div class=\"organizations-all__list\"><ul>"_qs;
    for (int i = 0; i < 30; ++i)
        page += QString("<li><a href=\"/kafe/sub-%1\">Подрубрика %1</a></li>").arg(i);
    page += "</ul></div><div class=\"organization-category__widgets\">";
    for (int i = 0; i < 50; ++i) {
        page += QString("<div class=\"org-widget\"><div class=\"org-widget-header\"><div class="
                        "\"org-widget-header__title\"><a href=\"/org/%1-kafe\">Кафе №%1</a></div>"
                        "</div>")
                    .arg(i);
        page += Filler(5000) + "</div>";
    }
    page += "</div><ul class=\"pagination-list\">";
    for (int i = 2; i < 12; ++i)
        page += QString("<li><a href=\"/kafe/page-%1\">%1</a></li>").arg(i);
    page += "</ul>";
    page += Filler(300 * 1024 / 2 - page.size() - 20) + "<footer></footer></html>";
    return page;
}

QString CardPage() {
    QString page =
        u"<html><head><title>Кафе</title></head><body>"_qs + Filler(20000) +
        u"<h1 class=\"t\">Кафе &quot;Уют&quot;</h1><dl>"
        u"<span>Адрес</span><span class=\"spec__value\">Томск, &nbsp; ул. Ленина, 1</span>"
        u"<span>Телефон</span><span class=\"spec__value\">+7 3822 55-11-22</span>"
        u"<span>Режим работы</span><span class=\"spec__value\">Пн&ndash;Пт</span>"
        u"<span>Сайт</span><span class=\"spec__value\"><a data-url=\"aHR0cDovL3V5dXQucnU=\">"
        u"uyut.ru</a></span></dl><dl><p>Уютное кафе; завтраки.</p>"
        u"<span>Нашли ошибку в описании?</span></dl>"_qs;
    return page + Filler(100 * 1024 / 2 - page.size() - 20) + "<footer></footer>";
}

QString Markup() {
    QString text;
    const QString piece = u"<p class=\"x\">Кафе &laquo;Уют&raquo;; <b>завтраки</b>&nbsp;весь "
                          u"день<br>\r\n&amp;nbsp;&#1040;&mdash;</p>"_qs;
    while (text.size() < 1024 * 1024)
        text += piece;
    text.truncate(1024 * 1024);
    return text;
}

// The literal reading of the card scan: the working copy loses its front at every item.
int LiteralCardScan(const QString& text) {
    QString copy =
        ExtractBetween(text, "<div class=\"organization-category__widgets\">", "", "<footer");
    const QString marker = " class=\"org-widget-header__title\">";
    int found = 0;
    for (qsizetype r; (r = copy.indexOf(marker)) >= 0;) {
        const QString header = ExtractBetween(copy.mid(r), marker, "", "</div>");
        found += header.contains("href=") ? 1 : 0;
        copy.remove(0, r + 10);
    }
    return found;
}

// The literal reading of tag removal: the first tag is removed, again and again.
QString LiteralTagRemoval(QString text) {
    for (qsizetype open; (open = text.indexOf(u'<')) >= 0;) {
        const qsizetype close = text.indexOf(u'>', open + 1);
        text.remove(open, close < 0 ? text.size() - open : close - open + 1);
    }
    return text;
}

void BM_ListPage(benchmark::State& state) {
    const QString page = ListPage();
    const QString url = "https://tomsk.quorvel.ru/kafe/page-2";
    for (auto _ : state) {
        TListPageLinks links = ExtractListPage(page, url);
        TCardJobs jobs = ExtractCardJobs(page, url);
        benchmark::DoNotOptimize(links);
        benchmark::DoNotOptimize(jobs);
        if (jobs.JobLines.size() != 50 || links.SubrubricLinks.size() != 30)
            state.SkipWithError("unexpected extraction result");
    }
    state.SetBytesProcessed(state.iterations() * page.size() * 2);
}

void BM_ListPageLiteralCardScan(benchmark::State& state) {
    const QString page = ListPage();
    for (auto _ : state)
        benchmark::DoNotOptimize(LiteralCardScan(page));
    state.SetBytesProcessed(state.iterations() * page.size() * 2);
}

void BM_CardPage(benchmark::State& state) {
    const QString page = CardPage();
    TNameValueList cities, rubrics;
    cities.Add("https://tomsk.quorvel.ru", u"Россия, Томск"_qs);
    rubrics.Add("tomsk.quorvel.ru/kafe", u"Кафе"_qs);
    for (auto _ : state) {
        OrganisationRecord record =
            ExtractOrganisation(page, "https://tomsk.quorvel.ru/org/1", u"Кафе"_qs,
                                "https://tomsk.quorvel.ru/kafe", cities, rubrics);
        benchmark::DoNotOptimize(record);
        if (record.Site != "http://uyut.ru")
            state.SkipWithError("unexpected extraction result");
    }
    state.SetBytesProcessed(state.iterations() * page.size() * 2);
}

void BM_HtmlToText(benchmark::State& state) {
    const QString text = Markup();
    for (auto _ : state)
        benchmark::DoNotOptimize(HtmlToText(text));
    state.SetItemsProcessed(state.iterations() * text.size());
}

void BM_HtmlToTextLiteralTagRemoval(benchmark::State& state) {
    const QString text = Markup().left(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(LiteralTagRemoval(text));
    state.SetItemsProcessed(state.iterations() * text.size());
}

} // namespace

BENCHMARK(BM_ListPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListPageLiteralCardScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CardPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HtmlToText)->Unit(benchmark::kMillisecond);
// The one-at-a-time removal is quadratic; a 64 K slice is enough to show it.
BENCHMARK(BM_HtmlToTextLiteralTagRemoval)->Arg(64 * 1024)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
