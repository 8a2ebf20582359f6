#include "crawl/scraper.h"

#include "crawl/orphan_threads.h"
#include "platform/text_file.h"
#include "platform/tick_count.h"
#include "tests/qt_print.h"
#include "tests/support/case_name.h"
#include "tests/support/event_wait.h"
#include "tests/support/scraper_fakes.h"
#include "tests/support/test_files.h"
#include "testsite/site_markup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

const QByteArray Bom = "\xEF\xBB\xBF";

// Pages of the site's markup, each card link named "x" and each rubric "r".
QList<TCardLink> CardLinks(const QStringList& hrefs) {
    QList<TCardLink> cards;
    for (const QString& href : hrefs)
        cards.append({href, "x"});
    return cards;
}

QString CityPage(const QStringList& rubrics, const QStringList& cards) {
    QString page = PageHead("Тест");
    for (const QString& href : rubrics)
        page += RubricHeading(href, "r");
    return page + CardWidgets(CardLinks(cards), {}) + PageTail();
}

// Always with a subrubric block, however empty: the page's breadcrumb names its
// cards' subrubric.
QString ListPage(const QString& breadcrumb, const QStringList& subrubrics, const QStringList& pages,
                 const QStringList& cards) {
    return PageHead(breadcrumb) + Breadcrumbs(breadcrumb) + SubrubricBlock(subrubrics) +
           CardWidgets(CardLinks(cards), pages) + PageTail();
}

QString CardPage(const QString& name) {
    TCardMarkup card;
    card.NameHtml = name;
    return PageHead(name) + CardContent(card) + PageTail();
}

// One data-file row of a card page that gives only a name.
QString Row(const QString& rubric, const QString& subrubric, const QString& subrubricUrl,
            const QString& name, const QString& cardUrl) {
    return QStringLiteral("\"Россия\";\"Тест\";\"https://city.test\";\"%1\";\"%2\";\"%3\";\"%4\";"
                          "\"\";\"\";\"\";\"\";\"\";\"%5\"")
        .arg(rubric, subrubric, subrubricUrl, name, cardUrl);
}

QStringList Sorted(QStringList list) {
    list.sort();
    return list;
}

const QString Header = QStringLiteral(
    "\"Страна\";\"Город\";\"Урл города (или названия региона)\";\"Рубрика\";\"Подрубрика\";"
    "\"Урл подрубрики\";\"Название организации\";\"Адрес\";\"Телефоны\";\"Часы работы\";\"Сайт\";"
    "\"Описание\";\"Урл организации\"");

class ScraperTest : public testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        SetTickSourceForTests([this] { return Tick.fetch_add(TickStep.load()); });
        Write("cities.txt", Bom + "Россия, Тест=https://city.test\r\nРоссия, Путь=/path/\r\n"
                                  "Без ссылки\r\n");
        View.Selection = {
            {QStringLiteral("Россия, Тест"), QStringLiteral("https://city.test"), true}};
    }
    void TearDown() override {
        Site->Open();
        DrainOrphanThreads();
        SetTickSourceForTests({});
    }

    std::unique_ptr<TScraper> MakeScraper() {
        TScraperSettings settings;
        settings.BaseDir = Dir.path();
        settings.SiteBaseUrl = QStringLiteral("https://site.test");
        settings.NewFetchThread = [site = Site] { return new TFakeScrapingThread(site); };
        settings.FailurePauseMs = 20;
        auto scraper = std::make_unique<TScraper>(View, settings);
        View.Scraper = scraper.get();
        return scraper;
    }

    void Run(TScraper& scraper) {
        scraper.Start();
        ASSERT_TRUE(ProcessEventsUntil([&] { return scraper.Finished(); }));
        scraper.WaitFor();
    }

    // Starts a run and stops it once `jobs` fetch jobs have started.
    void StopOnceStarted(TScraper& scraper, int jobs) {
        scraper.Start();
        ASSERT_TRUE(ProcessEventsUntil([&] { return Site->Started.load() == jobs; }));
        scraper.Terminate();
        ASSERT_TRUE(ProcessEventsUntil([&] { return scraper.Finished(); }));
        scraper.WaitFor();
    }

    void Write(const QString& name, const QByteArray& bytes) {
        WriteTestFile(Dir.filePath(name), bytes);
    }
    QByteArray Read(const QString& name) const { return ReadTestFile(Dir.filePath(name)); }
    QStringList Lines(const QString& name) const { return ReadTextFileLines(Dir.filePath(name)); }
    QStringList Files(const QString& pattern) const {
        return QDir(Dir.path()).entryList({pattern}, QDir::Files, QDir::Name);
    }
    QString DataPath() const { return Dir.path() + QStringLiteral("/data7000.csv"); }
    QString LogPath() const { return Dir.path() + QStringLiteral("/log-7000.txt"); }

    QTemporaryDir Dir;
    std::shared_ptr<TFakeSite> Site = std::make_shared<TFakeSite>();
    TRecordingView View;
    std::atomic<uint32_t> Tick{7000};
    std::atomic<uint32_t> TickStep{0};
};

