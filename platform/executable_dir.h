#pragma once

#include <QString>

// The directory that holds the running executable, without a trailing "/".
QString ExecutableDir();

// The one decision of where the program keeps its files (cities.txt,
// selection.txt, the work lists, data and log files), without a trailing "/":
//  - `chosen` (given with --dir), made absolute;
//  - else `exeDir`, when it is writable and not an installed copy (one whose
//    shared files lie in ../share/quorvel-scraper, which even an administrator
//    should not fill with data files);
//  - else the user's data directory: $XDG_DATA_HOME/quorvel-scraper, or
//    ~/.local/share/quorvel-scraper when XDG_DATA_HOME is unset, empty or not an
//    absolute path.
// Reads the environment and the file system; creates nothing. Any thread.
QString ChooseFilesDir(const QString& chosen, const QString& exeDir);

// ChooseFilesDir for the executable in `exeDir`, created when missing; the user's
// data directory and the directories made above it are made readable by the user
// alone (0700). Raises Exception naming the directory and the reason when it
// cannot be created.
QString PrepareFilesDir(const QString& chosen, const QString& exeDir = ExecutableDir());
