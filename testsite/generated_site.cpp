#include "testsite/generated_site.h"

#include "testsite/site_markup.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cstring>
#include <stdexcept>

namespace {

constexpr int SubrubricsPerRubric = 4;
constexpr int PagesPerList = 3;
constexpr int CardsPerPage = 15;
constexpr int PagesPerRubric = 1 + SubrubricsPerRubric * PagesPerList * (1 + CardsPerPage);
constexpr int ListPageBytes = 60000;
constexpr int CardPageBytes = 40000;

const char* const CountryName = "Россия";
const char* const CityName = "Тестоград";

const char* const Words[] = {
    "город",     "улица",       "проспект",  "площадь",  "магазин",    "аптека",     "кафе",
    "ремонт",    "доставка",    "услуги",    "центр",    "салон",      "мастерская", "склад",
    "офис",      "студия",      "клиника",   "школа",    "курсы",      "отдых",      "спорт",
    "книги",     "одежда",      "обувь",     "мебель",   "техника",    "продукты",   "цветы",
    "подарки",   "игрушки",     "ткани",     "посуда",   "краски",     "стекло",     "металл",
    "дерево",    "камень",      "бумага",    "печать",   "реклама",    "туризм",     "гостиница",
    "баня",      "прачечная",   "химчистка", "ателье",   "фотография", "нотариус",   "юрист",
    "бухгалтер", "страхование", "банк",      "кредит",   "обмен",      "такси",      "грузовики",
    "шины",      "диски",       "масло",     "запчасти", "мойка",      "парковка",   "заправка",
    "хлеб",      "молоко",      "мясо",      "рыба",     "овощи",      "фрукты",     "сладости",
    "чай",       "кофе",        "вода",      "лёд",      "снег",       "солнце",     "ветер",
    "река",      "мост",        "парк",      "сквер",    "двор",       "дом",        "квартал",
    "север",     "юг",          "восток",    "запад",    "новый",      "старый",     "добрый",
    "быстрый",   "надёжный",    "удобный",   "светлый",  "тёплый",     "большой",    "малый",
    "лучший",    "первый",      "семейный",  "народный", "городской",  "областной",  "частный",
};
constexpr uint32_t WordCount = sizeof(Words) / sizeof(Words[0]);

QString U(const char* text) {
    return QString::fromUtf8(text);
}

// A reproducible stream of words: the same seed always gives the same page.
class TWords {
public:
    explicit TWords(uint32_t seed) : FState(seed * 2654435761u + 1) {}
    const char* Next() {
        FState = FState * 1103515245u + 12345u;
        return Words[(FState >> 16) % WordCount];
    }
    QString Capitalised() {
        const QString word = U(Next());
        return word.left(1).toUpper() + word.mid(1);
    }
    uint32_t Number(uint32_t below) {
        FState = FState * 1103515245u + 12345u;
        return (FState >> 16) % below;
    }

private:
    uint32_t FState;
};

// Markup that a real page carries around its content (scripts, promotions), up to
// about `bytes` bytes; it holds none of the markers the crawl looks for.
QString Filler(uint32_t seed, qsizetype bytes) {
    TWords words(seed);
    QString text = U("<div class=\"promo\">\n");
    qsizetype size = 0;
    while (size < bytes) {
        QString paragraph = U("<p class=\"promo__text\" data-slot=\"") +
                            QString::number(words.Number(100000)) + U("\">");
        for (int w = 0; w < 24; ++w) {
            const char* word = words.Next();
            paragraph += U(word) + u' ';
            size += qsizetype(std::strlen(word)) + 1;
        }
        text += paragraph + U("</p>\n");
        size += 40;
    }
    return text + U("</div>\n");
}

QString HeadScript(uint32_t seed) {
    TWords words(seed ^ 0x5bd1e995u);
    QString script = U("<script>window.counters={");
    for (int i = 0; i < 60; ++i)
        script += U("\"c") + QString::number(i) + U("\":") +
                  QString::number(words.Number(1000000)) + U(",");
    return script + U("\"end\":0};</script>");
}

// A whole page: its content between a head and a tail, padded to about `bytes`.
QString Page(const QString& title, const QString& content, uint32_t seed, qsizetype bytes) {
    const QString head = PageHead(title, HeadScript(seed));
    const qsizetype used = (head + content).toUtf8().size() + 200;
    return head + content + PageTail(Filler(seed, bytes - used));
}

QString RubricName(int rubric) {
    TWords words(uint32_t(rubric) * 7919u);
    return U("Раздел ") + QString::number(rubric) + u' ' + words.Capitalised();
}

QString SubrubricName(int rubric, int subrubric) {
    TWords words(uint32_t(rubric) * 104729u + uint32_t(subrubric));
    return U("Подраздел ") + QString::number(rubric) + u'.' + QString::number(subrubric) + u' ' +
           words.Capitalised() + u' ' + U(words.Next());
}

QString RubricPath(int rubric) {
    return U("/r") + QString::number(rubric) + u'/';
}

QString ListPath(int rubric, int subrubric, int page) {
    const QString first = RubricPath(rubric) + u's' + QString::number(subrubric) + u'/';
    return page == 1 ? first : first + U("page-") + QString::number(page) + u'/';
}

QString CardPath(int id) {
    return U("/firm/") + QString::number(id) + U("-org/");
}

// Where a list page stands: rubric, subrubric and page number, all from 1.
struct TListPlace {
    int Rubric;
    int Subrubric;
    int Page;
    int Index() const {
        return ((Rubric - 1) * SubrubricsPerRubric + Subrubric - 1) * PagesPerList + Page - 1;
    }
    static TListPlace OfIndex(int index) {
        return {index / (SubrubricsPerRubric * PagesPerList) + 1,
                index / PagesPerList % SubrubricsPerRubric + 1, index % PagesPerList + 1};
    }
};

int FirstCardOf(const TListPlace& place) {
    return place.Index() * CardsPerPage + 1;
}

TCardMarkup CardValues(int id) {
    TWords words{uint32_t(id)};
    TCardMarkup card;
    card.NameHtml = U("Организация «") + words.Capitalised() + u' ' + U(words.Next()) + U("» ") +
                    QString::number(id);
    card.AddressHtml =
        U("ул. ") + words.Capitalised() + U(", ") + QString::number(words.Number(200) + 1);
    card.PhonesHtml = QString(U("+7 (3822) %1-%2-%3"))
                          .arg(words.Number(90) + 10)
                          .arg(words.Number(90) + 10)
                          .arg(id % 90 + 10);
    card.HoursHtml = U("Пн-Пт 9:00-18:00, Сб 10:00-16:00");
    card.Site = U("https://org") + QString::number(id) + U(".example/");
    QString description = words.Capitalised();
    for (int w = 0; w < 11; ++w)
        description += u' ' + U(words.Next());
    card.DescriptionHtml = description + u'.';
    return card;
}

QString CityHtml(int rubrics) {
    QString content = Breadcrumbs(U(CityName));
    for (int rubric = 1; rubric <= rubrics; ++rubric)
        content += RubricHeading(RubricPath(rubric), RubricName(rubric));
    return Page(U(CityName), content, 1, ListPageBytes);
}

QString RubricHtml(int rubric) {
    QStringList subrubrics;
    for (int subrubric = 1; subrubric <= SubrubricsPerRubric; ++subrubric)
        subrubrics.append(ListPath(rubric, subrubric, 1));
    const QString content = Breadcrumbs(RubricName(rubric)) + SubrubricBlock(subrubrics);
    return Page(RubricName(rubric), content, uint32_t(rubric) * 31u, ListPageBytes);
}

QString ListHtml(const TListPlace& place) {
    QList<TCardLink> cards;
    const int first = FirstCardOf(place);
    for (int id = first; id < first + CardsPerPage; ++id)
        cards.append({CardPath(id), CardValues(id).NameHtml});
    QStringList pagination;
    for (int page = 1; page <= PagesPerList; ++page)
        pagination.append(ListPath(place.Rubric, place.Subrubric, page));
    const QString name = SubrubricName(place.Rubric, place.Subrubric);
    return Page(name, Breadcrumbs(name) + CardWidgets(cards, pagination),
                uint32_t(place.Index()) * 131u + 7u, ListPageBytes);
}

QString CardHtml(int id) {
    const TCardMarkup card = CardValues(id);
    return Page(card.NameHtml, CardContent(card), uint32_t(id) * 17u + 3u, CardPageBytes);
}

} // namespace

