#include "tests/support/scraper_process.h"

#include "testsite/generated_site.h"
#include "testsite/nginx_server.h"
#include "testsite/site_model.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "tests/qt_print.h"

namespace {

// Without its keep-alive option the program opens one connection per page and
// asks in HTTP/1.0: every page is the only request of a connection of its own.
// nginx's access log says what reached it, one line per request.
void ExpectOneConnectionPerPage(const QString& accessLog, int pages) {
    QFile log(accessLog);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << qPrintable(accessLog);
    const QList<QByteArray> lines = log.readAll().split('\n');
    QSet<QByteArray> connections;
    int requests = 0;
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        ++requests;
        const QList<QByteArray> fields = line.split(' ');
        ASSERT_EQ(fields.size(), 4) << line.constData();
        connections.insert(fields[0]);
        EXPECT_EQ(fields[1], "1") << "a second request on one connection: " << line.constData();
        EXPECT_EQ(fields[2], "HTTP/1.0") << line.constData();
    }
    EXPECT_EQ(requests, pages);
    EXPECT_EQ(connections.size(), requests);
}

// A real web server, set up as users meet it: nginx with its default TLS settings,
// gzip on also for HTTP/1.0 (so every list page and card comes back compressed, its
// body running to the end of the connection, the TLS close notice right behind it),
// serving static pages of real size. A crawl of it must lose no page and fail no
// attempt. An nginx that cannot start fails the test.
TEST(NginxCrawl, EveryPageArrivesWholeAndNoAttemptFails) {
    const QString workRoot = QStringLiteral(QUORVEL_E2E_WORK_DIR);
    ASSERT_TRUE(QDir().mkpath(workRoot));
    QTemporaryDir work(workRoot + "/nginx-XXXXXX");
    ASSERT_TRUE(work.isValid());
    const TGeneratedSite site(300);
    site.WriteTo(work.filePath("site"));
    TNginxServer nginx(work.filePath("site"), work.filePath("nginx"), work.filePath("access.log"));

    TScraperDir dir({site.CityLine(nginx.BaseUrl())});
    TScraperRun run(dir, {"--headless", "--city", site.CityLabel(), "--fresh"}, nginx.BaseUrl());
    ASSERT_EQ(run.WaitForExit(240000), 0) << qPrintable(run.ErrorText());

    QStringList failed;
    for (const QString& line : run.OutputLines())
        if (line.contains("ERROR_"))
            failed.append(line);
    EXPECT_TRUE(failed.isEmpty()) << failed.size()
                                  << " failed attempts, the first: " << qPrintable(failed.value(0));
    QStringList expected;
    for (const QStringList& row : site.ExpectedRows(nginx.BaseUrl()))
        expected.append(DataRowText(row));
    const QStringList dataFiles = dir.Files("data*.csv");
    ASSERT_EQ(dataFiles.size(), 1);
    const QStringList rows = Sorted(DataRows(dir.ReadBytes(dataFiles[0])));
    expected = Sorted(expected);
    QStringList missing, unexpected;
    std::set_difference(expected.begin(), expected.end(), rows.begin(), rows.end(),
                        std::back_inserter(missing));
    std::set_difference(rows.begin(), rows.end(), expected.begin(), expected.end(),
                        std::back_inserter(unexpected));
    EXPECT_TRUE(missing.isEmpty())
        << missing.size() << " rows missing, the first: " << qPrintable(missing.value(0));
    EXPECT_TRUE(unexpected.isEmpty())
        << unexpected.size()
        << " rows not expected, the first: " << qPrintable(unexpected.value(0));
    EXPECT_EQ(dir.ReadBytes("lists.dat"), Bom);
    ExpectOneConnectionPerPage(work.filePath("access.log"), site.PageCount());
}

} // namespace
