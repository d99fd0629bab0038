#ifndef WORKERPOOL_H
#define WORKERPOOL_H

#include <atomic>
#include <functional>

#include "refusal.h"

// Several jobs at once on threads of their own, their results told in the
// jobs' order: how zkstool makes many banks, whichever command plans them.

// How one job ended, as the pool needs to know it.
struct JobEnd {
    bool interrupted = false;      // stopped part way: nothing of it is told
    bool outOfDescriptors = false; // failed for want of file descriptors: nor is this

    // A job that failed with `refusal`, judged at once: the want of
    // descriptors may be over a moment later, when other jobs have closed
    // theirs.
    static JobEnd FailedWith(const Refusal &refusal);
};

// How a whole run ended.
enum class PoolEnd {
    Whole,            // every job ended and was told
    Interrupted,      // `stop` was set, or a job was interrupted: jobs were left out
    OutOfDescriptors, // a job failed for want of file descriptors, and so would the rest
};

// What the pool is told of a run, on the calling thread.
struct PoolCalls {
    // Runs job `index` on a worker thread. Jobs write their results where
    // no other job does: their own element of a vector, say.
    std::function<JobEnd(int index)> run;
    // Tells job `index`'s result, in the jobs' order, as soon as it and
    // every one before it have ended.
    std::function<void(int index)> tell;
    // While the next result is awaited, at least ten times a second: how
    // many jobs have ended, and the last one started (-1 before any).
    std::function<void(int ended, int lastStarted)> waiting;
};

// Runs jobs 0..count-1, at most `threads` at once. No job starts once
// `stop` is set or a job ran out of file descriptors; such a job is not
// told, nor is one interrupted, while every job that ended otherwise is, in
// order.
PoolEnd RunInOrder(int count, int threads, const std::atomic<bool> *stop, const PoolCalls &calls);

// Whether a refusal came of the process (EMFILE) or the system (ENFILE)
// having no file descriptor to give: its reason carries the system's words
// for it, wherever in the chain the file was refused, or no descriptor is
// to be had now.
bool OutOfDescriptors(const Refusal &refusal);

#endif
