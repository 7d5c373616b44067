// The inspection clock: one snapshot per moment for every handler, moments every period and
// soon after a change of the desktop file, and its watching started and stopped with its
// members.
#include "DesktopFixture.h"

#include "inspection/InspectionClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

using kzb::inspection::InspectionClock;
using namespace std::chrono_literals;

namespace {

// Counts the wake-ups a member gets.
struct Wakes
{
    std::mutex mutex;
    std::condition_variable woken;
    int count = 0;

    std::function<void()> Callback()
    {
        return [this] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                ++count;
            }
            woken.notify_all();
        };
    }
    bool WaitFor(int wanted)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return woken.wait_for(lock, 10s, [&] { return count >= wanted; });
    }
};

class InspectionClockTest : public DesktopFixture
{
protected:
    InspectionClock clock;
};

TEST_F(InspectionClockTest, EveryMemberInspectsTheSameSnapshotOfAMoment)
{
    Wakes wakes;
    auto first = clock.Join(wakes.Callback());
    auto second = clock.Join(wakes.Callback());
    const auto now = std::chrono::steady_clock::now();
    const auto snapshot = clock.Take(*first, now);
    ASSERT_NE(snapshot, nullptr) << "the first look is due at once";
    EXPECT_EQ(clock.Take(*second, now), snapshot) << "the other member gets the same moment";
    EXPECT_EQ(clock.Take(*first, now), nullptr) << "nothing new for the one that has seen it";
    EXPECT_EQ(clock.Moments(), 1u);
    // The next moment comes a period later.
    EXPECT_EQ(clock.NextDue(*first), now + InspectionClock::Period);
    EXPECT_EQ(clock.Take(*first, now + InspectionClock::Period - 1ms), nullptr);
    const auto next = clock.Take(*second, now + InspectionClock::Period);
    ASSERT_NE(next, nullptr);
    EXPECT_NE(next, snapshot);
    EXPECT_EQ(clock.Take(*first, now + InspectionClock::Period), next);
}

TEST_F(InspectionClockTest, AChangeWakesTheMembersOnceAndBringsTheMomentForward)
{
    Wakes wakes;
    auto member = clock.Join(wakes.Callback());
    ASSERT_TRUE(clock.WatchingDesktop());
    const auto taken = std::chrono::steady_clock::now();
    ASSERT_NE(clock.Take(*member, taken), nullptr);

    SetDesktopJson(R"({"windows": [{"title": "Card Payment"}]})");
    ASSERT_TRUE(wakes.WaitFor(1));
    const auto due = clock.NextDue(*member);
    EXPECT_LT(due, taken + InspectionClock::Period) << "sooner than the period";
    EXPECT_GE(due, taken + InspectionClock::Spacing) << "never closer than the spacing to the last moment";
    // More changes before that moment wake nobody again.
    SetDesktopJson(R"({"windows": []})");
    SetDesktopJson(R"({"windows": [{"title": "Card Payment"}]})");
    ASSERT_NE(clock.Take(*member, std::max(due, std::chrono::steady_clock::now())), nullptr);
    SetDesktopJson(R"({"windows": []})");
    ASSERT_TRUE(wakes.WaitFor(2)) << "a change after the moment wakes it again";
}

TEST_F(InspectionClockTest, TheLastMemberToLeaveStopsTheWatchingAtOnce)
{
    Wakes wakes;
    auto member = clock.Join(wakes.Callback());
    ASSERT_TRUE(clock.WatchingDesktop());
    const auto start = std::chrono::steady_clock::now();
    member.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_FALSE(clock.WatchingDesktop());
    SetDesktopJson(R"({"windows": [{"title": "Card Payment"}]})");
    auto again = clock.Join(wakes.Callback());
    EXPECT_TRUE(clock.WatchingDesktop());
}

} // namespace