TGeneratedSite::TGeneratedSite(int pages)
    : FRubrics(std::max(1, (pages - 1 + PagesPerRubric - 1) / PagesPerRubric)) {}

int TGeneratedSite::PageCount() const {
    return 1 + FRubrics * PagesPerRubric;
}

QStringList TGeneratedSite::Paths() const {
    QStringList paths{U("/")};
    for (int rubric = 1; rubric <= FRubrics; ++rubric)
        paths.append(RubricPath(rubric));
    const int lists = FRubrics * SubrubricsPerRubric * PagesPerList;
    for (int index = 0; index < lists; ++index) {
        const TListPlace place = TListPlace::OfIndex(index);
        paths.append(ListPath(place.Rubric, place.Subrubric, place.Page));
    }
    for (int id = 1; id <= lists * CardsPerPage; ++id)
        paths.append(CardPath(id));
    return paths;
}

QString TGeneratedSite::PageHtml(const QString& path) const {
    static const QRegularExpression rubric(U("^/r(\\d+)/$"));
    static const QRegularExpression list(U("^/r(\\d+)/s(\\d+)/(?:page-(\\d+)/)?$"));
    static const QRegularExpression card(U("^/firm/(\\d+)-org/$"));
    if (path == U("/"))
        return CityHtml(FRubrics);
    if (const auto m = rubric.match(path);
        m.hasMatch() && m.captured(1).toInt() >= 1 && m.captured(1).toInt() <= FRubrics)
        return RubricHtml(m.captured(1).toInt());
    if (const auto m = list.match(path); m.hasMatch()) {
        const TListPlace place{m.captured(1).toInt(), m.captured(2).toInt(),
                               m.captured(3).isEmpty() ? 1 : m.captured(3).toInt()};
        if (place.Rubric >= 1 && place.Rubric <= FRubrics && place.Subrubric >= 1 &&
            place.Subrubric <= SubrubricsPerRubric && place.Page >= 1 && place.Page <= PagesPerList)
            return ListHtml(place);
    }
    const int cards = FRubrics * SubrubricsPerRubric * PagesPerList * CardsPerPage;
    if (const auto m = card.match(path);
        m.hasMatch() && m.captured(1).toInt() >= 1 && m.captured(1).toInt() <= cards)
        return CardHtml(m.captured(1).toInt());
    return {};
}

