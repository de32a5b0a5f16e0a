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

// Watches the queue file's folder for appends, new files and renames (the folder, so a queue
// file made or replaced later is seen too); -1 when inotify is not to be had, in which case the
// spooler looks at the queue at intervals instead.
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

// Takes in the pending events of `watch`; true when one of them concerns the file `name`
// (the journal in the same folder changes with every step and must not wake the spooler).
bool QueueChanged(int watch, const std::string& name)
{
    bool changed = false;
    alignas(inotify_event) char events[4096];
    for (;;)
    {
        const ssize_t got = read(watch, events, sizeof events);
        if (got <= 0)
            return changed;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;)
        {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if ((event->mask & IN_Q_OVERFLOW) != 0 || (event->len > 0 && name == event->name))
                changed = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

// Waits up to `ms` for a stop and, when `wake`, for the queue file `name` to change; true when
// it woke for a change. Without `wake` changes are taken in and the pause runs its course, so
// a busy queue cannot hammer a failing destination.
bool WaitForChange(int watch, const std::string& name, int ms, bool wake,
                   const volatile std::sig_atomic_t* stop)
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
        if (poll(&entry, 1, slice) > 0 && QueueChanged(watch, name) && wake)
            return true;
    }
}

} // namespace

bool Spooler::Follow(const volatile std::sig_atomic_t* stop, std::string& error)
{
    const int watch = WatchQueue(options_.queueFile);
    const std::size_t slash = options_.queueFile.find_last_of('/');
    const std::string name =
        slash == std::string::npos ? options_.queueFile : options_.queueFile.substr(slash + 1);
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
        WaitForChange(watch, name, waitMs, outcome != PassOutcome::DestinationFailed, stop);
    }
    if (watch >= 0)
        close(watch);
    return ok;
}

} // namespace genplot::spool
