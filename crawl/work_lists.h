#pragma once

#include "crawl/name_value_list.h"
#include "crawl/run_files.h"
#include "crawl/run_journal.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// The lists of a run and its promise that nothing the run finds is lost: the work
// list (queue order), the known links (sorted ignoring letter case, no two alike),
// the rubric names of the subrubrics found, the pages that failed, and the jobs
// taken from the work list and not finished yet. Once Begin has saved the lists,
// every change is written to the run's journal before it is made, so that the
// lists the journal gives after a crash are the lists the run would have saved at
// that moment. Owned and used by the controller's thread alone.
class TWorkLists {
public:
    // A job taken from the front of the work list: its number in the journal and its entry.
    struct TTakenJob {
        int64_t Job = 0;
        QString Entry;
    };

    explicit TWorkLists(TRunFiles files) : FFiles(std::move(files)) {}

    const QStringList& WorkList() const { return FWorkList; }
    const QStringList& KnownList() const { return FKnownList; }
    const TNameValueList& RubricList() const { return FRubricList; }
    const QStringList& FailedList() const { return FFailedList; }
    bool IsKnown(const QString& key) const;

    // Room for the lists of a large run, made once at its start.
    void Reserve();
    // The lists a run starts from, before Begin. Resume takes the saved lists of an
    // earlier run; pages that failed then are queued after everything else, once,
    // and not at all when the work list holds them already.
    void Resume(const TSavedLists& saved);
    // A start entry is queued and known.
    void AddStartEntry(const QString& key);
    void DropEntries(const std::function<bool(const QString& entry)>& drop);
    // Saves the lists as they are and begins the journal that continues from them,
    // for the data file `dataFile` whose rows start at `dataStart`. Raises
    // EFileWriteError. Without Begin, nothing is saved before Save and nothing journaled.
    void Begin(const QString& dataFile, int64_t dataStart);

    // Takes the first entry of the work list, which must not be empty.
    TTakenJob Take();
    // Ends a job whose page was routed: its new list links go to the end of the work
    // list and become known, its rubric names are kept, its card jobs go to the
    // front in their order. `dataSize` is the data file's length after the job's
    // row, -1 when it wrote none.
    void Finish(int64_t job, const TRoutedLinks& links, int64_t dataSize);
    // Ends a job whose page failed all its attempts: it is kept in the failed list, once.
    void Fail(int64_t job);
    // Hands the journal to the disk itself.
    void Sync() { FJournal.Sync(); }

    // The lists as Save would write them now: the jobs still taken back at the front
    // of the work list, in the order they were taken.
    TSavedLists Snapshot() const;
    // Saves Snapshot() and deletes the journal, which the saved lists replace; on a
    // failure (EFileWriteError) the journal stays, for the next run to continue from.
    void Save();
    // Forgets the lists and closes the journal.
    void Clear();

private:
    QString TakeTaken(int64_t job);
    void AddKnown(const QString& key);

    TRunFiles FFiles;
    TRunJournal FJournal;
    QStringList FWorkList;
    QStringList FKnownList;
    TNameValueList FRubricList; // subrubric link key -> rubric name, the first one winning
    QStringList FFailedList;    // entries of the pages that failed in this run, no two alike
    QList<TTakenJob> FTaken;    // in the order taken
    int64_t FNextJob = 1;
};
