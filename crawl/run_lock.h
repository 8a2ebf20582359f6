#pragma once

#include "crawl/run_files.h"
#include "platform/exception.h"

#include <memory>

class TFileLock;

// Another process runs in the directory; the message names it.
class ERunDirBusy : public Exception {
public:
    using Exception::Exception;
};

// Takes the lock that lets one run at a time work in the directory of `files`,
// from START's questions to the run's end. Raises ERunDirBusy naming the process
// that holds it, or EFileWriteError when the lock file cannot be opened. Main thread.
std::unique_ptr<TFileLock> LockRunDir(const TRunFiles& files);
