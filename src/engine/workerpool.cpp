#include "workerpool.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

PoolEnd RunInOrder(int count, int threads, const std::atomic<bool> *stop, const PoolCalls &calls)
{
    enum Ending : char { Running, ToTell, Untold };
    std::mutex lock;
    std::condition_variable changed;
    // A result waits here until the ones before it are told.
    std::vector<Ending> endings(static_cast<size_t>(count), Running);
    int next = 0;
    int ended = 0;
    int lastStarted = -1;
    // Once one job has found no descriptor, the jobs after it would fail the
    // same way, telling nothing of their own.
    std::atomic<bool> outOfDescriptors(false);
    const auto stopping = [&]() { return (stop && *stop) || outOfDescriptors; };

    const auto work = [&]() {
        for (;;) {
            int i = 0;
            {
                const std::lock_guard<std::mutex> guard(lock);
                if (next == count || stopping())
                    return;
                i = next++;
                lastStarted = i;
            }
            changed.notify_all();
            const JobEnd end = calls.run(i);
            if (end.outOfDescriptors)
                outOfDescriptors = true;
            const bool told = !end.interrupted && !end.outOfDescriptors;
            {
                const std::lock_guard<std::mutex> guard(lock);
                endings[size_t(i)] = told ? ToTell : Untold;
                ++ended;
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (int k = 0; k < std::min(threads, count); ++k)
        workers.emplace_back(work);

    int told = 0;
    std::unique_lock<std::mutex> guard(lock);
    // A signal handler cannot wake this thread: it looks at the flag at
    // least ten times a second.
    while (told < count && !stopping()) {
        const Ending ending = endings[size_t(told)];
        if (ending != Running) {
            const int index = told++;
            guard.unlock();
            if (ending == ToTell)
                calls.tell(index);
            guard.lock();
            continue;
        }
        if (calls.waiting) {
            const int endedNow = ended;
            const int startedNow = lastStarted;
            guard.unlock();
            calls.waiting(endedNow, startedNow);
            guard.lock();
        }
        changed.wait_for(guard, std::chrono::milliseconds(100));
    }
    guard.unlock();
    for (std::thread &worker : workers)
        worker.join();

    bool whole = true;
    for (; told < count; ++told) {
        if (endings[size_t(told)] == ToTell)
            calls.tell(told);
        else
            whole = false;
    }
    if (whole)
        return PoolEnd::Whole;
    return outOfDescriptors && !(stop && *stop) ? PoolEnd::OutOfDescriptors : PoolEnd::Interrupted;
}

JobEnd JobEnd::FailedWith(const Refusal &refusal)
{
    JobEnd end;
    end.outOfDescriptors = OutOfDescriptors(refusal);
    return end;
}

bool OutOfDescriptors(const Refusal &refusal)
{
    for (const int error : {EMFILE, ENFILE}) {
        if (refusal.Reason().contains(QString::fromLocal8Bit(std::strerror(error))))
            return true;
    }
#ifdef Q_OS_UNIX
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (probe >= 0) {
        ::close(probe);
        return false;
    }
    return errno == EMFILE || errno == ENFILE;
#else
    return false;
#endif
}
