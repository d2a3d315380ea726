#include <vector>

#include "effects/wipe/patterns.h"
#include "effects/wipe/wipe.h"

namespace kve {

// The edge patterns' numbers, ascending (the pattern table is kept in order).
std::span<const int32_t> WipeNumbers() {
    static const std::vector<int32_t> numbers = [] {
        std::vector<int32_t> list;
        for (const WipePattern &pattern : WipePatterns())
            list.push_back(pattern.number);
        return list;
    }();
    return numbers;
}

}  // namespace kve
