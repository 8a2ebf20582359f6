#pragma once

#include "app/headless_options.h"

// Runs the program with its main window until the window closes; returns the
// process's exit status. --help and --version, a usage error and a machine with
// no display are answered on the terminal before the toolkit is started (which
// would otherwise abort): usage and version with 0, the others with 2.
int RunWindow(int argc, char** argv, const TWindowOptions& options);
