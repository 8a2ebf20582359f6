#include "tests/support/scraper_process.h"

#include "fetch/client_files.h"
#include "testsite/certificates.h"
#include "testsite/site_model.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QSet>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <stdexcept>

#include "tests/qt_print.h"

const QByteArray Bom = "\xEF\xBB\xBF";
const QString DataHeader = "\"Страна\";\"Город\";\"Урл города (или названия региона)\";\"Рубрика\";"
                           "\"Подрубрика\";\"Урл подрубрики\";\"Название организации\";\"Адрес\";"
                           "\"Телефоны\";\"Часы работы\";\"Сайт\";\"Описание\";\"Урл организации\"";

QStringList CrLfLines(const QByteArray& bytes) {
    if (!bytes.startsWith(Bom) || (bytes.size() > Bom.size() && !bytes.endsWith("\r\n")))
        return {"<not BOM + CR LF lines>"};
    QStringList lines = QString::fromUtf8(bytes.mid(Bom.size())).split("\r\n");
    lines.removeLast();
    return lines;
}

QStringList DataRows(const QByteArray& bytes) {
    QStringList lines = CrLfLines(bytes);
    EXPECT_EQ(lines.value(0), DataHeader);
    return lines.mid(1);
}

QStringList Sorted(QStringList list) {
    std::sort(list.begin(), list.end());
    return list;
}

QStringList ExpectedRows(const TSiteModel& model) {
    QStringList rows;
    for (const TExpectedRecord& record : model.ExpectedRecords())
        rows.append(DataRowText(record.Columns));
    return rows;
}

void ExpectWholeCrawl(const TScraperDir& dir, const TSiteModel& model) {
    QStringList rows = dir.AllDataRows();
    QStringList expected = ExpectedRows(model);
    rows.sort();
    expected.sort();
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(dir.ReadBytes("lists.dat"), Bom);
    EXPECT_EQ(dir.ReadBytes("failed.dat"), Bom);
    EXPECT_FALSE(QFile::exists(dir.Path("journal.dat")));
    const QStringList known = CrLfLines(dir.ReadBytes("allknown.dat"));
    const QStringList expectedKnown = model.ExpectedKnownLinks();
    EXPECT_EQ(QSet<QString>(known.begin(), known.end()),
              QSet<QString>(expectedKnown.begin(), expectedKnown.end()));
}

bool EndsTheRun(const QString& line) {
    return line.contains("Работа завершена, лог записан в ");
}

TScraperDir::TScraperDir(const QStringList& cityLines, TClientFiles clientFiles,
                         const std::function<void(const QString& path)>& prepare) {
    if (FDir.isValid() && prepare)
        prepare(FDir.path());
    if (!FDir.isValid() || !QFile::copy(QUORVEL_SCRAPER_PATH, Path("quorvel-scraper")))
        throw std::runtime_error("cannot prepare the scraper directory");
    QFile(Path("quorvel-scraper"))
        .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    WriteBytes("cities.txt", (cityLines.join("\r\n") + "\r\n").toUtf8());
    if (clientFiles == TClientFiles::Written &&
        !WriteClientCertificate(Path(), QString::fromLatin1(ClientKeyPassPhrase)))
        throw std::runtime_error("cannot write the client certificate");
}

QString TScraperDir::Path(const QString& name) const {
    return name.isEmpty() ? FDir.path() : FDir.filePath(name);
}

QByteArray TScraperDir::ReadBytes(const QString& name) const {
    QFile file(Path(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void TScraperDir::WriteBytes(const QString& name, const QByteArray& bytes) const {
    QFile file(Path(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write a file of the scraper directory");
}

QMap<QString, QByteArray> TScraperDir::Snapshot() const {
    QMap<QString, QByteArray> files;
    for (const QString& name : QDir(Path()).entryList(QDir::Files))
        files.insert(name, ReadBytes(name));
    return files;
}

QStringList TScraperDir::Files(const QString& pattern) const {
    return QDir(Path()).entryList({pattern}, QDir::Files, QDir::Name);
}

QStringList TScraperDir::AllDataRows() const {
    QStringList rows;
    for (const QString& name : Files("data*.csv"))
        rows += CrLfLines(ReadBytes(name)).mid(1);
    return rows;
}

namespace {

QProcessEnvironment SiteEnvironment(const QString& baseUrl, const QMap<QString, QString>& extra) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (auto variable = extra.begin(); variable != extra.end(); ++variable)
        environment.insert(variable.key(), variable.value());
    environment.insert("QUORVEL_BASE_URL", baseUrl);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    return environment;
}

} // namespace

TScraperRun::TScraperRun(const TScraperDir& dir, const QStringList& arguments,
                         const QString& baseUrl, const QMap<QString, QString>& extra)
    : TScraperRun(dir, arguments, SiteEnvironment(baseUrl, extra)) {}

TScraperRun::TScraperRun(const TScraperDir& dir, const QStringList& arguments,
                         const QProcessEnvironment& environment)
    : TScraperRun(dir.Path("quorvel-scraper"), dir, arguments, environment) {}

TScraperRun::TScraperRun(const QString& program, const TScraperDir& dir,
                         const QStringList& arguments, const QProcessEnvironment& environment) {
    FProcess.setProcessEnvironment(environment);
    FProcess.setWorkingDirectory(dir.Path());
    FProcess.start(program, arguments);
    FProcess.waitForStarted();
    // Standard input is a pipe that is already at its end: never a terminal.
    FProcess.closeWriteChannel();
}

TScraperRun::~TScraperRun() {
    if (FProcess.state() != QProcess::NotRunning) {
        FProcess.kill();
        FProcess.waitForFinished();
    }
}

void TScraperRun::TakeOutput() {
    const QByteArray output = FProcess.readAllStandardOutput();
    FOutput += output;
    FPending += output;
    FError += FProcess.readAllStandardError();
    int end;
    while ((end = FPending.indexOf('\n')) >= 0) {
        QByteArray line = FPending.left(end);
        if (line.endsWith('\r'))
            line.chop(1);
        FLines.append(QString::fromUtf8(line));
        FPending.remove(0, end + 1);
    }
}

bool TScraperRun::WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        TakeOutput();
        if (done())
            return true;
        if (deadline.hasExpired() || FProcess.state() == QProcess::NotRunning)
            return false;
        // Short slices: `done` may depend on something other than the output.
        FProcess.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 50)));
    }
}

bool TScraperRun::WaitForLine(const std::function<bool(const QString&)>& match, int timeoutMs) {
    qsizetype seen = 0;
    return WaitUntil(
        [&] {
            for (; seen < FLines.size(); ++seen)
                if (match(FLines[seen]))
                    return true;
            return false;
        },
        timeoutMs);
}

int TScraperRun::WaitForExit(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (FProcess.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        FProcess.waitForFinished(int(std::min<qint64>(deadline.remainingTime(), 1000)));
        TakeOutput();
    }
    TakeOutput();
    if (FProcess.state() != QProcess::NotRunning || FProcess.exitStatus() != QProcess::NormalExit)
        return -1;
    return FProcess.exitCode();
}

void TScraperRun::Interrupt() {
    ::kill(pid_t(FProcess.processId()), SIGINT);
}

void TScraperRun::Kill() {
    FProcess.kill();
    FProcess.waitForFinished();
    TakeOutput();
}
