#include "tests/support/scraper_process.h"

#include "testsite/scripted_server.h"
#include "testsite/site_markup.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <gtest/gtest.h>

#include "tests/qt_print.h"

namespace {

// Under the sanitizers their shadow memory and quarantine count as resident
// memory too: the bound then only guards the machine.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr qint64 PeakLimitKb = 900 * 1024;
#else
constexpr qint64 PeakLimitKb = 300 * 1024;
#endif

// The process's peak resident size so far (VmHWM), in KiB; 0 once it is gone.
qint64 PeakRssKb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

QByteArray Response(const QString& page) {
    return "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + page.toUtf8();
}

// A city page of about 5 MB: a breadcrumb of 4 million characters and 20,000 cards.
QString HostilePage() {
    QList<TCardLink> cards;
    for (int i = 0; i < 20000; ++i)
        cards.append({QStringLiteral("/firm/%1").arg(i), QStringLiteral("c")});
    return PageHead("x") + Breadcrumbs(QString(4000000, u'a')) + CardWidgets(cards, {}) +
           PageTail();
}

} // namespace

// Every card job line of a page carries its breadcrumb: a hostile page must not
// multiply it, in memory, in the journal or in the saved lists. The run is watched
// and ended as soon as it goes over the limit, so a fault cannot exhaust the machine.
TEST(HostilePage, LongBreadcrumbAndManyCardsStayWithinBounds) {
    TScriptedServer server({.Tls = true});
    const TCardMarkup card;
    server.SetScripts(
        {TConnectionScript::Reply(Response(HostilePage())),
         TConnectionScript::Reply(Response(PageHead("c") + CardContent(card) + PageTail()))});
    const QString city = "https://127.0.0.1:" + server.PortText();
    TScraperDir dir({"Россия, Тест=" + city});
    TScraperRun run(dir, {"--headless", "--all", "--fresh"}, city);
    qint64 peakKb = 0;
    const QString found = "Найдено 10000 объектов по ссылке " + city;
    const bool routed = run.WaitUntil([&] {
        peakKb = std::max(peakKb, PeakRssKb(run.ProcessId()));
        return peakKb > PeakLimitKb || run.OutputText().contains(found);
    });
    peakKb = std::max(peakKb, PeakRssKb(run.ProcessId()));
    testing::Test::RecordProperty("PeakRssKb", int(peakKb));
    if (peakKb > PeakLimitKb)
        run.Kill();
    EXPECT_LE(peakKb, PeakLimitKb);
    ASSERT_TRUE(routed && peakKb <= PeakLimitKb) << qPrintable(run.OutputText().left(2000));
    run.Interrupt();
    ASSERT_EQ(run.WaitForExit(), 0) << qPrintable(run.ErrorText());
    EXPECT_EQ(run.OutputText().count("Страница разобрана не целиком"), 1);
    EXPECT_TRUE(run.OutputText().contains(
        "Страница разобрана не целиком (название раздела обрезано до 1000 символов из 4000000; "
        "пропущено карточек сверх 10000: 10000) по ссылке " +
        city));
    EXPECT_LT(QFileInfo(dir.Path("lists.dat")).size(), 20 * 1024 * 1024);
}