// A start with nothing to crawl says why, then runs as any run: a data file of the
// header alone, and the lists saved empty, so the next START asks nothing.
TEST_F(ScraperTest, StartWithNoPageToCrawlSaysWhyAndEndsAsAnEmptyRun) {
    struct Case {
        const char* name;
        QByteArray cities;
        QList<TCityItem> selection;
        QStringList texts; // between "Начинаем работу..." and the data file's line
        // (cities.txt, when given, is written before the case and stays)
    } cases[] = {
        {"nothing selected", "", {}, {"Не выбран ни один город, обходить нечего"}},
        {"no selected city can be crawled",
         "",
         {{"Без ссылки", "", false}, {"Россия, Фтп", "ftp://127.0.0.1/x", true}},
         {"Город \"Без ссылки\" пропущен: в cities.txt у него нет ссылки",
          "Город \"Россия, Фтп\" пропущен: ссылка \"ftp://127.0.0.1/x\" не начинается с \"/\", "
          "\"https://\" или \"http://\"",
          "Ни один из выбранных городов не может быть обойдён"}},
        {"empty cities.txt",
         Bom,
         {},
         {"В файле " + Dir.filePath("cities.txt") +
          " нет ни одного города; добавьте строки вида \"Страна, Город=https://адрес\""}},
    };
    for (const Case& c : cases) {
        if (!c.cities.isEmpty())
            Write("cities.txt", c.cities);
        // As START leaves the directory: lists without entries are deleted.
        for (const QString& name : Files("*.csv") + Files("*.dat") + Files("log-*"))
            QFile::remove(Dir.filePath(name));
        View.Lines.clear();
        View.Selection = c.selection;
        auto scraper = MakeScraper();
        Run(*scraper);
        EXPECT_EQ(View.Texts(),
                  QStringList({"Начинаем работу по заданным параметрам", "Начинаем работу..."}) +
                      c.texts +
                      QStringList({"Данные будут записываться в файл " + DataPath(),
                                   "Работа завершена, лог записан в " + LogPath()}))
            << c.name;
        EXPECT_FALSE(scraper->Failed()) << c.name;
        EXPECT_EQ(Read("data7000.csv"), Bom + Header.toUtf8() + "\r\n") << c.name;
        for (const char* list : {"lists.dat", "allknown.dat", "rubrics.dat", "failed.dat"})
            EXPECT_EQ(Read(list), Bom) << c.name << " " << list;
    }
    EXPECT_TRUE(Site->Requests().isEmpty());
    EXPECT_EQ(View.InputsEnabled, QList<bool>({false, true, false, true, false, true}));
}

