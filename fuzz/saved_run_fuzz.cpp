// What a run leaves for the next START and the next START reads back: lists.dat,
// allknown.dat, rubrics.dat, failed.dat and the journal of a run that never saved
// its lists, read as ReadSavedRun reads them from a directory.
//
// Two kinds of input. Files as anyone may leave them: whatever they hold, reading
// them fails only as documented, keeps every entry of the files that the journal
// only adds to, and the journal names at most a bare data-file name beside them.
// A run as the controller makes it: lists saved, a journal begun, jobs taken,
// finished and failed, then a crash that may cut the journal anywhere and a data
// file that may have lost its last rows: reading the directory back gives exactly
// the lists of the run up to its last whole record that the data file vouches for.

#include "crawl/run_files.h"
#include "crawl/saved_run.h"
#include "fuzz/fuzz_support.h"
#include "platform/text_codec.h"
#include "platform/text_file.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

const QString DataName = QStringLiteral("data1.csv");

// One directory for the whole run, in memory where the system offers it.
const TRunFiles& Files() {
    static QTemporaryDir dir(QDir("/dev/shm").exists() ? "/dev/shm/quorvel-fuzz-XXXXXX"
                                                       : QDir::tempPath() + "/quorvel-fuzz-XXXXXX");
    static const TRunFiles files(dir.path());
    return files;
}

void Put(const QString& path, const QByteArray* bytes) {
    QFile::remove(path);
    if (!bytes)
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size())
        FuzzFailure("the fuzz directory takes a file", path);
}

void SetDataFileSize(int64_t size) {
    QFile file(Files().Path(DataName));
    if (!file.open(QIODevice::ReadWrite) || !file.resize(size))
        FuzzFailure("the fuzz directory takes a data file");
}

QStringList LinesOf(const QByteArray* bytes) {
    return bytes ? SplitLines(DecodeTextFileBytes(*bytes)) : QStringList();
}

bool Within(const QStringList& part, const QStringList& whole) {
    for (const QString& entry : part)
        if (!whole.contains(entry))
            return false;
    return true;
}

// Files as anyone may leave them.
void CheckAnyFiles(FuzzedDataProvider& in, uint8_t flags) {
    QByteArray parts[5];
    const int64_t dataSize = in.ConsumeIntegralInRange<int64_t>(0, 1 << 20);
    int lengths[4];
    for (int& length : lengths)
        length = in.ConsumeIntegral<uint16_t>();
    const QByteArray rest = TakeRest(in);
    qsizetype at = 0;
    for (int i = 0; i < 4; ++i) {
        parts[i] = rest.mid(at, lengths[i]);
        at += parts[i].size();
    }
    parts[4] = rest.mid(at);
    const TRunFiles& files = Files();
    const QString paths[5] = {files.Lists(), files.AllKnown(), files.Rubrics(), files.Failed(),
                              files.Journal()};
    for (int i = 0; i < 5; ++i)
        Put(paths[i], flags & (2 << i) ? &parts[i] : nullptr);
    SetDataFileSize(dataSize);
    const bool lists = flags & 2, known = flags & 4, failed = flags & 16, journal = flags & 32;

    TSavedRun saved;
    try {
        saved = ReadSavedRun(files, true);
    } catch (const ETextFileError&) {
        Require(lists && !known, "reading fails only for lists.dat without allknown.dat");
        return;
    }
    Require(!(lists && !known), "lists.dat without allknown.dat is refused");
    Require(saved.Exists == (lists || failed), "a saved run exists by lists.dat or failed.dat");
    Require(Within(LinesOf(known ? &parts[1] : nullptr), saved.Lists.Known) &&
                Within(LinesOf(failed ? &parts[3] : nullptr), saved.Lists.Failed),
            "the journal never loses a known link or a failed page of the files");
    static const QRegularExpression bare(QStringLiteral("^data-?[0-9]+\\.csv$"));
    Require(saved.DataFile.Name.isEmpty() || bare.match(saved.DataFile.Name).hasMatch(),
            "the journal names only a data file beside it", saved.DataFile.Name);
    if (!journal)
        Require(saved.Lists.Work == LinesOf(lists ? &parts[0] : nullptr) &&
                    saved.DataFile.Name.isEmpty(),
                "without a journal the work list is the file's lines");
}

