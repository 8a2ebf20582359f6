#pragma once

#include <QString>

#include <functional>

// START's handling of what an earlier run left in the directory: the saved lists
// (lists.dat, allknown.dat, rubrics.dat, failed.dat and the journal) and cards.dat
// (which no run reads). Used on the main thread before a controller is created,
// by the window and by the headless front end alike, while holding the
// directory's lock.

// The two questions, exact texts, with the line count filled in.
QString ListsQuestion(int lines);
QString CardsQuestion(int lines);

// True when START would have to ask at least one question: the saved lists hold
// entries to resume (work entries or failed pages, the journal replayed), or
// cards.dat has lines. Changes no file. Raises ETextFileError when a file that
// exists cannot be read.
bool StartNeedsQuestions(const QString& baseDir);

// START's first two steps: discards the saved lists (cutting the data file of a
// run that never ended back to its last whole row) and cards.dat without asking
// when they hold nothing, asks through `ask` (true = Yes) otherwise and discards
// on Yes. A file that cannot be deleted stays, silently. Raises ETextFileError,
// having deleted nothing more, when a file that exists cannot be read.
void PrepareStartFiles(const QString& baseDir,
                       const std::function<bool(const QString& question)>& ask);
