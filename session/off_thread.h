// Work that would stall the window for long (writing a ten-minute take, measuring it) runs on a
// worker thread while the GUI thread goes on painting and delivering notices. The caller waits
// for the result as it waits for a box: the dialog holds further commands off meanwhile.
#pragma once

#include <QEventLoop>
#include <QMetaObject>
#include <exception>
#include <optional>
#include <thread>
#include <utility>

namespace voxtar {

template <typename Work>
auto WhileRepainting(Work&& work) -> decltype(work()) {
  std::optional<decltype(work())> result;
  std::exception_ptr failure;
  QEventLoop loop;
  std::thread worker([&] {
    try {
      result.emplace(work());
    } catch (...) {
      failure = std::current_exception();
    }
    // Queued: a quit sent before exec() starts is still taken when it does.
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  if (failure) {
    std::rethrow_exception(failure);
  }
  return std::move(*result);
}

}  // namespace voxtar
