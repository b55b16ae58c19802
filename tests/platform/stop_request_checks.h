#pragma once
// What both sides' stop request must do without the system's help: one owner
// at a time, each starting with no request, and a request from any thread
// that wakes a waiter within its deadline. `raise` asks as the system does
// (a signal or a console event); null where that cannot be tested.

#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/stop_request.h"

namespace vorpane {

inline void ExpectStopRequestsSeen(const std::function<void()>& raise) {
    using namespace std::chrono_literals;
    for (int round = 0; round < 2; ++round) {
        StopRequest::Installed installed = StopRequest::Install();
        ASSERT_TRUE(installed.stop) << installed.error;
        StopRequest& stop = *installed.stop;
        EXPECT_FALSE(StopRequest::Install().stop) << "one owner at a time";
        EXPECT_FALSE(stop.Requested()) << "round " << round << " starts afresh";
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(stop.Wait(50ms));
        EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
        std::thread asker(round == 0 || !raise ? std::function<void()>([&] { stop.Request(); })
                                               : raise);
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_TRUE(stop.Wait(10s));
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s) << "woken, not timed out";
        asker.join();
        EXPECT_TRUE(stop.Requested() && stop.Flag().load());
        EXPECT_TRUE(stop.Wait(0ms)) << "a request stays";
    }
}

}  // namespace vorpane