// city -> rubric "cafe" -> subrubric "coffee" and a numbered page; cards on each.
void AddSmallSite(TFakeSite& site) {
    site.Pages["https://city.test"] = {CityPage({"/cafe", "/CAFE"}, {"/org/1"})};
    site.Pages["https://city.test/cafe"] = {
        ListPage("Кафе", {"/cafe/coffee", "/cafe/bars"}, {"/cafe/page-2"}, {"/org/2", "/org/3"})};
    site.Pages["https://city.test/cafe/coffee"] = {ListPage("Кофейни", {}, {}, {"/org/4"})};
    site.Pages["https://city.test/cafe/page-2"] = {
        ListPage("Кафе", {}, {"/CAFE/page-2", "/cafe"}, {"/org/2"})};
    for (const char* n : {"1", "2", "3", "4"})
        site.Pages[QStringLiteral("https://city.test/org/") + n] = {
            CardPage(QStringLiteral("Org ") + n)};
}

// With one fetch thread the next entry may still be taken while a finished page
// waits to be collected (the loop starts before it collects), so the order of a
// whole crawl depends on timing; these checks hold for every order.
TEST_F(ScraperTest, CrawlsEveryPageAndWritesEachCardOnce) {
    AddSmallSite(*Site);
    auto scraper = MakeScraper();
    Run(*scraper);
    const QString base = QStringLiteral("https://city.test");
    const QStringList requests = Site->Requests();
    EXPECT_EQ(Sorted(requests),
              Sorted({base, base + "/org/1", base + "/cafe", base + "/org/2", base + "/org/3",
                      base + "/cafe/coffee", base + "/org/4", base + "/cafe/bars",
                      base + "/cafe/page-2", base + "/org/2"}));
    EXPECT_LT(requests.indexOf(base + "/org/2"), requests.indexOf(base + "/org/3"));
    EXPECT_LT(requests.indexOf(base + "/cafe/coffee"), requests.indexOf(base + "/org/4"));
    EXPECT_EQ(Sorted(View.Texts().mid(3, 5)),
              Sorted({"Найдено 1 объектов по ссылке https://city.test",
                      "Найдено 2 объектов по ссылке https://city.test/cafe",
                      "Найдено 1 объектов по ссылке https://city.test/cafe/coffee",
                      "https://city.test/cafe/bars: ERROR_Not Found",
                      "Найдено 1 объектов по ссылке https://city.test/cafe/page-2"}));
    ASSERT_EQ(View.Texts().size(), 10);
    EXPECT_EQ(View.Texts()[8], "Не удалось загрузить страниц: 1. Они сохранены в " + Dir.path() +
                                   "/failed.dat, продолжение работы загрузит их снова");
    EXPECT_EQ(Lines("failed.dat"), QStringList{"city.test/cafe/bars"});
    QStringList rows = Lines("data7000.csv");
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(rows.takeFirst(), Header);
    EXPECT_EQ(Sorted(rows),
              Sorted({Row("", "", base, "Org 1", base + "/org/1"),
                      Row("", "Кафе", base + "/cafe", "Org 2", base + "/org/2"),
                      Row("", "Кафе", base + "/cafe", "Org 3", base + "/org/3"),
                      Row("Кафе", "Кофейни", base + "/cafe/coffee", "Org 4", base + "/org/4"),
                      Row("", "Кафе", base + "/cafe/", "Org 2", base + "/org/2")}));
    EXPECT_EQ(Read("lists.dat"), Bom);
    EXPECT_EQ(Lines("allknown.dat"),
              QStringList({"city.test", "city.test/cafe", "city.test/cafe/bars",
                           "city.test/cafe/coffee", "city.test/cafe/page-2"}));
    ASSERT_FALSE(View.Counters.isEmpty());
    EXPECT_EQ(View.Counters.last(),
              qMakePair(QString("Найдено организаций: 5"), QString("Записано организаций: 5")));
    EXPECT_EQ(Site->MostRunning.load(), 1);
    EXPECT_FALSE(scraper->Failed());
    const TRunTotals totals = scraper->Totals();
    EXPECT_EQ(QList<int>({totals.PagesFetched, totals.PagesFailed, totals.RowsWritten}),
              QList<int>({9, 1, 5}));
}

