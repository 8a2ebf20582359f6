#pragma once

#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

class TSiteModel;

extern const QByteArray Bom;
// The data file's header line.
extern const QString DataHeader;

// The lines of a file that starts with the byte-order mark and ends every line
// with CR LF; a file breaking that form gives a line saying so, which no
// expectation matches.
QStringList CrLfLines(const QByteArray& bytes);
// The data file's rows, after checking its header line.
QStringList DataRows(const QByteArray& bytes);
QStringList Sorted(QStringList list);

// The rows a whole crawl of the site writes, each once.
QStringList ExpectedRows(const TSiteModel& model);

class TScraperDir;

// What a whole crawl leaves, however many runs it took: each of the site's rows
// once across the data files, nothing left to resume, every list page known.
void ExpectWholeCrawl(const TScraperDir& dir, const TSiteModel& model);

// True for the log line that ends a run.
bool EndsTheRun(const QString& line);

// Whether a scraper directory gets the client certificate and key: a crawl needs
// them, a test of what the program does before crawling sees every file it makes.
enum class TClientFiles { Written, None };

// A copy of the real executable in a temporary directory of its own, with the
// files a run needs beside it, and runs of it as a child process whose standard
// output is collected line by line. Used on the test's main thread only.
class TScraperDir {
public:
    // Copies the executable, writes cities.txt and, unless told not to, a client
    // certificate and key; `prepare`, when given, first gets the empty directory
    // (to mount a file system there).
    explicit TScraperDir(const QStringList& cityLines,
                         TClientFiles clientFiles = TClientFiles::Written,
                         const std::function<void(const QString& path)>& prepare = {});

    QString Path(const QString& name = {}) const;
    QByteArray ReadBytes(const QString& name) const;
    void WriteBytes(const QString& name, const QByteArray& bytes) const;
    // Every file of the directory with its bytes, for comparing before and after.
    QMap<QString, QByteArray> Snapshot() const;
    // Names of the files matching `pattern` ("data*.csv"), sorted.
    QStringList Files(const QString& pattern = QStringLiteral("*")) const;
    // The rows of every data file, header lines left out; a file that does not
    // end with a whole line gives a row saying so.
    QStringList AllDataRows() const;

private:
    QTemporaryDir FDir;
};

// A run of a scraper directory's executable with no terminal on standard input.
class TScraperRun {
public:
    // Against the site at `baseUrl`, offscreen, with `environment` added to the test's own.
    TScraperRun(const TScraperDir& dir, const QStringList& arguments, const QString& baseUrl,
                const QMap<QString, QString>& environment = {});
    // With exactly `environment`, for runs that must see what a user's shell gives them.
    TScraperRun(const TScraperDir& dir, const QStringList& arguments,
                const QProcessEnvironment& environment);
    // The build's own executable (not the directory's copy), started in the
    // directory, with exactly `environment`: for runs given their files with --dir.
    TScraperRun(const QString& program, const TScraperDir& dir, const QStringList& arguments,
                const QProcessEnvironment& environment);
    ~TScraperRun();

    // Waits (bounded), collecting standard output meanwhile, until `done` holds;
    // false when it did not or the program ended first.
    bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 60000);
    // Waits (bounded) until a line of standard output satisfies `match`.
    bool WaitForLine(const std::function<bool(const QString&)>& match, int timeoutMs = 60000);
    // Waits (bounded) for the end; returns the exit code, or -1 when it did not end.
    int WaitForExit(int timeoutMs = 120000);
    void Interrupt();
    qint64 ProcessId() const { return FProcess.processId(); }
    // SIGKILL, then waits for the end.
    void Kill();

    QStringList OutputLines() const { return FLines; }
    // Standard output as read so far, byte for byte.
    QString OutputText() const { return QString::fromUtf8(FOutput); }
    QString ErrorText() const { return QString::fromUtf8(FError); }

private:
    void TakeOutput();

    QProcess FProcess;
    QByteArray FOutput;
    QByteArray FPending;
    QByteArray FError;
    QStringList FLines;
};
