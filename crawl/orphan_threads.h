#pragma once

#include <memory>

struct TRunLists;

// Fetch threads that outlive their run.
//
// A run that ends on a stop or after a failure does not wait for the fetch threads
// it still has: they finish their page and hand themselves over into the run's
// FinishedList as usual, which stays valid because each of them holds the run's
// TRunLists through a shared_ptr. The controller hands such a run's lists over
// here at its end, and from then on this process-wide keeper owns those threads:
//  - ReapFinishedOrphans joins and deletes the ones that have handed themselves
//    over (a quick join: the hand-over is their last act), from any thread but
//    their own; every controller calls it at the start and at the end of its run.
//  - DrainOrphanThreads, at process exit, asks every one still running to stop,
//    waits for all of them and deletes them. It runs on the main thread while the
//    application object and the run's view still exist: a fetch thread may be
//    inside a window step, which the wait keeps serving. Set the application's
//    terminating flag first, so a request still waiting ends at once.
// So no thread is left joinable, none is deleted from its own thread, and none
// outlives the process's orderly exit. One lock serialises the two operations.
void AdoptOrphanThreads(std::shared_ptr<TRunLists> lists);
void ReapFinishedOrphans();
void DrainOrphanThreads();
// The front ends' last step once their event loop has ended: the application's
// terminating flag is set, so requests still waiting end at once, and then every
// orphan is drained.
void ShutDownFetchThreads();
// Fetch threads adopted and not yet deleted (started or not).
int OrphanThreadCount();
