#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A directory site of a chosen size, made up in the site's markup: one city, its
// rubrics, four subrubrics per rubric with three numbered pages each, and fifteen
// organisation cards on every list page. Every page is padded to the size of a real
// one (list pages about 60 KB, cards about 40 KB) with text that compresses like a
// real page, so a crawl of it moves as many bytes as a crawl of the real site.
//
// The pages link by root-relative paths, so the same files serve under any address
// (WriteTo puts them where a static web server finds them); the rows a complete
// crawl writes are worked out for the address it is served at. Plain data, no
// threads; pages are made on demand.
class TGeneratedSite {
public:
    // The smallest site of this shape with at least `pages` pages (one rubric at least).
    explicit TGeneratedSite(int pages);

    int PageCount() const;
    int Rubrics() const { return FRubrics; }
    // Every page's path, the city page ("/") first.
    QStringList Paths() const;
    // The page at `path` as it appears in Paths(); empty when there is none.
    QString PageHtml(const QString& path) const;
    // Writes every page as `dir` + its path + "index.html". Throws std::runtime_error
    // naming the file that could not be written.
    void WriteTo(const QString& dir) const;

    // The city as cities.txt names it, and its line there for a site at `baseUrl`.
    QString CityLabel() const;
    QString CityLine(const QString& baseUrl) const;
    // Every row a complete crawl of the site at `baseUrl` writes (the thirteen column
    // values), in page order.
    QList<QStringList> ExpectedRows(const QString& baseUrl) const;

private:
    int FRubrics;
};
