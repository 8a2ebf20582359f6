#include "crawl/run_journal.h"

#include "crawl/run_files.h"
#include "platform/text_codec.h"

#include <openssl/sha.h>

#include <optional>

namespace {

const QByteArray HeaderTag = "J\t1";

// Line breaks and the escape character itself are escaped, so that every record
// stays one line whatever text it carries. Text is coded as the list files code
// it, and a U+FEFF at the start of an entry is kept, as it is in them: a replayed
// entry must equal the one in the files.
QByteArray Escape(const QString& text) {
    QByteArray bytes = EncodeUtf8(text);
    if (!bytes.contains('\\') && !bytes.contains('\n') && !bytes.contains('\r'))
        return bytes;
    return bytes.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r");
}

QString Unescape(const QByteArray& bytes) {
    if (!bytes.contains('\\'))
        return DecodeUtf8(bytes);
    QByteArray plain;
    plain.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\\' || i + 1 == bytes.size()) {
            plain.append(bytes[i]);
            continue;
        }
        const char next = bytes[++i];
        plain.append(next == 'n' ? '\n' : next == 'r' ? '\r' : next);
    }
    return DecodeUtf8(plain);
}

QByteArray Record(char tag, const QByteArray& payload) {
    return QByteArray(1, tag) + '\t' + payload + '\n';
}

QByteArray Record(char tag, const QString& text) {
    return Record(tag, Escape(text));
}

std::optional<int64_t> Number(const QByteArray& text) {
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

// The lines that end with a line break; a last line cut off by a crash is left out.
QList<QByteArray> WholeLines(const QByteArray& bytes) {
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast();
    return lines;
}

struct THeader {
    QString DataFile;
    int64_t DataStart = 0;
    TListPrints Prints;
};

std::optional<THeader> ParseHeader(const QByteArray& line) {
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() != 8 || fields[0] + '\t' + fields[1] != HeaderTag)
        return std::nullopt;
    THeader header;
    header.DataFile = QString::fromUtf8(fields[2]);
    const std::optional<int64_t> start = Number(fields[3]);
    if (!start || !TRunFiles::IsDataName(header.DataFile))
        return std::nullopt;
    header.DataStart = *start;
    header.Prints = {fields[4], fields[5], fields[6], fields[7]};
    return header;
}

// Replays the records over the lists whose files are unchanged since the header.
class TReplay {
public:
    TReplay(const THeader& header, const TListPrints& prints, int64_t dataSize, TSavedLists& lists)
        : FLists(lists), FWork(header.Prints.Lists == prints.Lists),
          FKnown(header.Prints.AllKnown == prints.AllKnown),
          FRubrics(header.Prints.Rubrics == prints.Rubrics),
          FFailed(header.Prints.Failed == prints.Failed), FDataSize(dataSize),
          FWholeRows(header.DataStart) {}

    // False at the first record that cannot be taken.
    bool Apply(const QByteArray& line) {
        const qsizetype tab = line.indexOf('\t');
        if (tab != 1)
            return false;
        const QByteArray payload = line.mid(2);
        switch (line[0]) {
        case 'T':
            return Take(payload);
        case 'A':
            FGroup.ListLinks.append(Unescape(payload));
            return true;
        case 'R':
            return AddRubric(Unescape(payload));
        case 'C':
            FGroup.CardJobs.append(Unescape(payload));
            return true;
        case 'D':
            return Done(payload);
        case 'F':
            return Fail(payload);
        default:
            return false;
        }
    }

    // The jobs still taken go back to the front, in the order they were taken.
    void Finish() {
        if (!FWork)
            return;
        for (qsizetype i = FTaken.size() - 1; i >= 0; --i)
            FLists.Work.prepend(FTaken[i].second);
    }

    int64_t WholeRows() const { return FWholeRows; }

private:
    bool Take(const QByteArray& payload) {
        const qsizetype tab = payload.indexOf('\t');
        const std::optional<int64_t> job = Number(payload.left(tab));
        if (tab < 0 || !job)
            return false;
        const QString entry = Unescape(payload.mid(tab + 1));
        if (FWork) {
            // A work list that does not start with the entry is not the one the
            // journal continues: nothing more of it applies.
            if (FLists.Work.isEmpty() || FLists.Work.first() != entry)
                return false;
            FLists.Work.removeFirst();
        }
        FTaken.append({*job, entry});
        return true;
    }

    bool AddRubric(const QString& line) {
        TRubricEntry rubric;
        if (!ParseRubricLine(line, rubric))
            return false;
        FGroup.Rubrics.append(rubric);
        return true;
    }

