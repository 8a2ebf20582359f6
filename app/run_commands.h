#pragma once

class TScraper;
class TRunView;

// The commands that both front ends give a run in progress, with the log lines
// they add to the run's log.

// Stop: a paused run is resumed first, so that it reaches the stop request.
void StopRun(TScraper& scraper, TRunView& view);

// Ends a pause and says so; a run that is not paused is left alone.
void EndPause(TScraper& scraper, TRunView& view);
