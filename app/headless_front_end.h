#pragma once

// Runs one crawl without a window (`quorvel-scraper --headless ...`) and returns
// the process's exit status: 0 when the run ended on its own or on a stop, 1 after
// a failure, 2 for a usage error. Creates the application object itself and runs
// its event loop on the main thread, where the controller's window steps run.
int RunHeadless(int argc, char** argv);