    bool Done(const QByteArray& payload) {
        const QList<QByteArray> fields = payload.split('\t');
        const qsizetype taken = TakenIndex(fields[0]);
        if (taken < 0 || fields.size() > 2)
            return false;
        if (fields.size() == 2) {
            const std::optional<int64_t> size = Number(fields[1]);
            if (!size || *size > FDataSize)
                return false;
            FWholeRows = *size;
        }
        ApplyGroup();
        FTaken.removeAt(taken);
        return true;
    }

    bool Fail(const QByteArray& payload) {
        const qsizetype taken = TakenIndex(payload);
        if (taken < 0)
            return false;
        if (FFailed && !FLists.Failed.contains(FTaken[taken].second))
            FLists.Failed.append(FTaken[taken].second);
        ApplyGroup();
        FTaken.removeAt(taken);
        return true;
    }

    qsizetype TakenIndex(const QByteArray& field) const {
        const std::optional<int64_t> job = Number(field);
        for (qsizetype i = 0; job && i < FTaken.size(); ++i)
            if (FTaken[i].first == *job)
                return i;
        return -1;
    }

    void ApplyGroup() {
        if (FWork) {
            FLists.Work.append(FGroup.ListLinks);
            for (qsizetype i = FGroup.CardJobs.size() - 1; i >= 0; --i)
                FLists.Work.prepend(FGroup.CardJobs[i]);
        }
        if (FKnown)
            FLists.Known.append(FGroup.ListLinks);
        for (const TRubricEntry& rubric : FGroup.Rubrics)
            if (FRubrics && !FLists.Rubrics.contains(rubric))
                FLists.Rubrics.append(rubric);
        FGroup = {};
    }

    TSavedLists& FLists;
    const bool FWork, FKnown, FRubrics, FFailed;
    const int64_t FDataSize;
    int64_t FWholeRows;
    QList<QPair<int64_t, QString>> FTaken;
    TRoutedLinks FGroup;
};

} // namespace

QString RubricLine(const TRubricEntry& rubric) {
    return rubric.first + QLatin1Char('\t') + rubric.second;
}

bool ParseRubricLine(const QString& line, TRubricEntry& rubric) {
    const qsizetype tab = line.indexOf(QLatin1Char('\t'));
    if (tab < 0)
        return false;
    rubric = {line.left(tab), line.mid(tab + 1)};
    return true;
}

QByteArray ListFilePrint(const QByteArray* bytes) {
    if (!bytes)
        return "-";
    // The TLS library's SHA-1 (the same digest) runs several times faster than the
    // toolkit's on the tens of megabytes of a large run's lists.
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(bytes->constData()), size_t(bytes->size()), digest);
    return QByteArray(reinterpret_cast<const char*>(digest), SHA_DIGEST_LENGTH).toHex();
}

TJournalDataFile ReplayJournal(const QByteArray& bytes, const TListPrints& prints,
                               const std::function<int64_t(const QString& name)>& dataFileSize,
                               TSavedLists& lists) {
    const QList<QByteArray> lines = WholeLines(bytes);
    const std::optional<THeader> header = lines.isEmpty() ? std::nullopt : ParseHeader(lines[0]);
    if (!header)
        return {};
    TReplay replay(*header, prints, dataFileSize(header->DataFile), lists);
    for (qsizetype i = 1; i < lines.size() && replay.Apply(lines[i]); ++i) {
    }
    replay.Finish();
    return {header->DataFile, replay.WholeRows()};
}

void TRunJournal::Begin(const QString& path, const TListPrints& prints, const QString& dataFile,
                        int64_t dataStart) {
    FFile.Close();
    WriteFileAtomically(path, HeaderTag + '\t' + dataFile.toUtf8() + '\t' +
                                  QByteArray::number(qlonglong(dataStart)) + '\t' + prints.Lists +
                                  '\t' + prints.AllKnown + '\t' + prints.Rubrics + '\t' +
                                  prints.Failed + '\n');
    FFile.OpenExisting(path);
}

void TRunJournal::Taken(int64_t job, const QString& entry) {
    if (!FFile.IsOpen())
        return;
    FFile.Append(Record('T', QByteArray::number(qlonglong(job)) + '\t' + Escape(entry)));
}

void TRunJournal::Done(int64_t job, const TRoutedLinks& links, int64_t dataSize) {
    if (!FFile.IsOpen())
        return;
    QByteArray group;
    for (const QString& link : links.ListLinks)
        group += Record('A', link);
    for (const TRubricEntry& rubric : links.Rubrics)
        group += Record('R', RubricLine(rubric));
    for (const QString& card : links.CardJobs)
        group += Record('C', card);
    QByteArray outcome = QByteArray::number(qlonglong(job));
    if (dataSize >= 0)
        outcome += '\t' + QByteArray::number(qlonglong(dataSize));
    FFile.Append(group + Record('D', outcome));
}

void TRunJournal::Failed(int64_t job) {
    if (!FFile.IsOpen())
        return;
    FFile.Append(Record('F', QByteArray::number(qlonglong(job))));
}
