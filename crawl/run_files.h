#pragma once

#include <QFile>
#include <QRegularExpression>
#include <QString>

#include <cstdint>

// The files the program keeps in its base directory, by name. Everything that
// reads or writes them builds their paths here, so the base directory can move
// without any of them changing. A value; any thread.
class TRunFiles {
public:
    explicit TRunFiles(QString baseDir) : FBaseDir(std::move(baseDir)) {}

    const QString& BaseDir() const { return FBaseDir; }
    QString Path(const QString& name) const { return FBaseDir + QLatin1Char('/') + name; }

    QString Cities() const { return Path(QStringLiteral("cities.txt")); }
    QString Selection() const { return Path(QStringLiteral("selection.txt")); }
    QString Skip() const { return Path(QStringLiteral("skip.txt")); }
    QString Cards() const { return Path(QStringLiteral("cards.dat")); }
    // The work list, the known links, the rubric names of the known subrubrics and
    // the pages that failed: what a resumed run continues from.
    QString Lists() const { return Path(QStringLiteral("lists.dat")); }
    QString AllKnown() const { return Path(QStringLiteral("allknown.dat")); }
    QString Rubrics() const { return Path(QStringLiteral("rubrics.dat")); }
    QString Failed() const { return Path(QStringLiteral("failed.dat")); }
    // What a run has done since it saved those lists, in case it never saves them again.
    QString Journal() const { return Path(QStringLiteral("journal.dat")); }
    // Held by the one process that runs in the directory.
    QString Lock() const { return Path(QStringLiteral("run.lock")); }
    // A run's data file and saved log, numbered by a tick count printed signed.
    QString Data(uint32_t number) const { return Path(DataName(number)); }
    QString Log(uint32_t number) const {
        return Path(QStringLiteral("log-%1.txt").arg(static_cast<int32_t>(number)));
    }
    // The first log path from `number` on that names no file: a saved log never
    // replaces one.
    QString FreeLog(uint32_t number) const {
        while (QFile::exists(Log(number)))
            ++number;
        return Log(number);
    }

    static QString DataName(uint32_t number) {
        return QStringLiteral("data%1.csv").arg(static_cast<int32_t>(number));
    }
    // Whether `name` is a bare data file name, as the journal names the file it vouches for.
    static bool IsDataName(const QString& name) {
        static const QRegularExpression pattern(QStringLiteral("^data-?[0-9]+\\.csv$"));
        return pattern.match(name).hasMatch();
    }

private:
    QString FBaseDir;
};
