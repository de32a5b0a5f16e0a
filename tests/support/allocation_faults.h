#pragma once

#include "platform/allocation_internal.h"
#include "platform/exception.h"

#include <gtest/gtest.h>

/// Arms the allocation hook for one scope: the `n`-th allocation from now fails (1 = the next
/// one). The hook is turned off again however the scope is left, so a step that leaves early
/// never hands an armed failure to the next test.
class ScopedAllocationFailure
{
  public:
    explicit ScopedAllocationFailure(long n)
    {
        genplot::detail::FailAllocationAfter(n);
    }
    ~ScopedAllocationFailure()
    {
        genplot::detail::FailAllocationAfter(0);
    }
    ScopedAllocationFailure(const ScopedAllocationFailure&) = delete;
    ScopedAllocationFailure& operator=(const ScopedAllocationFailure&) = delete;
};

/// Runs `step` with the `n`-th allocation from now failing. The failure must leave the step as
/// a thrown CException* (deleted here); anything else a step throws passes through.
/// @return true when the step failed.
template <class Step> bool FailsAt(long n, Step step)
{
    ScopedAllocationFailure failure(n);
    try
    {
        step();
    }
    catch (CException* exception)
    {
        exception->Delete();
        return true;
    }
    return false;
}

/// How many allocations `step` makes when none fails.
template <class Step> unsigned long AllocationsMadeBy(Step step)
{
    const unsigned long before = genplot::detail::AllocationCount();
    step();
    return genplot::detail::AllocationCount() - before;
}

/// The allocation fault loop: for n = 1, 2, ... makes a fresh state with `setup()` (which
/// returns its owner, e.g. a std::unique_ptr), runs `step(*state)` with the n-th allocation
/// failing, and hands the state to `check(*state, failed)` (a failed check names n); it stops
/// after the first run in which the step completed. Setting up allocates freely: only the
/// step's allocations count.
/// @return the number of runs that failed, so a caller can tell the loop reached every
///         allocation; a step that never completes within `limit` runs fails the test.
template <class Setup, class Step, class Check>
long FailEachAllocation(Setup setup, Step step, Check check, long limit = 100000)
{
    for (long n = 1; n <= limit; ++n)
    {
        SCOPED_TRACE(testing::Message() << "allocation " << n << " fails");
        auto state = setup();
        const bool failed = FailsAt(n, [&] { step(*state); });
        check(*state, failed);
        if (!failed)
            return n - 1;
    }
    ADD_FAILURE() << "the step never completed in " << limit << " runs";
    return -1;
}