// A city given as "http://" is fetched over HTTPS and its cards still find their
// country and city; a city of any other scheme is named and left out.
TEST_F(ScraperTest, CityUrlsLoseExactlyTheirWebScheme) {
    Write("cities.txt", Bom + "Россия, Тест=http://city.test\r\nРоссия, Фтп=ftp://127.0.0.1/x\r\n"
                              "Россия, Слово=not a url\r\n");
    View.Selection = {{"Россия, Фтп", "ftp://127.0.0.1/x", true},
                      {"Россия, Тест", "http://city.test", true},
                      {"Россия, Слово", "not a url", true}};
    Site->Pages["https://city.test"] = {CityPage({}, {"/org/1"})};
    Site->Pages["https://city.test/org/1"] = {CardPage("Org 1")};
    auto scraper = MakeScraper();
    Run(*scraper);
    const QString skipped = "\" не начинается с \"/\", \"https://\" или \"http://\"";
    EXPECT_EQ(View.Texts().mid(2, 2),
              QStringList({"Город \"Россия, Фтп\" пропущен: ссылка \"ftp://127.0.0.1/x" + skipped,
                           "Город \"Россия, Слово\" пропущен: ссылка \"not a url" + skipped}));
    EXPECT_EQ(Site->Requests(), QStringList({"https://city.test", "https://city.test/org/1"}));
    EXPECT_EQ(Lines("data7000.csv").value(1),
              Row("", "", "https://city.test", "Org 1", "https://city.test/org/1"));
    EXPECT_EQ(Lines("allknown.dat"), QStringList{"city.test"});
}

// Subrubric links with a query string hold "=": their cards still find the rubric.
TEST_F(ScraperTest, RubricOfASubrubricWithAQueryString) {
    Write("lists.dat", Bom + "city.test/cafe?sort=name\r\n");
    Write("allknown.dat", Bom);
    Site->Pages["https://city.test/cafe?sort=name"] = {
        ListPage("Кафе", {"/cafe/coffee?a=b&c=d"}, {}, {})};
    Site->Pages["https://city.test/cafe/coffee?a=b&c=d"] = {
        ListPage("Кофейни", {}, {}, {"/org/4"})};
    Site->Pages["https://city.test/org/4"] = {CardPage("Org 4")};
    auto scraper = MakeScraper();
    Run(*scraper);
    EXPECT_EQ(Lines("data7000.csv").value(1),
              Row("Кафе", "Кофейни", "https://city.test/cafe/coffee?a=b&c=d", "Org 4",
                  "https://city.test/org/4"));
}

TEST_F(ScraperTest, ResumedRunIgnoresSelectionAndKnowsSavedLinksInAnyCase) {
    Write("lists.dat",
          Bom + "city.test/cafe/coffee\r\ncity.test/org/9|||Сыры|||https://city.test/cheese\r\n");
    Write("allknown.dat",
          Bom + "CITY.TEST/CAFE/BARS\r\ncity.test/cafe/coffee\r\nCity.Test/Cafe/Coffee\r\n");
    TickStep = 1001; // every refresh shows
    Site->Pages["https://city.test/cafe/coffee"] = {
        ListPage("Кофейни", {"/cafe/bars", "/cafe/tea"}, {}, {"/org/4"})};
    Site->Pages["https://city.test/cafe/tea"] = {ListPage("Чай", {}, {}, {"/org/5"})};
    for (const char* n : {"4", "5", "9"})
        Site->Pages[QStringLiteral("https://city.test/org/") + n] = {
            CardPage(QStringLiteral("Org ") + n)};
    auto scraper = MakeScraper();
    Run(*scraper);
    const QString base = QStringLiteral("https://city.test");
    EXPECT_EQ(Sorted(Site->Requests()),
              Sorted({base + "/cafe/coffee", base + "/org/4", base + "/org/9", base + "/cafe/tea",
                      base + "/org/5"}));
    QStringList rows = Lines(View.Texts()[2].section(' ', -1).section('/', -1));
    rows.removeFirst();
    // Subrubrics found before the resume have no rubric; "tea", found now, has one.
    EXPECT_EQ(Sorted(rows),
              Sorted({Row("", "Кофейни", base + "/cafe/coffee", "Org 4", base + "/org/4"),
                      Row("", "Сыры", base + "/cheese", "Org 9", base + "/org/9"),
                      Row("Кофейни", "Чай", base + "/cafe/tea", "Org 5", base + "/org/5")}));
    EXPECT_EQ(Lines("allknown.dat"),
              QStringList({"CITY.TEST/CAFE/BARS", "city.test/cafe/coffee", "city.test/cafe/tea"}));
    ASSERT_FALSE(View.Hints.isEmpty());
    EXPECT_EQ(View.Hints.first(), "1 из 2, осталось 1");
    EXPECT_EQ(View.Counters.first(),
              qMakePair(QString("Найдено организаций: 0"), QString("Записано организаций: 0")));
}

