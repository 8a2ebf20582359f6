#include "crawl/work_lists.h"

#include "crawl/saved_run.h"
#include "platform/text_compare.h"

#include <QFile>
#include <QSet>

#include <algorithm>

bool TWorkLists::IsKnown(const QString& key) const {
    return std::binary_search(FKnownList.begin(), FKnownList.end(), key, TLessIgnoreCase());
}

void TWorkLists::Reserve() {
    FWorkList.reserve(1000000);
    FKnownList.reserve(100000);
}

void TWorkLists::Resume(const TSavedLists& saved) {
    FWorkList.append(saved.Work);
    for (const QString& key : saved.Known)
        AddKnown(key);
    for (const TRubricEntry& rubric : saved.Rubrics)
        FRubricList.Add(rubric.first, rubric.second);
    QSet<QString> queued(FWorkList.begin(), FWorkList.end());
    for (const QString& entry : saved.Failed) {
        if (!queued.contains(entry)) {
            FWorkList.append(entry);
            queued.insert(entry);
        }
    }
}

void TWorkLists::AddStartEntry(const QString& key) {
    FWorkList.append(key);
    AddKnown(key);
}

void TWorkLists::DropEntries(const std::function<bool(const QString& entry)>& drop) {
    FWorkList.removeIf(drop);
}

void TWorkLists::Begin(const QString& dataFile, int64_t dataStart) {
    const TListPrints prints = SaveRunLists(FFiles, Snapshot());
    FJournal.Begin(FFiles.Journal(), prints, dataFile, dataStart);
}

// The journal hears of the job before the work list loses it.
TWorkLists::TTakenJob TWorkLists::Take() {
    const int64_t job = FNextJob++;
    FJournal.Taken(job, FWorkList.first());
    FTaken.append({job, FWorkList.takeFirst()});
    return FTaken.last();
}

void TWorkLists::Finish(int64_t job, const TRoutedLinks& links, int64_t dataSize) {
    FJournal.Done(job, links, dataSize);
    TakeTaken(job);
    for (const QString& key : links.ListLinks) {
        FWorkList.append(key);
        AddKnown(key);
    }
    for (const TRubricEntry& rubric : links.Rubrics)
        FRubricList.Add(rubric.first, rubric.second);
    for (qsizetype i = links.CardJobs.size() - 1; i >= 0; --i)
        FWorkList.prepend(links.CardJobs[i]);
}

void TWorkLists::Fail(int64_t job) {
    FJournal.Failed(job);
    const QString entry = TakeTaken(job);
    if (!FFailedList.contains(entry))
        FFailedList.append(entry);
}

TSavedLists TWorkLists::Snapshot() const {
    TSavedLists lists{FWorkList, FKnownList, FRubricList.Entries(), FFailedList};
    for (qsizetype i = FTaken.size() - 1; i >= 0; --i)
        lists.Work.prepend(FTaken[i].Entry);
    return lists;
}

void TWorkLists::Save() {
    SaveRunLists(FFiles, Snapshot());
    FJournal.Close();
    QFile::remove(FFiles.Journal());
}

void TWorkLists::Clear() {
    FJournal.Close();
    FWorkList = {};
    FKnownList = {};
    FRubricList.Clear();
    FFailedList = {};
    FTaken = {};
}

QString TWorkLists::TakeTaken(int64_t job) {
    for (qsizetype i = 0; i < FTaken.size(); ++i)
        if (FTaken[i].Job == job)
            return FTaken.takeAt(i).Entry;
    return {};
}

void TWorkLists::AddKnown(const QString& key) {
    const auto place =
        std::lower_bound(FKnownList.begin(), FKnownList.end(), key, TLessIgnoreCase());
    if (place == FKnownList.end() || CompareTextIgnoreCase(*place, key) != 0)
        FKnownList.insert(place, key);
}