// Text as the crawl makes entries of: any characters but line breaks (a list file
// holds one entry a line), and no tab in a link that starts a rubric line.
QString TakeEntry(FuzzedDataProvider& in, uint8_t flags, bool link = false) {
    const std::string raw = in.ConsumeRandomLengthString(24);
    const QByteArray bytes(raw.data(), qsizetype(raw.size()));
    QString text = flags & 64 ? Utf16Text(bytes) : DecodeUtf8(bytes);
    text.removeIf([link](QChar c) { return c == u'\r' || c == u'\n' || (link && c == u'\t'); });
    return text;
}

QStringList TakeEntries(FuzzedDataProvider& in, uint8_t flags, int most) {
    QStringList entries(in.ConsumeIntegralInRange<int>(0, most));
    for (QString& entry : entries)
        entry = TakeEntry(in, flags, true);
    return entries;
}

QList<TRubricEntry> TakeRubrics(FuzzedDataProvider& in, uint8_t flags, int most) {
    QList<TRubricEntry> rubrics(in.ConsumeIntegralInRange<int>(0, most));
    for (TRubricEntry& rubric : rubrics)
        rubric = {TakeEntry(in, flags, true), TakeEntry(in, flags)};
    return rubrics;
}

// One step of a run, and where the journal ended after it.
struct TStep {
    enum TKind { Take, Done, Fail } Kind;
    int64_t Job;
    TRoutedLinks Links;
    int64_t DataSize;
    int64_t JournalEnd;
};

// The lists of a run as the controller changes them; what a crash leaves of them
// is the lists with the jobs still taken back in front, in the order taken.
class TModelRun {
public:
    TSavedLists Lists;
    QList<QPair<int64_t, QString>> Taken;
    int64_t WholeRows = -1;

    void Apply(const TStep& step) {
        if (step.Kind == TStep::Take) {
            Taken.append({step.Job, Lists.Work.takeFirst()});
            return;
        }
        const QString entry = TakeTaken(step.Job);
        if (step.Kind == TStep::Fail) {
            if (!Lists.Failed.contains(entry))
                Lists.Failed.append(entry);
            return;
        }
        Lists.Work.append(step.Links.ListLinks);
        Lists.Known.append(step.Links.ListLinks);
        for (const TRubricEntry& rubric : step.Links.Rubrics)
            if (!Lists.Rubrics.contains(rubric))
                Lists.Rubrics.append(rubric);
        for (qsizetype i = step.Links.CardJobs.size() - 1; i >= 0; --i)
            Lists.Work.prepend(step.Links.CardJobs[i]);
        if (step.DataSize >= 0)
            WholeRows = step.DataSize;
    }

    TSavedLists AfterCrash() const {
        TSavedLists lists = Lists;
        for (qsizetype i = Taken.size() - 1; i >= 0; --i)
            lists.Work.prepend(Taken[i].second);
        return lists;
    }

private:
    QString TakeTaken(int64_t job) {
        for (qsizetype i = 0; i < Taken.size(); ++i)
            if (Taken[i].first == job)
                return Taken.takeAt(i).second;
        FuzzFailure("a finished job was taken");
    }
};

// What the files hold of the entries: a lone surrogate becomes U+FFFD.
QStringList Repaired(QStringList list) {
    for (QString& entry : list)
        entry = WithoutLoneSurrogates(entry);
    return list;
}

QList<TRubricEntry> Repaired(QList<TRubricEntry> rubrics) {
    for (TRubricEntry& rubric : rubrics)
        rubric = {WithoutLoneSurrogates(rubric.first), WithoutLoneSurrogates(rubric.second)};
    return rubrics;
}

TSavedLists Repaired(const TSavedLists& l) {
    return {Repaired(l.Work), Repaired(l.Known), Repaired(l.Rubrics), Repaired(l.Failed)};
}

TRoutedLinks Repaired(const TRoutedLinks& l) {
    return {Repaired(l.ListLinks), Repaired(l.Rubrics), Repaired(l.CardJobs)};
}

