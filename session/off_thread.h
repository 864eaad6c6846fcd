// SPDX-License-Identifier: GPL-3.0-or-later
// Work that would stall the window for long (writing a ten-minute take, measuring a lesson's
// takes, reading a take's waveform) runs on a worker thread, and what it comes to is handed back
// to the GUI thread as a queued call, in order. The GUI thread never waits for it and runs no
// event loop of its own meanwhile: whoever started the work goes on when its result comes.
//
// One job at a time: a new one stops the job before it. What a stopped job had not handed over
// yet is dropped, so an answer never reaches a caller who has moved on.
//
// Ownership: a member of the object whose work it runs, which outlives every handover. Threads:
// made, started, stopped and destroyed on the GUI thread; the work runs on its own thread.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <utility>

namespace voxtar::session {

class OffThread {
 public:
  // What a job hands to the GUI thread: `step` runs there, unless the job was stopped by then.
  using Handover = std::function<void(std::function<void()> step)>;
  // The work, on its own thread: it checks `stop` where it can end early and hands over what the
  // GUI thread is to get. It must not throw.
  using Work = std::function<void(const std::stop_token& stop, const Handover& handover)>;

  OffThread() = default;
  // Stops the job and waits for it: nothing it does outlives its owner.
  ~OffThread();
  OffThread(const OffThread&) = delete;
  OffThread& operator=(const OffThread&) = delete;

  // Runs `work` on a worker thread, after stopping the job before it (see Stop). Once the work
  // has returned and everything it handed over has run, `finished` runs on the GUI thread.
  void Start(Work work, std::function<void()> finished = {});

  // Runs `work()` on a worker thread and hands its result to `done(result)` on the GUI thread.
  // Both are copied; `work` must not throw.
  template <typename Work, typename Done>
  void Run(Work work, Done done) {
    using Result = std::invoke_result_t<Work&>;
    auto result = std::make_shared<std::optional<Result>>();
    Start([work = std::move(work), result](const std::stop_token&,
                                           const Handover&) mutable { result->emplace(work()); },
          [done = std::move(done), result]() mutable { done(std::move(**result)); });
  }

  // Asks the job to stop and drops what it has not handed over; a later Start or the destructor
  // waits for its thread. Returns at once.
  void Cancel();
  // As Cancel, and waits until the work has returned.
  void Stop();
  // A job was started and its `finished` has not run yet (nor was it stopped).
  bool running() const { return running_; }

 private:
  // Where the handovers are queued: an object of the GUI thread. The destructor joins the thread
  // before any member goes, and what is still queued goes with this object.
  QObject receiver_;
  std::jthread thread_;
  std::uint64_t job_ = 0;
  bool running_ = false;
};

}  // namespace voxtar::session