void TGeneratedSite::WriteTo(const QString& dir) const {
    for (const QString& path : Paths()) {
        const QString folder = dir + path;
        QFile file(folder + U("index.html"));
        const QByteArray bytes = PageHtml(path).toUtf8();
        if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            throw std::runtime_error("cannot write " + file.fileName().toStdString());
    }
}

QString TGeneratedSite::CityLabel() const {
    return U(CountryName) + U(", ") + U(CityName);
}

QString TGeneratedSite::CityLine(const QString& baseUrl) const {
    return CityLabel() + u'=' + baseUrl;
}

QList<QStringList> TGeneratedSite::ExpectedRows(const QString& baseUrl) const {
    QList<QStringList> rows;
    const int lists = FRubrics * SubrubricsPerRubric * PagesPerList;
    for (int index = 0; index < lists; ++index) {
        const TListPlace place = TListPlace::OfIndex(index);
        const QString listUrl = baseUrl + ListPath(place.Rubric, place.Subrubric, 1);
        for (int id = FirstCardOf(place); id < FirstCardOf(place) + CardsPerPage; ++id) {
            const TCardMarkup card = CardValues(id);
            rows.append({U(CountryName), U(CityName), baseUrl, RubricName(place.Rubric),
                         SubrubricName(place.Rubric, place.Subrubric), listUrl, card.NameHtml,
                         card.AddressHtml, card.PhonesHtml, card.HoursHtml, card.Site,
                         card.DescriptionHtml, baseUrl + CardPath(id)});
        }
    }
    return rows;
}
