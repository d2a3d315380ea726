// Carving an effect's typed per-call storage out of the job's scratch block.
//
// An effect describes its storage once, in a layout function that takes a
// ScratchPlan; the same function both measures the block (before the driver
// runs, with no memory behind the plan) and finds the arrays in it (on the
// line op's rows), so the two can never disagree.
#pragma once

#include <cstddef>
#include <type_traits>

#include "engine/job.h"

namespace kve {

class ScratchPlan {
  public:
    // A plan with no memory only measures.
    explicit ScratchPlan(std::byte *base = nullptr) : base_(base) {}

    template <class T>
    T *Take(size_t count) {
        static_assert(std::is_trivially_copyable_v<T>, "scratch holds plain records only");
        constexpr size_t align = alignof(T) < 16 ? 16 : alignof(T);
        used_ = (used_ + align - 1) / align * align;
        T *where = base_ ? reinterpret_cast<T *>(base_ + used_) : nullptr;
        used_ += count * sizeof(T);
        return where;
    }

    size_t Bytes() const { return used_; }

  private:
    std::byte *base_;
    size_t used_ = 0;
};

// The job's scratch block, for a line op or driver.
inline std::byte *JobScratch(const ArgBlock &in) {
    return in.job->scratch;
}

}  // namespace kve