// A card's stored line reaches the fetch thread as its parts, whatever bars its
// name and list URL hold, and a card that fails goes to failed.dat exactly as it
// was stored, a line with one separator too.
TEST_F(ScraperTest, StoredCardLinesKeepTheirPartsAndTheirText) {
    const QStringList stored = {u"city.test/org/9|||Сыры ¦¦¦ | x|||https://city.test/c|||d"_qs,
                                u"city.test/org/8|||Сыры ¦¦¦ | x|||https://city.test/c|||d"_qs,
                                u"city.test/org/7|||Сыры"_qs};
    Write("lists.dat", Bom + (stored.join("\r\n") + "\r\n").toUtf8());
    Write("allknown.dat", Bom);
    Site->Pages["https://city.test/org/9"] = {CardPage("Org 9")};
    auto scraper = MakeScraper();
    Run(*scraper);
    const QString base = QStringLiteral("https://city.test");
    EXPECT_EQ(Sorted(Site->Requests()),
              Sorted({base + "/org/7", base + "/org/8", base + "/org/9"}));
    EXPECT_EQ(Lines("data7000.csv").value(1),
              Row("", u"Сыры ¦¦¦ | x"_qs, base + "/c|||d", "Org 9", base + "/org/9"));
    EXPECT_TRUE(View.Texts().contains("https://city.test/org/8: ERROR_Not Found"));
    EXPECT_EQ(Sorted(Lines("failed.dat")), Sorted(stored.mid(1)));
}

// Blank entries and entries skip.txt names are dropped as the lists load, wherever
// they come from: they are neither fetched nor counted.
TEST_F(ScraperTest, BlankAndSkippedEntriesAreDroppedAtLoad) {
    Write("lists.dat", Bom + "\r\n \t\r\ncity.test/x\r\nskipped.test\r\n"
                             "city.test/org/1|||Кафе|||https://city.test/cafe\r\n");
    Write("allknown.dat", Bom);
    Write("failed.dat", Bom + "city.test/failed\r\n\r\n");
    Write("skip.txt", "skipped.test\r\nhttps://city.test/org/1\r\ncity.test/failed\r\n");
    Site->Pages["https://city.test/x"] = {ListPage("X", {}, {}, {})};
    TickStep = 1001;
    auto scraper = MakeScraper();
    Run(*scraper);
    EXPECT_EQ(Site->Requests(), QStringList{"https://city.test/x"});
    EXPECT_TRUE(View.Hints.contains("1 из 1, осталось 0"));
}

TEST_F(ScraperTest, SkipListKeepsLinksAndCardsOutByKeyOrFullUrl) {
    Write("skip.txt", "CITY.TEST/cafe\r\n  https://City.Test/ORG/1 \r\nhttps://elsewhere.test\r\n");
    Site->Pages["https://city.test"] = {CityPage({"/cafe", "/bars"}, {"/org/1", "/org/2"})};
    auto scraper = MakeScraper();
    Run(*scraper);
    EXPECT_EQ(View.Texts()[2], "В файле skip.txt игнорируемых ссылок: 3");
    EXPECT_TRUE(View.Texts().contains("Найдено 1 объектов по ссылке https://city.test"));
    EXPECT_EQ(Site->Requests(), QStringList({"https://city.test", "https://city.test/org/2",
                                             "https://city.test/bars"}));
    EXPECT_EQ(Lines("allknown.dat"), QStringList({"city.test", "city.test/bars"}));
}

