// SPDX-License-Identifier: GPL-3.0-or-later
#include "export/ordered_work.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace voxtar::exporting {
namespace {

// Every seventh item is slow, so that the others would run far ahead if nothing held them.
TEST(RunInOrder, DeliversEveryResultInOrderWithFewWaiting) {
  struct Case {
    std::size_t count;
    unsigned workers;
  };
  for (const Case c : {Case{0, 2}, Case{1, 0}, Case{60, 1}, Case{60, 2}, Case{60, 4}}) {
    SCOPED_TRACE(std::to_string(c.count) + " items on " + std::to_string(c.workers));
    std::atomic<int> started{0};
    std::atomic<int> delivered{0};
    std::atomic<int> mostAhead{0};
    std::vector<std::size_t> order;
    RunInOrder<std::size_t>(
        c.count, c.workers,
        [&](std::size_t item) {
          const int ahead = ++started - delivered.load();
          int most = mostAhead.load();
          while (ahead > most && !mostAhead.compare_exchange_weak(most, ahead)) {
          }
          if (item % 7 == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
          return item * item;
        },
        [&](std::size_t item, std::size_t result) {
          EXPECT_EQ(result, item * item);
          order.push_back(item);
          ++delivered;
        });
    ASSERT_EQ(order.size(), c.count);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    // Taken but not yet handed back: at most twice the workers, and the one being handed back.
    EXPECT_LE(mostAhead.load(), 2 * static_cast<int>(std::max(c.workers, 1u)) + 1);
  }
}

}  // namespace
}  // namespace voxtar::exporting
