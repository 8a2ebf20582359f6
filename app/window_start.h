#pragma once

// Runs the program with its main window until the window closes; returns the
// process's exit status.
int RunWindow(int argc, char** argv);