TEST_F(ScraperTest, CityWithoutUrlIsNamedAndLeftOut) {
    View.Selection.prepend({"Без ссылки", "", false});
    Site->Pages["https://city.test"] = {CityPage({}, {})};
    auto scraper = MakeScraper();
    Run(*scraper);
    EXPECT_EQ(View.Texts()[2], "Город \"Без ссылки\" пропущен: в cities.txt у него нет ссылки");
    EXPECT_EQ(Site->Requests(), QStringList{"https://city.test"});
    EXPECT_FALSE(scraper->Failed());
}

TEST_F(ScraperTest, CityPathGetsTheSiteBaseUrl) {
    View.Selection = {{"Россия, Путь", "/path/", true}};
    auto scraper = MakeScraper();
    Run(*scraper);
    EXPECT_EQ(Site->Requests(), QStringList{"https://site.test/path/"});
    EXPECT_EQ(Lines("allknown.dat"), QStringList{"site.test/path/"});
}

TEST_F(ScraperTest, SavedLogNeverReplacesAFile) {
    View.Selection.clear();
    Write("log-7000.txt", "older run");
    Write("log-7001.txt", "older run");
    auto scraper = MakeScraper();
    Run(*scraper);
    EXPECT_EQ(View.Texts().last(),
              "Работа завершена, лог записан в " + Dir.path() + "/log-7002.txt");
    EXPECT_EQ(Read("log-7000.txt"), "older run");
    EXPECT_EQ(View.SavedLogs, QStringList{Dir.path() + "/log-7002.txt"});
}

struct TThrottleCase {
    const char* Name;
    uint32_t Tick;
    uint32_t Later = 0;      // the clock moves on once, right after the controller's creation
    bool ShowsStart = false; // ... far enough for the start's counters to show
};

