// SPDX-License-Identifier: GPL-3.0-or-later
// Memory in large blocks for data that lives and dies together (a loaded lesson's prompts). No Qt.
#pragma once

#include <memory_resource>

namespace voxtar::platform {

// Hands out whole blocks mapped from the system, rounded up to 2 MiB and advised for huge pages
// where the system offers them: a lesson of 100,000 prompts then takes a handful of page faults
// instead of thousands. Meant as the upstream of a std::pmr::monotonic_buffer_resource, which
// asks for few, large blocks. Thread-safe (it holds no state).
std::pmr::memory_resource* LargeBlocks();

}  // namespace voxtar::platform
