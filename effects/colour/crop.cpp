// Crop: cut a rectangle out of a frame (mode 0) or mark it on the frame
// (modes 1 to 4).
//
// The rectangle [x1 y1 x2 y2] is in centred coordinates; its pixel edges are
// rounded halves away from zero. Mode 0 writes an output exactly the size
// KVE_GetCropSizeBySize reports (the prepare step converts the corners through
// the same 32-bit float path), zero wherever the rectangle leaves the input.
// The marking modes keep the input size:
//   1  black outline            2  inverted outline
//   3  keep the inside only     4  dim the outside by the level
#include <algorithm>
#include <array>
#include <cstring>

#include "effects/colour/placement.h"
#include "engine/drivers.h"
#include "engine/monitor.h"
#include "engine/scanner.h"
#include "engine/scratch.h"
#include "interface/frames.h"

namespace kve {

namespace {

// Working storage of the marking modes, filled on their first row.
struct CropMarks {
    int32_t left, top, right, bottom;  // clamped edges, inclusive
    std::array<int32_t, 256> dim;      // mode 4: byte v becomes dim[v]
};

CropMarks *MarkLayout(ScratchPlan &plan) {
    return plan.Take<CropMarks>(1);
}

int32_t Rnd(double v) {
    return RoundHalfAway(v);
}

Pixel DimPixel(Pixel p, const std::array<int32_t, 256> &dim) {
    return static_cast<Pixel>(dim[p & 0xFF]) | static_cast<Pixel>(dim[p >> 8 & 0xFF]) << 8 |
           static_cast<Pixel>(dim[p >> 16 & 0xFF]) << 16 | static_cast<Pixel>(dim[p >> 24]) << 24;
}

void BuildMarks(CropMarks &m, const ArgBlock &in, const ArgBlock &out) {
    const double *pt = in.points.data();
    const int32_t w = out.imageWidth[0], h = out.imageHeight[0];
    m.left = std::max(0, Rnd(std::min(pt[0], pt[2])));
    m.top = std::max(0, Rnd(std::min(pt[1], pt[3])));
    m.right = std::min(w, Rnd(std::max(pt[0], pt[2])));
    m.bottom = std::min(h, Rnd(std::max(pt[1], pt[3])));
    const double level = in.reals[0];
    for (int32_t v = 0; v < 256; ++v)
        m.dim[v] = std::clamp(TruncToInt(level * v), 0, 255);
}

}  // namespace

size_t CropScratch(const ArgBlock &, const ArgBlock &) {
    ScratchPlan plan;
    MarkLayout(plan);
    return plan.Bytes();
}

unsigned CropPrepare(const ImageList &, const CoordTexts &coords, ArgBlock &in, const OutputList &,
                     EffectJob &job) {
    // The marking modes: the engine converts the corners and keeps the input size.
    if (in.ints[0] != 0) return static_cast<unsigned>(-1);
    // Cutting: the corners go through the host's crop-size calculation, so a
    // host that allocates the output with KVE_GetCropSizeBySize gets exactly
    // the frame written here.
    const CropCorners c =
        CropPixelCorners(NarrowToFloat(RealValue(coords[0])), NarrowToFloat(RealValue(coords[1])),
                         NarrowToFloat(RealValue(coords[2])), NarrowToFloat(RealValue(coords[3])),
                         job.width, job.height);
    in.points[0] = c.x1;
    in.points[1] = c.y1;
    in.points[2] = c.x2;
    in.points[3] = c.y2;
    const FrameSize size = CropSize(c);
    job.outWidth = size.width;
    job.outHeight = size.height;
    // Output size from the job, corners already converted.
    return static_cast<unsigned>(-4);
}

void CropDriver(LineOp lineOp, const ImageList &images, ArgBlock &in, const OutputList &outputs,
                ArgBlock &out) {
    if (in.ints[0] != 0) {
        SimpleLineDriver(CropMarkLineOp, images, in, outputs, out);
        return;
    }
    const int32_t rows = out.imageHeight[0];
    const int64_t top = Rnd(std::min(in.points[1], in.points[3]));
    std::array<const Pixel *, kMaxImages> inLines{};
    std::array<Pixel *, kMaxImages> outLines{};
    for (int32_t i = 0; i < rows; ++i) {
        const int64_t s = i + top;
        inLines[0] = s >= 0 && s < in.imageHeight[0]
                         ? RowPtr(images[0], static_cast<int32_t>(s), in.imageWidth[0])
                         : nullptr;
        outLines[0] = RowPtr(outputs[0], i, out.imageWidth[0]);
        lineOp(0, 0, i, 1, inLines.data(), outLines.data(), in, out);
        if (!ReportRow(in, rows, i)) return;
    }
}

// One output row of the cut: input columns left.. where they exist, 0 elsewhere.
KVE_LINE_OP(CropCutLineOp) {
    Pixel *dst = outLines[0];
    const Pixel *src = inLines[0];
    const int64_t outW = out.imageWidth[0], inW = in.imageWidth[0];
    const int64_t left = Rnd(std::min(in.points[0], in.points[2]));
    const int64_t right = Rnd(std::max(in.points[0], in.points[2]));
    if (!src || left >= inW || right < 0) {
        std::fill(dst, dst + outW, Pixel{0});
        return;
    }
    const int64_t begin = std::clamp<int64_t>(-left, 0, outW);
    const int64_t end = std::clamp<int64_t>(inW - left, begin, outW);
    std::fill(dst, dst + begin, Pixel{0});
    std::memmove(dst + begin, src + left + begin, static_cast<size_t>(end - begin) * sizeof(Pixel));
    std::fill(dst + end, dst + outW, Pixel{0});
}

// One row of a marking mode. Every column is computed from the input row, so
// an output that is the input frame itself gives the same result.
KVE_LINE_OP(CropMarkLineOp) {
    ScratchPlan plan(JobScratch(in));
    CropMarks &m = *MarkLayout(plan);
    if (first) BuildMarks(m, in, out);
    const Pixel *src = inLines[0];
    Pixel *dst = outLines[0];
    const int32_t w = out.imageWidth[0];
    const int32_t mode = in.ints[0];
    const bool edgeRow = y == m.top || y == m.bottom;
    const bool innerRow = y > m.top && y < m.bottom;
    // Interior columns left+1 .. right-1, clipped to the row.
    const int32_t innerBegin = std::clamp(m.left + 1, 0, w);
    const int32_t innerEnd = std::clamp(m.right, innerBegin, w);
    auto inRow = [w](int32_t c) { return c >= 0 && c < w; };

    switch (mode) {
        case 1:  // black outline, corners included
        case 2:  // inverted outline; the edge rows stop before the right column
        {
            std::memmove(dst, src, static_cast<size_t>(w) * sizeof(Pixel));
            auto mark = [&](int32_t c) { dst[c] = mode == 1 ? 0 : ~src[c]; };
            if (edgeRow) {
                const int32_t last = mode == 1 ? m.right : m.right - 1;
                for (int32_t c = std::max(m.left, 0); c <= std::min(last, w - 1); ++c)
                    mark(c);
            } else if (innerRow) {
                if (inRow(m.left)) mark(m.left);
                // A one-column rectangle inverts that column once, not twice.
                if (inRow(m.right) && m.right != m.left) mark(m.right);
            }
            break;
        }
        case 3:  // keep the inside; the outline itself is cleared
            if (innerRow) {
                std::fill(dst, dst + innerBegin, Pixel{0});
                std::memmove(dst + innerBegin, src + innerBegin,
                             static_cast<size_t>(innerEnd - innerBegin) * sizeof(Pixel));
                std::fill(dst + innerEnd, dst + w, Pixel{0});
            } else {
                std::fill(dst, dst + w, Pixel{0});
            }
            break;
        case 4:  // dim everything but the inside, all four bytes alike
            for (int32_t c = 0; c < w; ++c)
                dst[c] =
                    innerRow && c >= innerBegin && c < innerEnd ? src[c] : DimPixel(src[c], m.dim);
            break;
        default:  // an unknown mode leaves the row as it was
            break;
    }
}

}  // namespace kve