// Waits on another thread's progress from inside a window step, with a bound.
bool WaitBounded(const std::function<bool()>& done) {
    for (int waited = 0; waited < 10000; ++waited) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

void PrintTo(const TThrottleCase& c, std::ostream* os) {
    *os << c.Name;
}

class ScraperThrottleTest : public ScraperTest,
                            public testing::WithParamInterface<TThrottleCase> {};

// Within 1000 ms of the controller's creation (or of the last refresh) nothing is
// refreshed, but the run end always shows the final counters, even right after
// the tick count wrapped.
TEST_P(ScraperThrottleTest, OnlyTheFinalCountersShowWithinOneSecond) {
    Tick = GetParam().Tick;
    AddSmallSite(*Site);
    auto scraper = MakeScraper();
    Tick += GetParam().Later;
    Run(*scraper);
    EXPECT_TRUE(View.Hints.isEmpty());
    QList<QPair<QString, QString>> counters{{"Найдено организаций: 5", "Записано организаций: 5"}};
    if (GetParam().ShowsStart)
        counters.prepend({"Найдено организаций: 0", "Записано организаций: 0"});
    EXPECT_EQ(View.Counters, counters);
}

INSTANTIATE_TEST_SUITE_P(Ticks, ScraperThrottleTest,
                         testing::Values(TThrottleCase{"Steady", 7000},
                                         TThrottleCase{"JustAfterWrap", 500},
                                         TThrottleCase{"ExactlyOneSecond", 7000, 1000},
                                         TThrottleCase{"JustOverOneSecond", 7000, 1001, true}),
                         CaseName);

TEST_F(ScraperTest, ProgressHintFollowsEveryEffectiveRefresh) {
    AddSmallSite(*Site);
    TickStep = 1001;
    auto scraper = MakeScraper();
    Run(*scraper);
    ASSERT_GE(View.Hints.size(), 2);
    EXPECT_EQ(View.Hints.first(), "1 из 1, осталось 0");
    EXPECT_EQ(View.Hints[View.Hints.size() - 2], "10 из 10, осталось 0");
    EXPECT_EQ(View.Hints.last(), "0 из 10, осталось 10"); // the run end's reset
}

struct TLoopFailureCase {
    const char* Name;
    QString Message;
    QStringList Expected; // the log after "Найдено ...", whose line raised the failure
    bool Pauses;
};

void PrintTo(const TLoopFailureCase& c, std::ostream* os) {
    *os << c.Name;
}

class ScraperLoopFailureTest : public ScraperTest,
                               public testing::WithParamInterface<TLoopFailureCase> {};

TEST_P(ScraperLoopFailureTest, ReportsPausesAndKeepsTheRemainingWork) {
    AddSmallSite(*Site);
    View.FailOn = QStringLiteral("Найдено");
    View.FailureText = GetParam().Message;
    auto scraper = MakeScraper();
    Run(*scraper);
    QStringList expected = {"Начинаем работу по заданным параметрам", "Начинаем работу...",
                            "Данные будут записываться в файл " + DataPath()};
    expected += GetParam().Expected;
    expected.append("Работа завершена, лог записан в " + LogPath());
    EXPECT_EQ(View.Texts(), expected);
    EXPECT_EQ(View.Armed, GetParam().Pauses ? QList<int>{20} : QList<int>{});
    EXPECT_TRUE(scraper->Failed());
    EXPECT_EQ(View.InputsEnabled, QList<bool>({false, true}));
    EXPECT_EQ(Lines("lists.dat"),
              QStringList({"city.test/org/1||||||https://city.test", "city.test/cafe"}));
    EXPECT_EQ(Lines("data7000.csv"), QStringList{Header});
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ScraperLoopFailureTest,
    testing::Values(TLoopFailureCase{"Paused",
                                     "boom",
                                     {"Ошибка: boom", "Включаем паузу на 30 секунд",
                                      "Отключаем паузу, продолжаем работу"},
                                     true},
                    TLoopFailureCase{"CutTo200",
                                     QString(250, 'x'),
                                     {"Ошибка: " + QString(200, 'x'), "Включаем паузу на 30 секунд",
                                      "Отключаем паузу, продолжаем работу"},
                                     true},
                    TLoopFailureCase{"NoPauseWhenEnding",
                                     "сайт закрыт, завершаем работу",
                                     {"Ошибка: сайт закрыт, завершаем работу"},
                                     false}),
    CaseName);

struct TInputFailureCase {
    const char* Name;
    std::function<void(ScraperTest&)> Arrange;
    QString ErrorStart;
};

void PrintTo(const TInputFailureCase& c, std::ostream* os) {
    *os << c.Name;
}

class ScraperInputFailureTest : public ScraperTest,
                                public testing::WithParamInterface<TInputFailureCase> {};

// The run ends through the run end: window idle, log saved, stored lists untouched.
TEST_P(ScraperInputFailureTest, LogsTheReasonAndLeavesStoredListsAlone) {
    GetParam().Arrange(*this);
    const QByteArray lists = Read("lists.dat");
    const QByteArray known = Read("allknown.dat");
    auto scraper = MakeScraper();
    Run(*scraper);
    const QStringList texts = View.Texts();
    ASSERT_EQ(texts.size(), 4);
    EXPECT_TRUE(texts[2].startsWith(GetParam().ErrorStart)) << texts[2].toStdString();
    EXPECT_EQ(texts[3], "Работа завершена, лог записан в " + LogPath());
    EXPECT_EQ(View.InputsEnabled, QList<bool>({false, true}));
    EXPECT_EQ(Read("lists.dat"), lists);
    EXPECT_EQ(Read("allknown.dat"), known);
    EXPECT_TRUE(Site->Requests().isEmpty());
    EXPECT_TRUE(scraper->Failed());
}

INSTANTIATE_TEST_SUITE_P(Inputs, ScraperInputFailureTest,
                         testing::Values(TInputFailureCase{"NoCities",
                                                           [](ScraperTest& t) {
                                                               ASSERT_TRUE(QFile::remove(
                                                                   t.Dir.filePath("cities.txt")));
                                                           },
                                                           "Ошибка: Не удалось прочитать файл "},
                                         TInputFailureCase{"ListsWithoutAllKnown",
                                                           [](ScraperTest& t) {
                                                               t.Write("lists.dat",
                                                                       Bom + "city.test/a\r\n");
                                                           },
                                                           "Ошибка: Не удалось прочитать файл "}),
                         CaseName);

TEST_F(ScraperTest, StopPutsRunningJobsBackAndLeavesTheirThreadsToTheKeeper) {
    Write("lists.dat", Bom + "a.test\r\nb.test\r\nc.test\r\nd.test\r\ne.test\r\n");
    Write("allknown.dat", Bom);
    Site->Gated = true;
    View.Limit = 2;
    auto scraper = MakeScraper();
    ASSERT_NO_FATAL_FAILURE(StopOnceStarted(*scraper, 2));
    EXPECT_EQ(Lines("lists.dat"), QStringList({"a.test", "b.test", "c.test", "d.test", "e.test"}));
    EXPECT_EQ(View.Texts().last(), "Работа завершена, лог записан в " + LogPath());
    EXPECT_FALSE(scraper->Failed());
    EXPECT_EQ(OrphanThreadCount(), 2);
    scraper.reset();
    Site->Open();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Site->HandedOver.load() == 2; }));
    ReapFinishedOrphans();
    EXPECT_EQ(OrphanThreadCount(), 0);
    EXPECT_EQ(Site->Alive.load(), 0);
    EXPECT_EQ(Site->MostRunning.load(), 2);
}

