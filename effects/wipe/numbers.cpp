#include <algorithm>
#include <vector>

#include "effects/wipe/blocks.h"
#include "effects/wipe/circles.h"
#include "effects/wipe/patterns.h"
#include "effects/wipe/wipe.h"

namespace kve {

// Every number of the three generators, ascending.
std::span<const int32_t> WipeNumbers() {
    static const std::vector<int32_t> numbers = [] {
        std::vector<int32_t> list;
        for (const WipePattern &pattern : WipePatterns())
            list.push_back(pattern.number);
        for (int32_t number : CircleWipeNumbers())
            list.push_back(number);
        for (int32_t number : BlockWipeNumbers())
            list.push_back(number);
        std::sort(list.begin(), list.end());
        return list;
    }();
    return numbers;
}

}  // namespace kve
