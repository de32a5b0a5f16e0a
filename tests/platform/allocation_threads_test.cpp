// The allocation path under many threads at once: objects built on some threads and freed on
// others, threads that end while their objects live on, and processes forked in the middle.
// Run under ThreadSanitizer by CI, where the pools stay on.

#include "platform/allocation_internal.h"
#include "platform/ob_list.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using genplot::detail::Allocate;
using genplot::detail::Free;

// A point whose coordinates check each other, so a block handed out twice shows.
struct Point : CObject
{
    explicit Point(std::int32_t value) : x(value), y(~value)
    {
    }
    bool Whole() const
    {
        return y == ~x;
    }
    std::int32_t x;
    std::int32_t y;
};

CObList* BuildLine(int points, std::int32_t seed)
{
    auto* line = new CObList(10);
    for (int i = 0; i < points; ++i)
        line->AddTail(new Point(seed + i));
    return line;
}

// Deletes the line's points and the line; false when any point was not what it was made as.
bool CheckAndDelete(CObList* line, std::int32_t seed)
{
    bool whole = true;
    std::int32_t expected = seed;
    while (!line->IsEmpty())
    {
        auto* point = static_cast<Point*>(line->RemoveHead());
        whole = whole && point->Whole() && point->x == expected++;
        delete point;
    }
    delete line;
    return whole;
}

// Waits for a child for at most `limit`; a child that does not end by then is killed.
// Empty when it ended by itself with status 0, else how it ended: a hang and a crash call for
// different searches.
std::string HowChildEnded(pid_t child, std::chrono::seconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0)
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return "still running after " + std::to_string(limit.count()) + " s";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (WIFSIGNALED(status))
        return "killed by signal " + std::to_string(WTERMSIG(status));
    if (WEXITSTATUS(status) != 0)
        return "exit status " + std::to_string(WEXITSTATUS(status));
    return "";
}

// In a child: allocation of a size the forking thread has not used, so it reaches the pages
// shared between threads, then a clean exit. Only async-signal-safe calls after that.
[[noreturn]] void AllocateInChildAndExit()
{
    std::vector<void*> blocks;
    blocks.reserve(4000);
    for (int i = 0; i < 4000; ++i)
        blocks.push_back(Allocate(200));
    for (void* block : blocks)
        Free(block, 200);
    _exit(0);
}

// Threads that end with live blocks of that size, while others take them over and free them:
// the shared lock changes hands all the time.
class LockChurn
{
  public:
    explicit LockChurn(int threads)
    {
        for (int i = 0; i < threads; ++i)
            churners_.emplace_back([this] { Run(); });
    }
    ~LockChurn()
    {
        stop_ = true;
        for (std::thread& churner : churners_)
            churner.join();
    }

  private:
    void Run()
    {
        while (!stop_)
        {
            // A thread that ends with live blocks: its pages go to the shared list ...
            std::vector<void*> left;
            std::thread([&left] {
                for (int i = 0; i < 2000; ++i)
                    left.push_back(Allocate(200));
            }).join();
            // ... and come back here, one page at a time, when they are needed.
            std::vector<void*> own;
            for (int i = 0; i < 2000; ++i)
                own.push_back(Allocate(200));
            for (void* block : left)
                Free(block, 200);
            // Blocks of this thread's full pages freed on another thread: each page's first
            // such free goes through the lock too.
            std::thread([&own] {
                for (void* block : own)
                    Free(block, 200);
            }).join();
        }
    }
    std::atomic<bool> stop_{false};
    std::vector<std::thread> churners_;
};

TEST(AllocationThreadsTest, AForkedChildCanAllocateWhenAnotherThreadHeldThePoolLock)
{
    // Another thread holds the lock the pools share for a moment, and this one forks in that
    // moment: the fork must wait for it, or the child inherits the lock held for ever.
    struct Moment
    {
        std::atomic<bool> held{false};
        std::atomic<bool> forked{false};
    } moment;
    std::thread holder([&moment] {
        genplot::detail::RunWithPoolLockHeld(
            [](void* context) {
                static_cast<Moment*>(context)->held = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            },
            &moment);
        // Alive until the fork is done, so the child sees no thread that ended unjoined.
        while (!moment.forked)
            std::this_thread::yield();
    });
    while (!moment.held)
        std::this_thread::yield();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        AllocateInChildAndExit();
    moment.forked = true;
    EXPECT_EQ(HowChildEnded(child, std::chrono::seconds(10)), "");
    holder.join();
}

