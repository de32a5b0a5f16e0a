#include "spool/spool_files.h"
#include "spool/spooler.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace genplot::spool
{
namespace
{

// Pauses after a failed hand-over: doubled each time, up to the longest.
constexpr int kFirstRetryMs = 1000;
constexpr int kLongestRetryMs = 30000;
// Without word from the file system (no inotify), the queue is looked at this often; while
// jobs are out, the destination is asked about them this often.
constexpr int kIdleCheckMs = 2000;
// A stop is noticed within this time even when no signal interrupts the wait.
constexpr int kSliceMs = 250;

// Watches the queue file's folder for appends, new files and renames; -1 when inotify is not
// to be had, in which case the spooler looks at the queue at intervals instead.
int WatchQueue(const std::string& queueFile)
{
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return -1;
    if (inotify_add_watch(fd, ParentDirectory(queueFile).c_str(),
                          IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO) < 0)
    {
        close(fd);
        return -1;
    }
    return fd;
}

// Waits up to `ms` for a stop and, when `wake`, for the queue to change; true when it woke
// for a change. Without `wake` changes are taken in and the pause runs its course, so a busy
// queue cannot hammer a failing destination.
bool WaitForChange(int watch, int ms, bool wake, const volatile std::sig_atomic_t* stop)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;)
    {
        if (*stop != 0)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              until - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return false;
        const int slice = static_cast<int>(std::min<long long>(left, kSliceMs));
        if (watch < 0)
        {
            poll(nullptr, 0, slice);
            continue;
        }
        pollfd entry{watch, POLLIN, 0};
        if (poll(&entry, 1, slice) > 0)
        {
            char events[4096];
            while (read(watch, events, sizeof events) > 0)
            {
            }
            if (wake)
                return true;
        }
    }
}

} // namespace

bool Spooler::Follow(const volatile std::sig_atomic_t* stop, std::string& error)
{
    const int watch = WatchQueue(options_.queueFile);
    int retryMs = kFirstRetryMs;
    bool ok = true;
    while (*stop == 0)
    {
        const PassOutcome outcome = RunPass(stop);
        if (outcome == PassOutcome::Failed)
        {
            error = problem_;
            ok = false;
            break;
        }
        if (outcome == PassOutcome::Stopped)
            break;
        int waitMs = kIdleCheckMs;
        if (outcome == PassOutcome::DestinationFailed)
        {
            Report("waiting " + std::to_string(retryMs / 1000) + " s: " + problem_);
            waitMs = retryMs;
            retryMs = std::min(retryMs * 2, kLongestRetryMs);
        }
        else
        {
            retryMs = kFirstRetryMs;
        }
        WaitForChange(watch, waitMs, outcome != PassOutcome::DestinationFailed, stop);
    }
    if (watch >= 0)
        close(watch);
    return ok;
}

} // namespace genplot::spool
