#pragma once

#include "crawl/run_files.h"
#include "crawl/run_journal.h"

// What a run leaves for the next START: the saved lists, brought up to date by the
// journal of a run that ended without saving them. Used on the main thread by
// START and on the controller's thread by the run that resumes; the lock of the
// directory keeps the two from overlapping.
struct TSavedRun {
    // lists.dat or failed.dat is there: a resume has something to continue.
    bool Exists = false;
    TSavedLists Lists;
    // The data file of the run the journal describes, and where its whole rows end.
    TJournalDataFile DataFile;

    // The entries a resume would queue: the work list and the failed pages.
    int Entries() const { return int(Lists.Work.size() + Lists.Failed.size()); }
};

// Reads the saved lists and replays the journal over them; changes no file.
// Raises ETextFileError when a file cannot be read or the journal is a symbolic
// link, and, when `knownRequired`, when lists.dat is there without allknown.dat:
// a run resumed without the links it knows would visit every list page again.
TSavedRun ReadSavedRun(const TRunFiles& files, bool knownRequired);

// Cuts the data file that the journal names back to the end of its last whole row
// the journal vouches for; raises EFileWriteError when that fails or a symbolic
// link stands at its name.
void CutCrashedDataFile(const TRunFiles& files, const TSavedRun& saved);

// Deletes the saved lists and the journal, after cutting the crashed run's data
// file back. A file that cannot be deleted stays.
void DiscardSavedRun(const TRunFiles& files, const TSavedRun& saved);

// Saves the lists, each file replaced whole: allknown.dat, rubrics.dat, lists.dat,
// then failed.dat, so that a crash between two of them can lose no entry (the
// journal still covers the files not yet replaced). Returns their fingerprints.
// Raises EFileWriteError.
TListPrints SaveRunLists(const TRunFiles& files, const TSavedLists& lists);
