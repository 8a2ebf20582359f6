#pragma once

// Process-wide "the application is quitting" flag. Set once when the application
// begins to quit; requests still waiting then end at once instead of running out
// their time-out.
bool ApplicationTerminating();
void SetApplicationTerminating(bool terminating);
