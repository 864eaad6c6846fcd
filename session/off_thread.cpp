// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/off_thread.h"

#include <QMetaObject>

namespace voxtar::session {

OffThread::~OffThread() {
  Stop();
}

void OffThread::Start(Work work, std::function<void()> finished) {
  Stop();
  const std::uint64_t job = ++job_;
  running_ = true;
  thread_ = std::jthread([this, job, work = std::move(work),
                          finished = std::move(finished)](const std::stop_token& stop) mutable {
    // Queued on the GUI thread's object; checked there, where job_ lives.
    const Handover handover = [this, job](std::function<void()> step) {
      QMetaObject::invokeMethod(
          &receiver_,
          [this, job, step = std::move(step)] {
            if (job == job_) {
              step();
            }
          },
          Qt::QueuedConnection);
    };
    work(stop, handover);
    handover([this, finished = std::move(finished)] {
      running_ = false;
      if (finished) {
        finished();
      }
    });
  });
}

void OffThread::Cancel() {
  ++job_;
  running_ = false;
  thread_.request_stop();
}

void OffThread::Stop() {
  Cancel();
  if (thread_.joinable()) {
    thread_.join();
  }
}

}  // namespace voxtar::session
