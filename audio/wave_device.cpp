#include "audio/wave_device.h"

#include <QString>

namespace voxtar::audio {

namespace {

// The contract with the engine: each operation stands for one media control command with a fixed
// flag set, sent to deviceId (Open to device 0; Record and Save do not test deviceId first).
// Waiting commands return when done; Play and Record return at once, and only Play asks for a
// completion notice (a PlaybackNotice to notifyWindow).
namespace command {
constexpr std::uint16_t kOpen = 0x0803, kClose = 0x0804, kPlay = 0x0806, kStop = 0x0808,
                        kSet = 0x080D, kRecord = 0x080F, kSave = 0x0813, kStatus = 0x0814;
}  // namespace command
namespace flag {
constexpr std::uint32_t kNotify = 0x1, kWait = 0x2, kFrom = 0x4, kTo = 0x8;
constexpr std::uint32_t kStatusItem = 0x100, kSaveFile = 0x100;
constexpr std::uint32_t kOpenElement = 0x200, kRecordOverwrite = 0x200;
constexpr std::uint32_t kSetTimeFormat = 0x400, kOpenType = 0x2000;
}  // namespace flag

struct CommandRow {
  const char* operation;
  const char* engineCall;
  std::uint16_t command;
  std::uint32_t flags;
};

using namespace flag;
// clang-format off
constexpr CommandRow kCommands[] = {
  {"Open, step 1",      "Open(element) -> id",         command::kOpen,   kOpenType | kOpenElement | kWait},
  {"Open, step 2",      "SetTimeFormatMilliseconds",   command::kSet,    kSetTimeFormat | kWait},
  {"Open, step 3",      "QueryLength -> length",       command::kStatus, kStatusItem | kWait},
  {"Close",             "Close",                       command::kClose,  kWait},
  {"Play",              "Play(from, no end, notify)",  command::kPlay,   kNotify | kFrom},
  {"Play, to != 0",     "Play(from, to, notify)",      command::kPlay,   kNotify | kFrom | kTo},
  {"Record, pre-stop",  "Stop",                        command::kStop,   kWait},
  {"Record",            "Record(from)",                command::kRecord, kRecordOverwrite | kFrom},
  {"Stop",              "Stop",                        command::kStop,   kWait},
  {"Save",              "Save(path)",                  command::kSave,   kSaveFile | kWait},
};
// clang-format on
static_assert(kCommands[0].flags == 0x2202 && kCommands[1].flags == 0x0402 &&
              kCommands[2].flags == 0x0102 && kCommands[3].flags == 0x0002 &&
              kCommands[4].flags == 0x0005 && kCommands[5].flags == 0x000D &&
              kCommands[6].flags == 0x0002 && kCommands[7].flags == 0x0204 &&
              kCommands[8].flags == 0x0002 && kCommands[9].flags == 0x0102);

// An error text as the platform hands it over: at most 255 units of its 256-unit buffer, the
// terminator included, so 254 characters.
constexpr qsizetype kErrorTextMax = 254;

QString Wide(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

WaveDevice::WaveDevice(std::u16string_view path, QObject* notifyWindow, AudioEngine& engine,
                       FailureReporter& reporter)
    : fileName_(path.substr(0, kMaxFileNameLength)),
      notifyWindow_(notifyWindow),
      engine_(engine),
      reporter_(reporter) {
  // The whole path is opened even where the field keeps only its first 259 characters: opening
  // a cut path could open another file.
  DeviceId opened = 0;
  const ErrorCode error = engine_.Open(path, &opened);
  if (error != kNoError) {
    // The one box with swapped roles: the path as message, the cause as caption.
    reporter_.ReportFailure(Wide(path), ErrorText(error));
    return;
  }
  deviceId_ = opened;
  if (const ErrorCode set = engine_.SetTimeFormatMilliseconds(deviceId_); set != kNoError) {
    Report(set, QStringLiteral("Wave Error"));
    return;
  }
  std::uint32_t length = 0;
  if (const ErrorCode status = engine_.QueryLength(deviceId_, &length); status != kNoError) {
    Report(status, QStringLiteral("Wave Error"));
    return;
  }
  length_ = length;
  state_ = WaveState::Stopped;
}

void WaveDevice::Close() {
  if (deviceId_ == 0) {
    return;
  }
  if (const ErrorCode error = engine_.Close(deviceId_); error != kNoError) {
    Report(error, QStringLiteral("Wave Error"));
  }
}

void WaveDevice::Play(std::uint32_t from, std::uint32_t to) {
  if (deviceId_ == 0 || state_ == WaveState::Playing) {
    return;
  }
  if (to > length_) {
    if (from > length_) {
      reporter_.ReportFailure(QStringLiteral("Bad play parameter"), QStringLiteral("play"));
      return;
    }
    to = length_;
  }
  // A failed start is not reported: the operator sees that nothing plays.
  const std::optional<std::uint32_t> end =
      to != 0 ? std::optional<std::uint32_t>(to) : std::nullopt;
  if (engine_.Play(deviceId_, from, end, notifyWindow_) == kNoError) {
    state_ = WaveState::Playing;
  }
}

void WaveDevice::Record(std::uint32_t from, std::uint32_t /*to*/) {
  if (state_ == WaveState::Recording) {
    if (const ErrorCode error = engine_.Stop(deviceId_); error != kNoError) {
      Report(error, QStringLiteral("Error"));
    }
    state_ = WaveState::Stopped;
  }
  if (const ErrorCode error = engine_.Record(deviceId_, from); error != kNoError) {
    Report(error, QStringLiteral("Error"));
    return;
  }
  state_ = WaveState::Recording;
}

void WaveDevice::Stop() {
  if (deviceId_ == 0 || state_ == WaveState::Stopped) {
    return;
  }
  if (const ErrorCode error = engine_.Stop(deviceId_); error != kNoError) {
    Report(error, QStringLiteral("Wave Stop Error"));
    return;
  }
  state_ = WaveState::Stopped;
}

bool WaveDevice::Save(std::u16string_view path) {
  if (const ErrorCode error = engine_.Save(deviceId_, path); error != kNoError) {
    Report(error, QStringLiteral("Error"));
    return false;
  }
  return true;
}

QString WaveDevice::ErrorText(ErrorCode error) const {
  QString text = engine_.ErrorText(error);
  if (text.size() > kErrorTextMax) {
    qsizetype keep = kErrorTextMax;
    if (text.at(keep - 1).isHighSurrogate()) {
      --keep;
    }
    text.truncate(keep);
  }
  return text;
}

void WaveDevice::Report(ErrorCode error, const QString& caption) const {
  reporter_.ReportFailure(ErrorText(error), caption);
}

}  // namespace voxtar::audio
