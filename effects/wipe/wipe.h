// The Wipe transition and its pattern generators.
#pragma once

#include <cstdint>
#include <span>

#include "engine/job.h"

namespace kve {

// Every wipe number the library draws, ascending (for listings and galleries).
std::span<const int32_t> WipeNumbers();

}  // namespace kve