// The next step the run can make, written to the journal.
TStep NextStep(FuzzedDataProvider& in, uint8_t flags, TModelRun& run, TRunJournal& journal,
               int64_t& job, int64_t& dataSize) {
    const uint8_t choice = in.ConsumeIntegral<uint8_t>();
    if (run.Taken.isEmpty() || (choice % 3 == 0 && !run.Lists.Work.isEmpty())) {
        if (run.Lists.Work.isEmpty())
            return {TStep::Take, -1, {}, -1, -1};
        journal.Taken(++job, run.Lists.Work.first());
        return {TStep::Take, job, {}, -1, -1};
    }
    const int64_t taken = run.Taken[(choice / 3) % run.Taken.size()].first;
    if (choice % 3 == 1) {
        journal.Failed(taken);
        return {TStep::Fail, taken, {}, -1, -1};
    }
    TStep step{TStep::Done, taken, {}, -1, -1};
    step.Links = {TakeEntries(in, flags, 3), TakeRubrics(in, flags, 2), TakeEntries(in, flags, 3)};
    if (choice & 128)
        step.DataSize = dataSize += in.ConsumeIntegralInRange<int64_t>(0, 300);
    journal.Done(taken, step.Links, step.DataSize);
    return step;
}

bool SameLists(const TSavedLists& a, const TSavedLists& b) {
    return a.Work == b.Work && a.Known == b.Known && a.Rubrics == b.Rubrics && a.Failed == b.Failed;
}

QString Describe(const TSavedLists& l) {
    QStringList rubrics;
    for (const TRubricEntry& rubric : l.Rubrics)
        rubrics.append(RubricLine(rubric));
    return "work [" + l.Work.join(" | ") + "]; known [" + l.Known.join(" | ") + "]; rubrics [" +
           rubrics.join(" | ") + "]; failed [" + l.Failed.join(" | ") + "]";
}

void CutFile(const QString& path, int64_t size) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !file.resize(size))
        FuzzFailure("the fuzz directory cuts a file", path);
}

// A run as the controller makes it, then a crash that cuts the journal at any
// byte and leaves the data file with any part of the rows the journal claims.
void CheckRun(FuzzedDataProvider& in, uint8_t flags) {
    const TRunFiles& files = Files();
    const TSavedLists start{TakeEntries(in, flags, 6), TakeEntries(in, flags, 6),
                            TakeRubrics(in, flags, 4), TakeEntries(in, flags, 4)};
    int64_t dataSize = in.ConsumeIntegralInRange<int64_t>(0, 1000);
    const int64_t dataStart = dataSize;
    Put(files.Journal(), nullptr);
    TRunJournal journal;
    journal.Begin(files.Journal(), SaveRunLists(files, start), DataName, dataStart);
    const int64_t headerEnd = FileSize(files.Journal());
    TModelRun live{start, {}, dataStart};
    QList<TStep> steps;
    int64_t job = 0;
    for (int n = in.ConsumeIntegralInRange<int>(0, 40); n > 0; --n) {
        TStep step = NextStep(in, flags, live, journal, job, dataSize);
        if (step.Job < 0)
            break;
        step.JournalEnd = FileSize(files.Journal());
        live.Apply(step);
        steps.append(step);
    }
    journal.Close();

    const int64_t journalEnd = FileSize(files.Journal());
    const int64_t cut = flags & 8 ? in.ConsumeIntegral<uint32_t>() % (journalEnd + 1) : journalEnd;
    CutFile(files.Journal(), cut);
    const int64_t dataKept =
        flags & 16 ? in.ConsumeIntegralInRange<int64_t>(0, dataSize) : dataSize;
    SetDataFileSize(dataKept);

    TModelRun expected{Repaired(start), {}, dataStart};
    for (TStep step : steps) {
        if (step.JournalEnd > cut || step.DataSize > dataKept)
            break;
        step.Links = Repaired(step.Links);
        expected.Apply(step);
    }
    const TSavedRun saved = ReadSavedRun(files, true);
    Require(SameLists(saved.Lists, expected.AfterCrash()),
            "after a crash the lists are those of the run up to its last whole record",
            "read:     " + Describe(saved.Lists) +
                "\nexpected: " + Describe(expected.AfterCrash()));
    const bool header = cut >= headerEnd;
    Require(saved.DataFile.Name == (header ? DataName : QString()) &&
                saved.DataFile.WholeRows == (header ? expected.WholeRows : -1),
            "the journal vouches for the rows of its last whole record");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    if (flags & 1)
        CheckRun(in, flags);
    else
        CheckAnyFiles(in, flags);
    return 0;
}
