#include "testsite/site_model.h"

#include "testsite/site_markup.h"

#include <QMap>

#include <vector>

namespace {

const char* const CityName = "Тестоград";
const char* const CountryName = "Россия";

// One value of a card: the markup the page carries and the column text a crawl
// must write for it. An empty markup leaves the entry out of the page.
struct TValue {
    const char* Html = "";
    const char* Text = "";
};

struct TCard {
    const char* Path;
    TValue Name, Address, Phones, Hours;
    const char* Site = ""; // written base64-encoded in "data-url"
    TValue Description;    // Text: the first paragraph as the file holds it
};

// A city or list page. Breadcrumb: the current entry's markup and its text.
struct TList {
    const char* Path;
    TValue Breadcrumb;
    std::vector<const char*> Rubrics;    // headings of the city page
    std::vector<const char*> Subrubrics; // the subrubric block, when not empty
    std::vector<const char*> Cards;      // widget headers; "" is a header without a link
    std::vector<const char*> Pagination; // numbered-page links as written
    bool HasWidgets = true;
    TSiteCoding Coding = TSiteCoding::Identity;
};

const std::vector<TCard>& Cards() {
    static const std::vector<TCard> cards = {
        {"/firm/101-gorodskaya-spravochnaya/",
         {"Городская справочная", "Городская справочная"},
         {"пр. Ленина, 1", "пр. Ленина, 1"},
         {"+7 (3822) 00-00-01", "+7 (3822) 00-00-01"},
         {"Круглосуточно", "Круглосуточно"},
         "https://spravka.example/",
         {"Справки о городе.", "Справки о городе."}},
        {"/firm/102-avtocentr-sever/",
         {"Автоцентр &quot;Север&quot;", "Автоцентр 'Север'"},
         {"ул. Северная,&nbsp;&nbsp; 12", "ул. Северная, 12"},
         {"+7 (3822) 10-20-30<br>+7 913 100-20-30", "+7 (3822) 10-20-30 +7 913 100-20-30"},
         {"Пн&ndash;Пт 9:00&ndash;20:00; Сб 10:00&ndash;16:00", "Пн-Пт 9:00-20:00, Сб 10:00-16:00"},
         "https://sever-auto.example/",
         {"Продажа и обслуживание &quot;под ключ&quot;; <b>гарантия</b>",
          "Продажа и обслуживание &quot;под ключ&quot;; <b>гарантия</b>"}},
        {"/firm/103-kafe-lozhka/",
         {"Кафе «Ложка; вилка»", "Кафе «Ложка, вилка»"},
         {"ул. Кирова, 3", "ул. Кирова, 3"},
         {"+7 (3822) 33-33-33", "+7 (3822) 33-33-33"},
         {"Ежедневно 8:00&ndash;23:00", "Ежедневно 8:00-23:00"},
         "https://ложка.рф/",
         {"Завтраки весь день.\nДетское меню.", "Завтраки весь день.\nДетское меню."}},
        {"/firm/104-stolovaya-1/",
         {"Столовая №1", "Столовая №1"},
         {"ул. Гагарина, 7", "ул. Гагарина, 7"},
         {"", ""},
         {"Пн&ndash;Пт 11:00&ndash;16:00", "Пн-Пт 11:00-16:00"},
         "",
         {"Комплексные обеды \"как дома\"", "Комплексные обеды 'как дома'"}},
        {"/firm/105-shinomontazh-koleso/",
         {"  Шиномонтаж\t«Колесо»  ", "Шиномонтаж «Колесо»"},
         {"Московский тракт, 5а", "Московский тракт, 5а"},
         {"+7 (3822) 55-55-55", "+7 (3822) 55-55-55"},
         {"Пн&ndash;Вс 8:00&ndash;22:00", "Пн-Вс 8:00-22:00"},
         "https://koleso.example/shinomontazh",
         {"Сезонное хранение шин.\tБалансировка.", "Сезонное хранение шин. Балансировка."}},
        {"/firm/106-shinnyy-dvor/",
         {"Шинный двор", "Шинный двор"},
         {"ул. Пушкина, 63/1", "ул. Пушкина, 63/1"},
         {"+7 (3822) 60-60-60", "+7 (3822) 60-60-60"},
         {"", ""},
         "",
         {"", ""}},
        {"/firm/107-bystraya-pomosch/",
         {"Быстрая помощь на дороге", "Быстрая помощь на дороге"},
         {"ул. Нахимова, 8", "ул. Нахимова, 8"},
         {"+7 (3822) 70-70-70", "+7 (3822) 70-70-70"},
         {"Круглосуточно", "Круглосуточно"},
         "https://pomosch.example/",
         {" Выезд за 30 минут ", " Выезд за 30 минут "}},
        {"/firm/108-shina-plus/",
         {"Шина+", "Шина+"},
         {"ул. Елизаровых, 2", "ул. Елизаровых, 2"},
         {"+7 (3822) 80-80-80", "+7 (3822) 80-80-80"},
         {"Вт&ndash;Вс 9:00&ndash;19:00", "Вт-Вс 9:00-19:00"},
         "https://shina-plus.example/",
         {"Шины в наличии.", "Шины в наличии."}},
        {"/firm/109-torgovyy-centr-sever/",
         {"Торговый центр «Север»", "Торговый центр «Север»"},
         {"ул. Северная, 1", "ул. Северная, 1"},
         {"+7 (3822) 90-90-90", "+7 (3822) 90-90-90"},
         {"10:00&ndash;22:00", "10:00-22:00"},
         "https://tc-sever.example/",
         {"Автомойка и аптека на первом этаже.", "Автомойка и аптека на первом этаже."}},
        {"/firm/110-moyka-blesk/",
         {"Мойка &laquo;Блеск&raquo;", "Мойка «Блеск»"},
         {"ул. Беринга, 10", "ул. Беринга, 10"},
         {"+7 (3822) 11-11-11", "+7 (3822) 11-11-11"},
         {"Круглосуточно", "Круглосуточно"},
         "https://blesk.example/",
         {"Бесконтактная мойка.", "Бесконтактная мойка."}},
        {"/firm/111-ulybka/",
         {"Стоматология &quot;Улыбка&quot;", "Стоматология 'Улыбка'"},
         {"ул. Советская, 47", "ул. Советская, 47"},
         {"+7 (3822) 12-12-12", "+7 (3822) 12-12-12"},
         {"Пн&ndash;Сб 8:00&ndash;20:00", "Пн-Сб 8:00-20:00"},
         "https://ulybka.example/",
         {"Лечение и протезирование.", "Лечение и протезирование."}},
        {"/firm/112-bez-dannyh/", {}, {}, {}, {}, "", {}},
        {"/firm/113-dentalnyy-mir/",
         {"Дентальный мир", "Дентальный мир"},
         {"пер. Нахановича, 4", "пер. Нахановича, 4"},
         {"+7 (3822) 13-13-13", "+7 (3822) 13-13-13"},
         {"Пн&ndash;Пт 9:00&ndash;18:00", "Пн-Пт 9:00-18:00"},
         "https://dentmir.example/",
         {"Детский приём.", "Детский приём."}},
        {"/firm/114-apteka-zdorovie/",
         {"Аптека «Здоровье»", "Аптека «Здоровье»"},
         {"ул. Учебная, 9", "ул. Учебная, 9"},
         {"+7 (3822) 14-14-14", "+7 (3822) 14-14-14"},
         {"Круглосуточно", "Круглосуточно"},
         "https://zdorovie.example/",
         {"Рецептурный отдел.", "Рецептурный отдел."}},
    };
    return cards;
}

const std::vector<TList>& Lists() {
    static const std::vector<TList> lists = {
        {"/",
         {"Тестоград", "Тестоград"},
         {"/avto/", "/medicina/", "/eda/"},
         {},
         {"/firm/101-gorodskaya-spravochnaya/", ""},
         {},
         true,
         TSiteCoding::Gzip},
        {"/avto/",
         {"Авто", "Авто"},
         {},
         {"/avto/shinomontazh/", "/avto/avtomoyki/", "/avto/shiny-i-diski/"},
         {"/firm/102-avtocentr-sever/"},
         {},
         true,
         TSiteCoding::Br},
        {"/medicina/",
         {"Медицина", "Медицина"},
         {},
         {"/medicina/stomatologiya/", "/medicina/apteki/"},
         {},
         {},
         false,
         TSiteCoding::Gzip},
        {"/eda/",
         {"Кафе &amp; рестораны", "Кафе & рестораны"},
         {},
         {},
         {"/firm/103-kafe-lozhka/", "/firm/104-stolovaya-1/"},
         {},
         true,
         TSiteCoding::Br},
        {"/avto/shinomontazh/",
         {"Шиномонтаж", "Шиномонтаж"},
         {},
         {},
         {"/firm/105-shinomontazh-koleso/", "", "/firm/106-shinnyy-dvor/"},
         {"/avto/shinomontazh/page-2/"},
         true,
         TSiteCoding::Identity},
        {"/avto/shinomontazh/page-2/",
         {"Шиномонтаж", "Шиномонтаж"},
         {},
         {},
         {"/firm/107-bystraya-pomosch/"},
         {"/Avto/Shinomontazh/", "/avto/shinomontazh/page-3/"},
         true,
         TSiteCoding::Gzip},
        {"/avto/shinomontazh/page-3/",
         {"Шиномонтаж", "Шиномонтаж"},
         {},
         {},
         {"/firm/108-shina-plus/"},
         {"/avto/shinomontazh/page-2/"},
         true,
         TSiteCoding::Br},
        {"/avto/avtomoyki/",
         {"Автомойки", "Автомойки"},
         {},
         {},
         {"/firm/109-torgovyy-centr-sever/", "/firm/110-moyka-blesk/"},
         {},
         true,
         TSiteCoding::Identity},
        {"/avto/shiny-i-diski/",
         {"Шины &quot;зимние&quot; и диски", "Шины \"зимние\" и диски"},
         {},
         {},
         {},
         {},
         true,
         TSiteCoding::Gzip},
        {"/medicina/stomatologiya/",
         {"Стоматология", "Стоматология"},
         {},
         {},
         {"/firm/111-ulybka/", "/firm/112-bez-dannyh/"},
         {"/medicina/stomatologiya/page-2/"},
         true,
         TSiteCoding::Br},
        {"/medicina/stomatologiya/page-2/",
         {"Стоматология", "Стоматология"},
         {},
         {},
         {"/firm/113-dentalnyy-mir/"},
         {"/medicina/stomatologiya/"},
         true,
         TSiteCoding::Identity},
        {"/medicina/apteki/",
         {"Аптеки", "Аптеки"},
         {},
         {},
         {"/firm/114-apteka-zdorovie/", "/firm/109-torgovyy-centr-sever/"},
         {},
         true,
         TSiteCoding::Gzip},
    };
    return lists;
}

QString U(const char* text) {
    return QString::fromUtf8(text);
}

const TCard* FindCard(const QString& path) {
    for (const TCard& card : Cards())
        if (path.compare(U(card.Path), Qt::CaseInsensitive) == 0)
            return &card;
    return nullptr;
}

const TList* FindList(const QString& path) {
    for (const TList& list : Lists())
        if (path.compare(U(list.Path), Qt::CaseInsensitive) == 0)
            return &list;
    return nullptr;
}

QString ListPageHtml(const TList& list) {
    QString html = PageHead(U(list.Breadcrumb.Text)) + Breadcrumbs(U(list.Breadcrumb.Html));
    for (const char* rubric : list.Rubrics)
        html += RubricHeading(U(rubric), U(FindList(U(rubric))->Breadcrumb.Html));
    QStringList subrubrics;
    for (const char* link : list.Subrubrics)
        subrubrics.append(U(link));
    if (!subrubrics.isEmpty())
        html += SubrubricBlock(subrubrics);
    if (list.HasWidgets) {
        QList<TCardLink> cards;
        for (const char* path : list.Cards)
            cards.append({U(path), *path ? U(FindCard(U(path))->Name.Html) : QString()});
        QStringList pagination;
        for (const char* link : list.Pagination)
            pagination.append(U(link));
        html += CardWidgets(cards, pagination);
    }
    return html + PageTail();
}

QString CardPageHtml(const TCard& card) {
    const TCardMarkup markup{U(card.Name.Html),  U(card.Address.Html), U(card.Phones.Html),
                             U(card.Hours.Html), U(card.Site),         U(card.Description.Html)};
    return PageHead(U(card.Name.Text)) + CardContent(markup) + PageTail();
}

} // namespace

