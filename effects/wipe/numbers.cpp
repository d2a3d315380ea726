#include "effects/wipe/wipe.h"

namespace kve {

std::span<const int32_t> WipeNumbers() {
    return {};
}

}  // namespace kve
