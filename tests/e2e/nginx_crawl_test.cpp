#include "tests/support/scraper_process.h"

#include "testsite/generated_site.h"
#include "testsite/nginx_server.h"
#include "testsite/site_model.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "tests/qt_print.h"

namespace {

// One request as nginx's connection log has it.
struct TLoggedRequest {
    QString Connection; // the connection's serial number
    QString Protocol;
};

QList<TLoggedRequest> LoggedRequests(const TNginxServer& nginx) {
    QFile log(nginx.AccessLogPath());
    QList<TLoggedRequest> requests;
    if (!log.open(QIODevice::ReadOnly))
        return requests;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 3)
            requests.append({QString::fromLatin1(fields[0]), QString::fromLatin1(fields[2])});
    }
    return requests;
}

// The log lines of a run in `dir` as any run of the same crawl writes them: no
// date-time prefix, the directory and the data and log file numbers left out, in
// sorted order (two fetch threads finish their pages in either order).
QStringList ComparableLog(const QStringList& lines, const TScraperDir& dir) {
    static const QRegularExpression fileNumber(QStringLiteral("(data|log-)-?\\d+\\.(csv|txt)"));
    QStringList texts;
    for (const QString& line : lines)
        texts.append(line.section(QStringLiteral(": "), 1)
                         .replace(dir.Path(), QStringLiteral("DIR"))
                         .replace(fileNumber, QStringLiteral("\\1N.\\2")));
    return Sorted(texts);
}

void ExpectNoFailedAttempt(const TScraperRun& run) {
    QStringList failed;
    for (const QString& line : run.OutputLines())
        if (line.contains("ERROR_"))
            failed.append(line);
    EXPECT_TRUE(failed.isEmpty()) << failed.size()
                                  << " failed attempts, the first: " << qPrintable(failed.value(0));
}

// The requests a crawl made, as nginx logged them after its first `logged` lines:
// every page once, all of them in `protocol`; the number of connections they took.
qsizetype ConnectionsOfEveryPage(const TNginxServer& nginx, qsizetype logged,
                                 const TGeneratedSite& site, const QString& protocol) {
    const QList<TLoggedRequest> requests = LoggedRequests(nginx).mid(logged);
    EXPECT_EQ(requests.size(), site.PageCount());
    QSet<QString> connections;
    int otherProtocol = 0;
    for (const TLoggedRequest& request : requests) {
        connections.insert(request.Connection);
        otherProtocol += request.Protocol != protocol;
    }
    EXPECT_EQ(otherProtocol, 0) << "requests not in " << qPrintable(protocol);
    return connections.size();
}

void ExpectEveryRow(const TScraperDir& dir, const TGeneratedSite& site, const QString& baseUrl) {
    QStringList expected;
    for (const QStringList& row : site.ExpectedRows(baseUrl))
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
}

// A real web server, set up as users meet it: nginx with its default TLS settings,
// gzip on also for HTTP/1.0 (so every list page and card comes back compressed, its
// body running to the end of the connection, the TLS close notice right behind it),
// serving static pages of real size, and closing a kept connection after 5 requests
// or 1 s idle. A crawl of it must lose no page and fail no attempt. By default every
// page has its own HTTP/1.0 connection; with --keep-alive the requests are HTTP/1.1
// and connections serve several pages each, and the log says exactly what it says
// without the option. An nginx that cannot start fails the test.
TEST(NginxCrawl, EveryPageArrivesWholeOverOwnOrKeptConnections) {
    const QString workRoot = QStringLiteral(QUORVEL_E2E_WORK_DIR);
    ASSERT_TRUE(QDir().mkpath(workRoot));
    QTemporaryDir work(workRoot + "/nginx-XXXXXX");
    ASSERT_TRUE(work.isValid());
    const TGeneratedSite site(300);
    site.WriteTo(work.filePath("site"));
    TNginxSettings closesEarly;
    closesEarly.KeepAliveRequests = 5;
    closesEarly.KeepAliveTimeoutS = 1;
    closesEarly.LogConnections = true;
    TNginxServer nginx(work.filePath("site"), work.filePath("nginx"), closesEarly);

    // The first row's log is what every other row's must be.
    const struct {
        const char* Name;
        QStringList Options;
        QString Protocol;
        bool Reused;
    } cases[] = {
        {"OneConnectionPerPage", {}, "HTTP/1.0", false},
        {"KeepAlive", {"--keep-alive"}, "HTTP/1.1", true},
    };
    QStringList firstLog;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const qsizetype loggedBefore = LoggedRequests(nginx).size();
        TScraperDir dir({site.CityLine(nginx.BaseUrl())});
        TScraperRun run(
            dir, QStringList{"--headless", "--city", site.CityLabel(), "--fresh"} + c.Options,
            nginx.BaseUrl());
        ASSERT_EQ(run.WaitForExit(240000), 0) << qPrintable(run.ErrorText());

        ExpectNoFailedAttempt(run);
        ExpectEveryRow(dir, site, nginx.BaseUrl());
        EXPECT_EQ(dir.ReadBytes("lists.dat"), Bom);
        if (&c == &cases[0])
            firstLog = ComparableLog(run.OutputLines(), dir);
        else
            EXPECT_EQ(ComparableLog(run.OutputLines(), dir), firstLog);

        const qsizetype connections = ConnectionsOfEveryPage(nginx, loggedBefore, site, c.Protocol);
        if (c.Reused) {
            // Five requests a connection at most; a few more for the two threads'
            // connections that an idle second or the run's end cut short.
            EXPECT_LE(connections, site.PageCount() / 5 + 8);
        } else {
            EXPECT_EQ(connections, site.PageCount());
        }
    }
}

} // namespace