TSiteModel::TSiteModel(QString baseUrl) : FBaseUrl(std::move(baseUrl)) {}

QString TSiteModel::CityLabel() const {
    return U(CountryName) + U(", ") + U(CityName);
}

QString TSiteModel::CityLine() const {
    return CityLabel() + "=" + FBaseUrl;
}

bool TSiteModel::Page(const QString& path, TSitePage& page) const {
    QString clean = path.section('?', 0, 0);
    if (clean.isEmpty())
        clean = "/";
    if (const TList* list = FindList(clean)) {
        page = {ListPageHtml(*list), list->Coding};
        return true;
    }
    if (const TCard* card = FindCard(clean)) {
        static const TSiteCoding codings[] = {TSiteCoding::Identity, TSiteCoding::Gzip,
                                              TSiteCoding::Br};
        page = {CardPageHtml(*card), codings[(card - Cards().data()) % 3]};
        return true;
    }
    return false;
}

namespace {

QString Apostrophes(QString text) {
    return text.replace('"', '\'');
}

QString LinkKey(const QString& url) {
    return url.mid(8);
}

// The list URL that card job lines of a page carry: numbered pages give their first page.
QString ListUrl(const QString& baseUrl, const TList& list) {
    if (QByteArray(list.Path) == "/")
        return baseUrl;
    QString path = U(list.Path);
    int page = path.indexOf("/page-");
    return baseUrl + (page < 0 ? path : path.left(page + 1));
}

// The rubric under which the subrubric at `listPath` is linked, or empty.
QString RubricOf(const QString& listPath) {
    for (const TList& list : Lists())
        for (const char* sub : list.Subrubrics)
            if (U(sub) == listPath)
                return U(list.Breadcrumb.Text);
    return {};
}

QStringList RecordColumns(const QString& baseUrl, const TList& list, const TCard& card) {
    QString listUrl = ListUrl(baseUrl, list);
    return {U(CountryName),
            U(CityName),
            baseUrl,
            Apostrophes(RubricOf(listUrl.mid(baseUrl.size()))),
            Apostrophes(U(list.Breadcrumb.Text)),
            listUrl,
            U(card.Name.Text),
            U(card.Address.Text),
            U(card.Phones.Text),
            U(card.Hours.Text),
            U(card.Site),
            U(card.Description.Text),
            baseUrl + U(card.Path)};
}

} // namespace

