// SPDX-License-Identifier: GPL-3.0-or-later
// Work spread over threads and handed back in order: each worker takes the next item from one
// shared counter, and the calling thread receives the results one by one in the items' order, so
// what is printed and listed does not depend on which thread was quicker. Workers stay at most a
// few items ahead of the one awaited: the results waiting cost bounded memory however many items
// there are.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace voxtar::exporting {

// Calls work(i) for every i in [0, count) on `workers` threads (at least one) and
// deliver(i, result) on the calling thread for i = 0, 1, ... as the results come in. `work` must
// not throw.
template <typename Result, typename Work, typename Deliver>
void RunInOrder(std::size_t count, unsigned workers, Work&& work, Deliver&& deliver) {
  const std::size_t threads = std::max<std::size_t>(1, workers);
  const std::size_t ahead = 2 * threads;  // results that may wait
  std::vector<std::optional<Result>> waiting(ahead);
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0;       // the next item a worker takes
  std::size_t delivered = 0;  // items handed back so far
  const auto worker = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return next >= count || next < delivered + ahead; });
      if (next >= count) {
        return;
      }
      const std::size_t item = next++;
      lock.unlock();
      Result result = work(item);
      lock.lock();
      waiting[item % ahead] = std::move(result);
      changed.notify_all();
    }
  };
  std::vector<std::jthread> pool;
  for (std::size_t t = 0; t < std::min(threads, count); ++t) {
    pool.emplace_back(worker);
  }
  for (std::size_t item = 0; item < count; ++item) {
    std::optional<Result> result;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return waiting[item % ahead].has_value(); });
      result.swap(waiting[item % ahead]);
      delivered = item + 1;
    }
    changed.notify_all();
    deliver(item, std::move(*result));
  }
}

}  // namespace voxtar::exporting
