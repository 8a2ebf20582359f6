// Crawl speed with and without the run's journal: the real controller with real
// fetch threads against the synthetic site over HTTPS on loopback, runs
// alternating in one process. Each run resumes a work list of card job lines (the
// site's cards over and over), so that it lasts seconds and the journal's record
// per job taken, record per row and sync per second all count. The site answers
// at once, so the journal's share is the largest a real crawl could see.
#include "crawl/run_view.h"
#include "crawl/scraper.h"
#include "crawl/text_utils.h"
#include "platform/durable_file.h"
#include "testsite/site_server.h"
#include "tests/support/event_wait.h"
#include "tests/support/test_certificates.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

// Shows nothing; the run's steps still go through the main thread as in the program.
class TQuietView : public TRunView {
public:
    void AppendLog(const QString&) override {}
    void ClearLog() override {}
    void SetInputsEnabled(bool) override {}
    void SetProgressMax(int max) override { FMax = max; }
    void SetProgressPosition(int position) override { FPosition = position; }
    int ProgressMax() const override { return FMax; }
    int ProgressPosition() const override { return FPosition; }
    void SetProgressHint(const QString&) override {}
    void SetCounterTexts(const QString&, const QString& written) override { Written = written; }
    int ThreadLimit() const override { return 2; }
    QList<TCityItem> SelectedCities() const override { return {}; }
    void ArmResumeTimer(int) override {}
    void SaveLog(const QString&) override {}
    void ProcessEvents() override {}

    QString Written;

private:
    int FMax = 0;
    int FPosition = 0;
};

QStringList CardJobs(const TSiteModel& model, int count) {
    QStringList cards;
    for (const TExpectedRecord& record : model.ExpectedRecords())
        cards.append(StripScheme(record.Columns[12]) + "|||Bench|||" + model.BaseUrl() + "/avto/");
    QStringList jobs;
    for (int i = 0; i < count; ++i)
        jobs.append(cards[i % cards.size()]);
    return jobs;
}

// Pages per second of one run over `jobs`, from START to the saved lists.
double PagesPerSecond(const QString& dir, const QStringList& jobs, bool journal) {
    for (const QString& name : QDir(dir).entryList({"data*.csv", "log-*.txt"}, QDir::Files))
        QFile::remove(dir + "/" + name);
    WriteFileAtomically(dir + "/lists.dat", ListFileBytes(jobs));
    WriteFileAtomically(dir + "/allknown.dat", ListFileBytes({}));
    TQuietView view;
    TScraperSettings settings;
    settings.BaseDir = dir;
    settings.KeepJournal = journal;
    TScraper scraper(view, settings);
    const auto start = std::chrono::steady_clock::now();
    scraper.Start();
    if (!ProcessEventsUntil([&] { return scraper.Finished(); }, 600000) || scraper.Failed())
        throw std::runtime_error("the run did not end well");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    scraper.WaitFor();
    if (view.Written != QStringLiteral("Записано организаций: %1").arg(jobs.size()))
        throw std::runtime_error("the run did not write every row");
    return jobs.size() / took.count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int pages = argc > 1 ? std::atoi(argv[1]) : 3000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    TSiteServer site;
    QTemporaryDir dir;
    // The fetch threads read the client certificate from the current directory.
    if (!dir.isValid() || !QDir::setCurrent(dir.path()) ||
        !WriteClientCertificate(dir.path(), QStringLiteral("vintrosk")))
        return 1;
    WriteFileAtomically(dir.filePath("cities.txt"), site.Model().CityLine().toUtf8() + "\r\n");
    const QStringList jobs = CardJobs(site.Model(), pages);
    PagesPerSecond(dir.path(), jobs.mid(0, 100), true); // warm-up
    std::vector<double> with, without;
    for (int round = 0; round < rounds; ++round) {
        with.push_back(PagesPerSecond(dir.path(), jobs, true));
        without.push_back(PagesPerSecond(dir.path(), jobs, false));
        std::printf("round %d: journal %.1f pages/s, no journal %.1f pages/s\n", round + 1,
                    with.back(), without.back());
    }
    const double ratio = Median(with) / Median(without);
    std::printf("median of %d runs of %d pages: journal %.1f pages/s, no journal %.1f pages/s, "
                "ratio %.3f (cost %.1f %%)\n",
                rounds, pages, Median(with), Median(without), ratio, (1 - ratio) * 100);
    return 0;
}