QList<TExpectedRecord> TSiteModel::ExpectedRecords() const {
    QList<TExpectedRecord> records;
    for (const TList& list : Lists())
        for (const char* path : list.Cards)
            if (*path != '\0')
                records.append({RecordColumns(FBaseUrl, list, *FindCard(U(path))),
                                LinkKey(ListUrl(FBaseUrl, list))});
    return records;
}

QStringList TSiteModel::ExpectedKnownLinks() const {
    QStringList keys;
    for (const TList& list : Lists())
        keys.append(LinkKey(QByteArray(list.Path) == "/" ? FBaseUrl : FBaseUrl + U(list.Path)));
    return keys;
}

QList<TExpectedListPage> TSiteModel::ExpectedListPages() const {
    QList<TExpectedListPage> pages;
    for (const TList& list : Lists()) {
        int cards = 0;
        for (const char* path : list.Cards)
            cards += *path != '\0';
        pages.append({QByteArray(list.Path) == "/" ? FBaseUrl : FBaseUrl + U(list.Path), cards});
    }
    return pages;
}

QStringList TSiteModel::CardPathsOfList(const QString& listKey) const {
    QStringList paths;
    for (const TList& list : Lists())
        if (LinkKey(ListUrl(FBaseUrl, list)).compare(listKey, Qt::CaseInsensitive) == 0)
            for (const char* path : list.Cards)
                if (*path != '\0')
                    paths.append(U(path));
    return paths;
}

QString DataRowText(const QStringList& columns) {
    return "\"" + columns.join("\";\"") + "\"";
}
