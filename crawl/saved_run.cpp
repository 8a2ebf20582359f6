#include "crawl/saved_run.h"

#include "crawl/text_utils.h"
#include "platform/durable_file.h"
#include "platform/text_file.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

std::optional<QByteArray> ReadIfThere(const QString& path) {
    if (!QFile::exists(path))
        return std::nullopt;
    return ReadFileBytes(path);
}

// The journal decides how far a resume cuts the data file back: one that is a link
// planted in its place is refused rather than read.
std::optional<QByteArray> ReadJournal(const QString& path) {
    if (QFileInfo(path).isSymLink())
        throw ETextFileError("Не удалось прочитать файл " + path + ": " + SymbolicLinkReason());
    return ReadIfThere(path);
}

QStringList LinesOf(const std::optional<QByteArray>& bytes) {
    return bytes ? SplitLines(DecodeTextFileBytes(*bytes)) : QStringList();
}

QList<TRubricEntry> RubricsOf(const std::optional<QByteArray>& bytes) {
    QList<TRubricEntry> rubrics;
    TRubricEntry rubric;
    for (const QString& line : LinesOf(bytes))
        if (ParseRubricLine(line, rubric))
            rubrics.append(rubric);
    return rubrics;
}

QByteArray PrintOf(const std::optional<QByteArray>& bytes) {
    return ListFilePrint(bytes ? &*bytes : nullptr);
}

} // namespace

TSavedRun ReadSavedRun(const TRunFiles& files, bool knownRequired) {
    const std::optional<QByteArray> lists = ReadIfThere(files.Lists());
    const std::optional<QByteArray> known =
        lists && knownRequired ? ReadFileBytes(files.AllKnown()) : ReadIfThere(files.AllKnown());
    const std::optional<QByteArray> rubrics = ReadIfThere(files.Rubrics());
    const std::optional<QByteArray> failed = ReadIfThere(files.Failed());
    TSavedRun saved;
    saved.Exists = lists || failed;
    saved.Lists = {LinesOf(lists), LinesOf(known), RubricsOf(rubrics), LinesOf(failed)};
    if (const std::optional<QByteArray> journal = ReadJournal(files.Journal())) {
        const TListPrints prints{PrintOf(lists), PrintOf(known), PrintOf(rubrics), PrintOf(failed)};
        saved.DataFile = ReplayJournal(
            *journal, prints, [&](const QString& name) { return FileSize(files.Path(name)); },
            saved.Lists);
    }
    return saved;
}

void CutCrashedDataFile(const TRunFiles& files, const TSavedRun& saved) {
    if (!saved.DataFile.Name.isEmpty() && saved.DataFile.WholeRows >= 0)
        CutFileBack(files.Path(saved.DataFile.Name), saved.DataFile.WholeRows);
}

void DiscardSavedRun(const TRunFiles& files, const TSavedRun& saved) {
    CutCrashedDataFile(files, saved);
    for (const QString& path :
         {files.Lists(), files.AllKnown(), files.Rubrics(), files.Failed(), files.Journal()})
        QFile::remove(path);
}

TListPrints SaveRunLists(const TRunFiles& files, const TSavedLists& lists) {
    TListPrints prints;
    const auto save = [](const QStringList& list, const QString& path) {
        const QByteArray bytes = ListFileBytes(list);
        WriteFileAtomically(path, bytes);
        return ListFilePrint(&bytes);
    };
    prints.AllKnown = save(lists.Known, files.AllKnown());
    QStringList rubricLines;
    for (const TRubricEntry& rubric : lists.Rubrics)
        rubricLines.append(RubricLine(rubric));
    prints.Rubrics = save(rubricLines, files.Rubrics());
    prints.Lists = save(lists.Work, files.Lists());
    prints.Failed = save(lists.Failed, files.Failed());
    return prints;
}
