// SPDX-License-Identifier: GPL-3.0-or-later
// What an operation came to: done, or a code and the sentence the operator reads. No Qt.
#pragma once

#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace voxtar::platform {

class Outcome {
 public:
  // Done.
  Outcome() = default;
  // Failed: `code` is the system's cause when there is one (empty otherwise), `message` the whole
  // sentence in UTF-8.
  Outcome(std::error_code code, std::string message)
      : code_(code), message_(std::move(message)), failed_(true) {}

  // Failed with errno value `error` (0: no system cause, `fallback` said instead):
  // "SENTENCE: PATH (CAUSE)".
  static Outcome OfFile(std::string_view sentence, std::string_view path, int error,
                        std::string_view fallback = {});

  bool ok() const { return !failed_; }
  const std::error_code& code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  std::error_code code_;
  std::string message_;
  bool failed_ = false;
};

// The system's words for errno value `error`, in UTF-8; thread-safe, unlike strerror.
std::string SystemText(int error);

// "SENTENCE: PATH (CAUSE)", without the parenthesis when there is no cause.
std::string FileText(std::string_view sentence, std::string_view path, std::string_view cause);

}  // namespace voxtar::platform
