#pragma once

#include "app/headless_options.h"

// Runs one crawl without a window (`quorvel-scraper --headless ...`) and returns
// the process's exit status: 0 when the run ended on its own or on a stop, 1 after
// a failure, 2 for a usage error. Answers --help and --version, and settles the
// directory of the program's files, before it creates the application object; then
// runs that object's event loop on the main thread, where the controller's window
// steps run.
int RunHeadless(int argc, char** argv, const THeadlessOptions& options);
