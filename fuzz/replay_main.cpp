// SPDX-License-Identifier: GPL-3.0-or-later
// A fuzz target's check without libFuzzer, for the ordinary test builds: replays every input
// file named on the command line. A failed check aborts, as under libFuzzer; an input that never
// finishes is stopped by the test's timeout.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s INPUT...\n", argv[0]);
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    // Named before it runs, so a hang or a crash shows which input it was.
    std::printf("replaying %s\n", argv[i]);
    std::fflush(stdout);
    const std::string bytes = voxtar::fuzz::ReadFile(argv[i]);
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%d inputs replayed\n", argc - 1);
  return 0;
}
