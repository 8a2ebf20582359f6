#pragma once

#include "platform/durable_file.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// The journal of a run: an append-only record, beside the saved lists, of every
// change the run makes to them, so that a run that ends without saving them (a
// crash, a power loss, a full disk) can be continued exactly where it was.
//
// It begins, with a header, right after the run has saved its lists; the header
// holds a fingerprint of each list file and names the run's data file. Then come
// records, one per line: a job taken from the front of the work list, and for
// each job that ends, one group: the list links, rubric names and card job lines
// the job queued, closed by the job's outcome (done, with the data file's length
// after its row for a card; or failed). A group is written with one write, and
// read back only when whole.

// A fingerprint of a list file's bytes; "-" for a file that is not there.
QByteArray ListFilePrint(const QByteArray* bytes);

// The fingerprints of the four list files a journal continues from.
struct TListPrints {
    QByteArray Lists, AllKnown, Rubrics, Failed;
};

// A subrubric's link key and the name of its rubric.
using TRubricEntry = QPair<QString, QString>;

// The line of a rubric entry in rubrics.dat and in the journal: the link key, a
// tab (which no link key holds), the rubric name.
QString RubricLine(const TRubricEntry& rubric);
// The entry of such a line; false for a line without a tab.
bool ParseRubricLine(const QString& line, TRubricEntry& rubric);

// The four lists as a run saves and loads them.
struct TSavedLists {
    QStringList Work;            // lists.dat, queue order
    QStringList Known;           // allknown.dat
    QList<TRubricEntry> Rubrics; // rubrics.dat
    QStringList Failed;          // failed.dat, job lines
};

// What one finished list or city page added to the lists.
struct TRoutedLinks {
    QStringList ListLinks;       // appended to the work list and known
    QList<TRubricEntry> Rubrics; // the rubric names of the subrubrics among them
    QStringList CardJobs;        // put at the front of the work list, in this order
};

// The data file named by a journal and the length up to which the journal vouches
// for its rows: what follows is half a row or rows whose jobs will be fetched again.
struct TJournalDataFile {
    QString Name; // a bare "data<N>.csv" name; empty when the journal names none
    int64_t WholeRows = -1;
};

// Applies the journal `bytes` to `lists`, whose files had the fingerprints
// `prints`. A list whose file still has the fingerprint of the header gets the
// journal's changes; one whose file has changed since (it was saved again after
// them) is taken as it is. Jobs taken and not finished go back to the front of
// the work list in the order they were taken. Reading stops at the first record
// that is cut off, malformed, or claims a row beyond `dataFileSize` of the data
// file (what was written before a power loss may not have reached the disk).
// Pure function.
TJournalDataFile ReplayJournal(const QByteArray& bytes, const TListPrints& prints,
                               const std::function<int64_t(const QString& name)>& dataFileSize,
                               TSavedLists& lists);

// The writer, owned and used by the controller's thread. Every call raises
// EFileWriteError when the disk refuses, leaving the file ending with a whole
// record. Before Begin and after Close the records go nowhere: a run that could
// not begin its journal never gets to take a job.
class TRunJournal {
public:
    // Replaces the journal at `path` with a new one continuing from the lists
    // saved with `prints`, for the data file `dataFile` whose rows start at `dataStart`.
    void Begin(const QString& path, const TListPrints& prints, const QString& dataFile,
               int64_t dataStart);
    void Taken(int64_t job, const QString& entry);
    // `dataSize` is the data file's length after the job's row, -1 when it wrote none.
    void Done(int64_t job, const TRoutedLinks& links, int64_t dataSize);
    void Failed(int64_t job);
    void Sync() { FFile.Sync(); }
    void Close() { FFile.Close(); }

private:
    TAppendFile FFile;
};
