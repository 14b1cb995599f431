#include "platform/Win32Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace platform;

TEST(Win32Event, AutoResetWakesOnceAndCoalescesSignals)
{
    Event ev(false, true);
    ASSERT_TRUE(ev.IsValid());
    // Initially signalled: the first wait passes and clears it.
    EXPECT_EQ(ev.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(ev.Wait(0), WAIT_TIMEOUT);
    // Three signals before a wait are one wake-up.
    ev.Set();
    ev.Set();
    ev.Set();
    EXPECT_EQ(ev.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(ev.Wait(20), WAIT_TIMEOUT);
}

TEST(Win32Event, ManualResetStaysSignalledUntilReset)
{
    Event ev(true, false);
    EXPECT_EQ(ev.Wait(0), WAIT_TIMEOUT);
    ev.Set();
    EXPECT_EQ(ev.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(ev.Wait(0), WAIT_OBJECT_0);
    ev.Reset();
    EXPECT_EQ(ev.Wait(0), WAIT_TIMEOUT);
}

TEST(Win32Event, WaitForMultipleReportsLowestSignalledIndex)
{
    Event exitEv(true, false);
    Event writeEv(false, true);
    HANDLE both[2] = {exitEv.Get(), writeEv.Get()};
    EXPECT_EQ(WaitForMultipleObjects(2, both, 0, INFINITE), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, 0, 10), WAIT_TIMEOUT);
    writeEv.Set();
    exitEv.Set();
    // Exit comes first in the list and wins; the write signal is left intact.
    EXPECT_EQ(WaitForMultipleObjects(2, both, 0, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(writeEv.Wait(0), WAIT_OBJECT_0);
}

TEST(Win32Event, InvalidHandlesAndWaitAllFail)
{
    EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, 0), WAIT_FAILED);
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_FALSE(SetEvent(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(SetEvent(nullptr));
    Event ev(true, true);
    HANDLE one[1] = {ev.Get()};
    EXPECT_EQ(WaitForMultipleObjects(1, one, 1, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(0, one, 0, 0), WAIT_FAILED);
}

TEST(Win32Event, AutoResetReleasesExactlyOneOfManyWaiters)
{
    Event ev(false, false);
    std::atomic<int> woke{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (ev.Wait(300) == WAIT_OBJECT_0)
                ++woke;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ev.Set();
    for (std::thread &t : waiters)
        t.join();
    EXPECT_EQ(woke.load(), 1);
}

TEST(Win32Event, WaitWakesWhenAnotherThreadSets)
{
    Event ev(false, false);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ev.Set();
    });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(ev.Wait(INFINITE), WAIT_OBJECT_0);
    setter.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}
