// Crawl speed with and without the run's journal: the real controller with real
// fetch threads against the synthetic site over HTTPS on loopback, runs
// alternating in one process. Each run resumes a work list of card job lines (the
// site's cards over and over), so that it lasts seconds and the journal's record
// per job taken, record per row and sync per second all count. The site answers
// at once, so the journal's share is the largest a real crawl could see.
#include "crawl/run_files.h"
#include "crawl/run_journal.h"
#include "crawl/run_view.h"
#include "crawl/scraper.h"
#include "crawl/text_utils.h"
#include "fetch/client_files.h"
#include "fetch/job_line.h"
#include "fetch/zlib_coding.h"
#include "platform/durable_file.h"
#include "testsite/certificates.h"
#include "testsite/site_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>
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
        cards.append(StripScheme(record.Columns[12]) +
                     CardJobTail("Bench", model.BaseUrl() + "/avto/"));
    QStringList jobs;
    for (int i = 0; i < count; ++i)
        jobs.append(cards[i % cards.size()]);
    return jobs;
}

struct TMeasure {
    double PagesPerSecond;
    double CpuMsPerPage; // of the whole process: controller, fetch threads and the site
};

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One run over `jobs`, from START to the saved lists.
TMeasure Measure(const QString& dir, const QStringList& jobs, bool journal) {
    for (const QString& name : QDir(dir).entryList({"data*.csv", "log-*.txt"}, QDir::Files))
        QFile::remove(dir + "/" + name);
    WriteFileAtomically(TRunFiles(dir).Lists(), ListFileBytes(jobs));
    WriteFileAtomically(TRunFiles(dir).AllKnown(), ListFileBytes({}));
    TQuietView view;
    TScraperSettings settings;
    settings.BaseDir = dir;
    settings.KeepJournal = journal;
    TScraper scraper(view, settings);
    const double cpu = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    scraper.Start();
    // The run's window steps are served here, on the main thread, until it ends.
    while (!scraper.Finished() &&
           std::chrono::steady_clock::now() - start < std::chrono::minutes(10)) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!scraper.Finished() || scraper.Failed())
        throw std::runtime_error("the run did not end well");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    const double cpuMs = (ProcessCpuSeconds() - cpu) * 1000;
    scraper.WaitFor();
    if (view.Written != QStringLiteral("Записано организаций: %1").arg(jobs.size()))
        throw std::runtime_error("the run did not write every row");
    return {jobs.size() / took.count(), cpuMs / jobs.size()};
}

// The journal's own work per card, alone, in microseconds: the record of the job
// taken, the record of its row, and the syncs of the data file and the journal
// once per `perSync` cards, against writing the same rows without a journal.
double JournalMicroseconds(const QString& dir, const QStringList& jobs, int perSync) {
    const QByteArray row(400, 'r');
    const auto timeRows = [&](bool journal) {
        QFile::remove(dir + "/bench.csv");
        QFile::remove(dir + "/bench-journal.dat");
        TAppendFile data;
        data.CreateNew(dir + "/bench.csv");
        TRunJournal records;
        if (journal)
            records.Begin(dir + "/bench-journal.dat", {"-", "-", "-", "-"}, "data1.csv", 0);
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < jobs.size(); ++i) {
            records.Taken(i + 1, jobs[i]);
            data.Append(row);
            records.Done(i + 1, {}, data.Size());
            if (journal && (i + 1) % perSync == 0) {
                data.Sync();
                records.Sync();
            }
        }
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        return took.count();
    };
    const double with = timeRows(true), without = timeRows(false);
    QFile::remove(dir + "/bench.csv");
    QFile::remove(dir + "/bench-journal.dat");
    return (with - without) / jobs.size();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    RegisterZlibContentCoding();
    QCoreApplication app(argc, argv);
    const int pages = argc > 1 ? std::atoi(argv[1]) : 3000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    TSiteServer site;
    QTemporaryDir dir;
    // The fetch threads read the client certificate from the current directory.
    if (!dir.isValid() || !QDir::setCurrent(dir.path()) ||
        !WriteClientCertificate(dir.path(), QString::fromLatin1(ClientKeyPassPhrase)))
        return 1;
    WriteFileAtomically(dir.filePath("cities.txt"), site.Model().CityLine().toUtf8() + "\r\n");
    const QStringList jobs = CardJobs(site.Model(), pages);
    Measure(dir.path(), jobs.mid(0, 100), true); // warm-up
    std::vector<double> with, without, cpuWith, cpuWithout;
    for (int round = 0; round < rounds; ++round) {
        // Which one goes first alternates, so a trend of the machine's load falls on both.
        const bool journalFirst = round % 2 == 0;
        const TMeasure first = Measure(dir.path(), jobs, journalFirst);
        const TMeasure second = Measure(dir.path(), jobs, !journalFirst);
        const TMeasure& on = journalFirst ? first : second;
        const TMeasure& off = journalFirst ? second : first;
        with.push_back(on.PagesPerSecond);
        without.push_back(off.PagesPerSecond);
        cpuWith.push_back(on.CpuMsPerPage);
        cpuWithout.push_back(off.CpuMsPerPage);
        std::printf("round %d: journal %.1f pages/s %.3f ms CPU/page, no journal %.1f pages/s "
                    "%.3f ms CPU/page\n",
                    round + 1, on.PagesPerSecond, on.CpuMsPerPage, off.PagesPerSecond,
                    off.CpuMsPerPage);
    }
    const double ratio = Median(with) / Median(without);
    std::printf("median of %d runs of %d pages: journal %.1f pages/s, no journal %.1f pages/s, "
                "speed ratio %.3f; CPU per page %.3f ms against %.3f ms\n",
                rounds, pages, Median(with), Median(without), ratio, Median(cpuWith),
                Median(cpuWithout));
    // At the pace measured the run syncs once a second, that is once per this many cards.
    const int perSync = std::max(1, int(Median(with)));
    const double journalUs = JournalMicroseconds(dir.path(), jobs, perSync);
    std::printf("the journal alone: %.1f us per card (syncs once per %d cards), %.2f %% of the "
                "%.0f us a card takes in the crawl\n",
                journalUs, perSync, journalUs / (1e6 / Median(without)) * 100,
                1e6 / Median(without));
    return 0;
}
