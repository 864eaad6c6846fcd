// SPDX-License-Identifier: GPL-3.0-or-later
// Work off the GUI thread: what a job hands over arrives in order and before its end, a job that
// is stopped or replaced hands nothing more over, and the owner never outlives its work.
#include "session/off_thread.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QTest>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace voxtar::session {
namespace {

// Until `done` or 5 s.
bool Settle(const std::function<bool()>& done) {
  return QTest::qWaitFor(done, 5000);
}

TEST(OffThread, HandsOverInOrderOnTheGuiThreadThenFinishes) {
  OffThread worker;
  std::vector<std::string> got;
  const std::thread::id gui = std::this_thread::get_id();
  worker.Start(
      [&](const std::stop_token&, const OffThread::Handover& handover) {
        EXPECT_NE(std::this_thread::get_id(), gui);
        for (int i = 0; i < 3; ++i) {
          handover([&got, i, gui] {
            EXPECT_EQ(std::this_thread::get_id(), gui);
            got.push_back(std::to_string(i));
          });
        }
      },
      [&] { got.emplace_back("finished"); });
  EXPECT_TRUE(worker.running());
  ASSERT_TRUE(Settle([&] { return !worker.running(); }));
  EXPECT_EQ(got, (std::vector<std::string>{"0", "1", "2", "finished"}));

  // A result, handed to whoever asked for it.
  int answer = 0;
  worker.Run([] { return 42; }, [&](int result) { answer = result; });
  ASSERT_TRUE(Settle([&] { return !worker.running(); }));
  EXPECT_EQ(answer, 42);
}

// Nothing of a job the owner moved on from reaches it: not when it was cancelled, stopped or
// replaced, whether it noticed the stop or not.
TEST(OffThread, AJobMovedOnFromHandsNothingOver) {
  enum class End { Cancel, Stop, Replace };
  for (const End end : {End::Cancel, End::Stop, End::Replace}) {
    SCOPED_TRACE(static_cast<int>(end));
    OffThread worker;
    std::atomic<bool> started{false};
    std::vector<std::string> got;
    worker.Start(
        [&](const std::stop_token& stop, const OffThread::Handover& handover) {
          started = true;
          while (!stop.stop_requested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
          handover([&got] { got.emplace_back("late"); });
        },
        [&] { got.emplace_back("finished"); });
    while (!started) {
      std::this_thread::yield();
    }
    switch (end) {
      case End::Cancel:
        worker.Cancel();
        break;
      case End::Stop:
        worker.Stop();
        break;
      case End::Replace:
        worker.Run([] { return 1; }, [&](int) { got.emplace_back("new"); });
        break;
    }
    ASSERT_TRUE(Settle([&] { return !worker.running(); }));
    QTest::qWait(20);
    EXPECT_EQ(got,
              end == End::Replace ? std::vector<std::string>{"new"} : std::vector<std::string>{});
  }
}

TEST(OffThread, ItsEndWaitsForTheWork) {
  std::atomic<bool> done{false};
  {
    OffThread worker;
    worker.Run(
        [&] {
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          done = true;
          return 0;
        },
        [](int) { ADD_FAILURE() << "handed over after its owner was gone"; });
  }
  EXPECT_TRUE(done);
  QCoreApplication::processEvents();
}

}  // namespace
}  // namespace voxtar::session
