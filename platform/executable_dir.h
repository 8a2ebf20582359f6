#pragma once

#include <QString>

// The directory that holds the running executable, without a trailing "/".
// The system keeps its own files (cities.txt, the work lists, data and log files) there.
QString ExecutableDir();
