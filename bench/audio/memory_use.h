// SPDX-License-Identifier: GPL-3.0-or-later
// The process's resident memory as Linux reports it, for the audio benchmarks' figures.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace voxtar::audio {

struct MemoryUse {
  std::uint64_t residentKiB = 0;  // VmRSS: resident now
  std::uint64_t peakKiB = 0;      // VmHWM: the most ever resident
};

// Starts the peak afresh from what is resident now, so it tells about what follows only.
inline void ResetPeakMemory() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

inline MemoryUse ReadMemoryUse() {
  MemoryUse use;
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> use.residentKiB;
    } else if (key == "VmHWM:") {
      status >> use.peakKiB;
    }
    status.ignore(1 << 10, '\n');
  }
  return use;
}

}  // namespace voxtar::audio
