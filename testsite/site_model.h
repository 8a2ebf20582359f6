#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What the synthetic directory site holds and what a crawl of it must produce.
//
// One city with rubric pages, subrubric pages with numbered pages, and
// organisation cards, all served under one base URL ("https://127.0.0.1:PORT").
// The markup carries exactly the markers the crawl's page extraction reads; the
// expected values are written beside the markup they come from, so a test can
// compare what a crawl wrote against the site instead of against copied results.
// Plain data, no threads.

// How a page's body travels: as is, or compressed when the request accepts it.
enum class TSiteCoding { Identity, Gzip, Br };

struct TSitePage {
    QString Html;
    TSiteCoding Coding = TSiteCoding::Identity;
};

// One row a crawl must write: the thirteen column values as they stand in the
// data file (double quotes already turned into apostrophes where the file does so),
// and the link key of the subrubric list the card was found on.
struct TExpectedRecord {
    QStringList Columns;
    QString ListKey;
};

// A city or list page and the number of card job lines a crawl finds on it.
struct TExpectedListPage {
    QString Url;
    int Cards = 0;
};

class TSiteModel {
public:
    // `baseUrl`: "https://" and host:port, no trailing "/".
    explicit TSiteModel(QString baseUrl);

    const QString& BaseUrl() const { return FBaseUrl; }
    // The cities.txt line that points at this site's city.
    QString CityLine() const;
    QString CityLabel() const;

    // The page for a request path (letter case ignored, query dropped); false when
    // the site has no such page.
    bool Page(const QString& path, TSitePage& page) const;

    // Every row of a complete crawl of the city, in no particular order.
    QList<TExpectedRecord> ExpectedRecords() const;
    // Link keys of every city and list page a complete crawl knows, in the letter
    // case of their first appearance.
    QStringList ExpectedKnownLinks() const;
    // The city and list pages with their card counts.
    QList<TExpectedListPage> ExpectedListPages() const;
    // Paths of the cards found on the list page whose link key is `listKey`.
    QStringList CardPathsOfList(const QString& listKey) const;

private:
    QString FBaseUrl;
};

// The data file's row of `columns`: quoted and joined by ";", without its line end.
QString DataRowText(const QStringList& columns);
