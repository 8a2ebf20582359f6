#pragma once

#include "app/headless_options.h"
#include "crawl/scraper.h"

// Runs the program with its main window until the window closes; returns the
// process's exit status. --help and --version, a usage error and a machine with
// no display are answered on the terminal before the toolkit is started (which
// would otherwise abort): usage and version with 0, the others with 2.
int RunWindow(int argc, char** argv, const TWindowOptions& options);

// The settings every run of the window gets from its command line: the directory of
// its files (--dir or the default, made when missing), --keep-alive and
// --verify-peer. Throws Exception when the directory cannot be made.
TScraperSettings WindowSettings(const TWindowOptions& options);