TEST(AllocationThreadsTest, ForkedChildrenCanAllocateWhileThreadsHandPagesOn)
{
#if defined(__SANITIZE_ADDRESS__)
    // The pools are off there: the children would test the sanitizer's own allocator, which
    // another thread may hold locked at the fork.
    GTEST_SKIP() << "pools are off under AddressSanitizer";
#endif
    LockChurn churn(3);
    constexpr int kForks = 30;
    std::string failures;
    for (int i = 0; i < kForks; ++i)
    {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            AllocateInChildAndExit();
        std::string ended = HowChildEnded(child, std::chrono::seconds(10));
        if (!ended.empty())
            failures += "child " + std::to_string(i) + " of " + std::to_string(kForks) + ": " +
                        ended + "\n";
    }
    EXPECT_EQ(failures, "");
}

// Lines handed from the threads that build them to the threads that free them.
class Handover
{
  public:
    struct Item
    {
        CObList* line;
        std::int32_t seed;
    };
    void Put(Item item)
    {
        std::lock_guard<std::mutex> guard(lock_);
        items_.push_back(item);
    }
    bool Take(Item& item)
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (items_.empty())
            return false;
        item = items_.front();
        items_.pop_front();
        return true;
    }

  private:
    std::mutex lock_;
    std::deque<Item> items_;
};

TEST(AllocationThreadsTest, ObjectsBuiltAndFreedAcrossThreadsStayWhole)
{
    constexpr int kBuilders = 3;
    constexpr int kFreers = 2;
    constexpr int kRounds = 40;
    constexpr int kPoints = 3000;
    Handover handover;
    std::atomic<int> buildersLeft{kBuilders};
    std::atomic<int> broken{0};
    std::atomic<int> freed{0};

    std::vector<std::thread> threads;
    for (int b = 0; b < kBuilders; ++b)
    {
        threads.emplace_back([&, b] {
            for (int round = 0; round < kRounds; ++round)
            {
                std::int32_t seed = (b * kRounds + round) * kPoints;
                if (round % 8 == 7)
                {
                    // A short-lived thread builds this one and ends while the line lives on.
                    CObList* line = nullptr;
                    std::thread([&] { line = BuildLine(kPoints, seed); }).join();
                    handover.Put({line, seed});
                }
                else
                {
                    handover.Put({BuildLine(kPoints, seed), seed});
                }
                // Some lines are freed where they were made, among the remote frees.
                if (round % 5 == 0)
                {
                    if (!CheckAndDelete(BuildLine(kPoints / 3, -seed), -seed))
                        ++broken;
                }
            }
            --buildersLeft;
        });
    }
    for (int f = 0; f < kFreers; ++f)
    {
        threads.emplace_back([&] {
            for (;;)
            {
                bool finished = buildersLeft == 0;
                Handover::Item item{};
                if (handover.Take(item))
                {
                    if (!CheckAndDelete(item.line, item.seed))
                        ++broken;
                    ++freed;
                }
                else if (finished)
                {
                    return;
                }
                else
                {
                    std::this_thread::yield();
                }
            }
        });
    }

    // A fork in the middle of it all: the child builds and frees on its own. Under
    // AddressSanitizer the pools are off and every block comes from the sanitizer's own
    // allocator, which another thread may hold locked at the fork; the fork would test that
    // allocator, not ours, so it is left out there.
#if !defined(__SANITIZE_ADDRESS__)
    while (freed < kBuilders * kRounds / 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        CObList* line = BuildLine(kPoints, 7);
        _exit(CheckAndDelete(line, 7) ? 0 : 1);
    }
    EXPECT_EQ(HowChildEnded(child, std::chrono::seconds(60)), "");
#endif

    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(broken.load(), 0);
    EXPECT_EQ(freed.load(), kBuilders * kRounds);
}

} // namespace
