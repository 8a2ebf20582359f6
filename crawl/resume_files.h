#pragma once

#include <QString>

#include <functional>

// START's handling of what an earlier run left beside the executable: lists.dat
// with allknown.dat (the saved work lists) and cards.dat (which no run reads).
// Used on the main thread before a controller is created, by the window and by
// the headless front end alike.

// The two questions, exact texts, with the line count filled in.
QString ListsQuestion(int lines);
QString CardsQuestion(int lines);

// True when START would have to ask at least one question (lists.dat or cards.dat
// with lines). Raises ETextFileError when one of them exists but cannot be read.
bool StartNeedsQuestions(const QString& baseDir);

// START's first two steps: deletes lists.dat (with allknown.dat) and cards.dat
// without asking when they hold no lines, asks through `ask` (true = Yes)
// otherwise and deletes on Yes. A file that cannot be deleted stays, silently.
// Raises ETextFileError, having deleted nothing more, when a file that exists
// cannot be read.
void PrepareStartFiles(const QString& baseDir,
                       const std::function<bool(const QString& question)>& ask);