// Jobs that finished while another page was routed are not collected once the
// stop is seen: they go back to the front of the work list in the order taken.
TEST_F(ScraperTest, FinishedJobsNotYetCollectedAtTheStopGoBack) {
    Write("lists.dat", Bom + "a.test\r\nb.test\r\nc.test\r\nd.test\r\n");
    Write("allknown.dat", Bom);
    for (const char* held : {"https://a.test", "https://c.test", "https://d.test"})
        Site->Pages[held] = {ListPage("H", {}, {}, {}), TFetchResult::Fetched, "успешно", true};
    Site->Pages["https://b.test"] = {ListPage("B", {}, {}, {})};
    View.Limit = 2;
    auto scraper = MakeScraper();
    View.OnLine = [&](const QString& line) {
        if (!line.contains("https://b.test"))
            return;
        Site->Open();
        EXPECT_TRUE(WaitBounded([&] { return Site->HandedOver.load() == Site->Started.load(); }));
        scraper->Terminate();
    };
    Run(*scraper);
    EXPECT_EQ(Lines("lists.dat"), QStringList({"a.test", "c.test", "d.test"}));
}

// A failure of the loop leaves running jobs alone; at exit the keeper stops them
// and keeps serving the window step that a stopping job still runs.
TEST_F(ScraperTest, DrainStopsOrphansThatOutliveAFailedRun) {
    Write("lists.dat", Bom + "slow.test\r\nfast.test\r\n");
    Write("allknown.dat", Bom);
    Site->Pages["https://slow.test"] = {ListPage("S", {}, {}, {}), TFetchResult::Fetched, "успешно",
                                        true};
    Site->Pages["https://fast.test"] = {ListPage("F", {}, {}, {})};
    Site->GateEndsOnStop = true;
    Site->LogWhenStopped = true;
    View.Limit = 2;
    View.FailOn = QStringLiteral("Найдено");
    View.FailureText = QStringLiteral("boom");
    auto scraper = MakeScraper();
    Run(*scraper);
    EXPECT_TRUE(scraper->Failed());
    EXPECT_EQ(OrphanThreadCount(), 1);
    scraper.reset();
    DrainOrphanThreads();
    EXPECT_EQ(OrphanThreadCount(), 0);
    EXPECT_EQ(Site->Alive.load(), 0);
    EXPECT_EQ(View.Texts().last(), "stopped https://slow.test");
}

} // namespace
