#pragma once

#include "crawl/run_files.h"
#include "platform/exception.h"

#include <memory>

class TFileLock;

// Another process runs in the directory, or another user's lock file stands in
// it; the message names them and how to clear the lock.
class ERunDirBusy : public Exception {
public:
    using Exception::Exception;
};

// Takes the lock that lets one run at a time work in the directory of `files`,
// from START's questions to the run's end, and removes the temporary files a run
// that ended while saving its lists left. Raises ERunDirBusy naming the process
// that holds it, or EFileWriteError when the lock file cannot be opened (a
// symbolic link standing there included). Main thread.
std::unique_ptr<TFileLock> LockRunDir(const TRunFiles& files);
