// The EWA sampler: a Gaussian footprint per output pixel, shaped by the
// mapping's Jacobian there (elliptical weighted averaging). Footprints that
// would be too narrow or too wide have their conic's eigenvalues moved to
// the limits Lmin and Lmax (semi-axes between sqrt(2) / R and Rmax / R
// source pixels); where the mapping barely scales (every Jacobian entry
// within 1.5) the pixel is sampled bilinearly instead.
#include <algorithm>
#include <cmath>

#include "effects/warp/sample_access.h"

namespace kve {

namespace {

struct Conic {
    double A, b, C;  // Q(dx, dy) = A dx^2 + 2 b dx dy + C dy^2
};

// The footprint of one output pixel, its eigenvalues moved into [Lmin, Lmax].
Conic EwaConic(const Jacobian &J, const SamplerMemory &m) {
    const double Lmin = m.Lmin, Lmax = m.Lmax;
    Conic q;
    const double det = J.xu * J.yv - J.xv * J.yu;
    if (std::fabs(det) < 0.03) {
        q = {Lmax, 0, Lmax};
    } else {
        const double d2 = det * det;
        q = {(J.yu * J.yu + J.yv * J.yv) / d2, -(J.xu * J.yu + J.xv * J.yv) / d2,
             (J.xu * J.xu + J.xv * J.xv) / d2};
    }
    const double P = q.A * q.C - q.b * q.b;
    const double T = q.A + q.C;
    if (T / 2 <= Lmin) q = {Lmin, 0, Lmin};
    if (std::fabs(q.b) <= 1e-6) {
        auto clamp = [&](double v) { return v > Lmax ? Lmax : (v < Lmin ? Lmin : v); };
        return {clamp(q.A), 0, clamp(q.C)};
    }
    const double E = Lmax + 0.01;
    if (T <= E || (T / 2 <= E && (T - E) * E <= P)) return q;
    const double D = std::sqrt((q.A - q.C) * (q.A - q.C) + 4 * q.b * q.b);
    const double L1 = (T + D) / 2;
    const double G = (T - Lmax) * Lmax - P;
    if ((L1 > Lmax && G < 0) || (L1 < Lmax && G > 0)) return {Lmax, 0, Lmax};
    const double L2 = 1.01 * D >= T ? P / L1 : (T - D) / 2;
    const double cos2 = (1 + (q.A - q.C) / D) / 2, sin2 = (1 - (q.A - q.C) / D) / 2;
    const double sincos = q.b / D;
    // Move L1 to Lmax: k = -(L1 - Lmax), as G / (L2 - Lmax) unless that is 0 / 0.
    const double k = L2 - Lmax != 0 ? G / (L2 - Lmax) : Lmax - L1;
    q.A += k * cos2;
    q.b += k * sincos;
    q.C += k * sin2;
    if (L2 < Lmin) {
        const double lift = Lmin - L2;
        q.A += lift * sin2;
        q.b -= lift * sincos;
        q.C += lift * cos2;
    }
    return q;
}

// Gaussian-weighted sum over the footprint around (x, y), scanned row by row
// from the centre row down, then up.
class EwaScan {
  public:
    EwaScan(WarpSource &src, const double *table, const Conic &q, double x, double y)
        : src_(src), table_(table), q_(q), x_(x), y_(y) {
        const double P = q.A * q.C - q.b * q.b;
        // Rows further than this from y hold no tap of the footprint; a
        // safety bound should rounding keep the scan's own end from coming.
        rowReach_ = std::sqrt(q.A / P) + 1;
        centreRow_ = RoundToIndex(y);
    }

    Pixel Run() {
        double atCentre = 0;
        for (int64_t k = 0; static_cast<double>(k) <= rowReach_; ++k)
            if (!ScanRow(k, k > 0, atCentre)) break;
        if (weightSum_ == 0) AddCentrePixel();
        for (int64_t k = -1; static_cast<double>(-k) <= rowReach_; --k)
            if (!ScanRow(k, k < -1, atCentre)) break;
        if (weightSum_ == 0) return 0;
        auto channel = [&](double sum) {
            return static_cast<int32_t>(std::clamp(sum / weightSum_, 0.0, 255.0));
        };
        return PackPixel(channel(sums_.a), channel(sums_.r), channel(sums_.g), channel(sums_.b));
    }

  private:
    double Q(int64_t column, int64_t row) const {
        const double dx = static_cast<double>(column) - x_, dy = static_cast<double>(row) - y_;
        return q_.A * dx * dx + 2 * q_.b * dx * dy + q_.C * dy * dy;
    }
    static bool Inside(double q) { return q >= 0 && q <= 1; }

    void AddTap(const Pixel *line, int64_t column, double q) {
        Pixel p;
        if (!line || !src_.At(line, column, p)) return;
        const double w = Weight(table_, q);
        sums_.Add(w, p);
        weightSum_ += w;
    }

    // Row k from the centre row; false when the scan in this direction ends.
    bool ScanRow(int64_t k, bool mayEnd, double &atCentre) {
        const int64_t row = centreRow_ + k;
        const int64_t centre = RoundToIndex(x_ - static_cast<double>(k) * q_.b / q_.A);
        const double qc = Q(centre, row);
        if (mayEnd && !Inside(qc) && weightSum_ == atCentre) return false;
        atCentre = weightSum_;
        const Pixel *line = src_.Row(row);
        if (!line) return true;  // outside the frame, tiling off: nothing to add
        if (Inside(qc)) AddTap(line, centre, qc);
        for (int64_t c = centre + 1;; ++c) {
            const double qq = Q(c, row);
            if (!Inside(qq)) break;
            AddTap(line, c, qq);
        }
        for (int64_t c = centre - 1;; --c) {
            const double qq = Q(c, row);
            if (!Inside(qq)) break;
            AddTap(line, c, qq);
        }
        return true;
    }

    void AddCentrePixel() {
        const Pixel *line = src_.Row(centreRow_);
        Pixel p;
        if (!line || !src_.At(line, RoundToIndex(x_), p)) return;
        sums_.Add(1, p);
        weightSum_ += 1;
    }

    WarpSource &src_;
    const double *table_;
    Conic q_;
    double x_, y_;
    double rowReach_;
    int64_t centreRow_;
    ChannelSums sums_;
    double weightSum_ = 0;
};

// Conics that cannot be scanned (not finite, not positive definite, or with
// footprints beyond any frame) become the largest circle.
Conic ScannableConic(Conic q, const SamplerMemory &m) {
    const double P = q.A * q.C - q.b * q.b;
    const bool ok = std::isfinite(q.A) && std::isfinite(q.b) && std::isfinite(q.C) && q.A > 0 &&
                    q.C > 0 && P > 0 && q.A / P < 1e18 && q.C / P < 1e18 &&
                    std::fabs(q.b) < 1e9 * q.A;
    return ok ? q : Conic{m.Lmax, 0, m.Lmax};
}

Pixel Ewa(WarpSource &src, const double *table, const SamplerMemory &m, const Jacobian &J, double x,
          double y) {
    const int32_t w = src.cache.width, h = src.cache.height;
    if (src.tiling) {
        x = NearFrame(x, w);
        y = NearFrame(y, h);
    } else if (std::floor(x - 1) >= w || std::ceil(x + 1) < 0 || std::floor(y - 1) >= h ||
               std::ceil(y + 1) < 0) {
        return 0;
    }
    if (J.Small()) return Bilinear(src, x, y);
    const Conic q = ScannableConic(EwaConic(J, m), m);
    return EwaScan(src, table, q, x, y).Run();
}

}  // namespace

// A footprint per pixel from the mapping's Jacobian there.
void SampleEwa(WarpStorage &st, int first, int32_t y, Pixel *out) {
    WarpState &s = *st.state;
    SamplerMemory &m = *st.memory;
    if (first) {
        BuildWeightTable(st.weights);
        SetRadii(m, s);
    }
    const int n = s.dstWidth;
    Vec2 *pts = st.points;
    const Vec2 *xs = pts + n, *ys = pts + 2 * static_cast<size_t>(n);
    FillRowPoints(pts, y, n);
    s.map(s, pts, pts, n, true);
    WarpSource src{*(*st.caches)[0], s.tiling};
    for (int i = 0; i < n; ++i) {
        const double x = pts[i].x, yy = pts[i].y;
        if (!std::isfinite(x) || !std::isfinite(yy))
            out[i] = 0;
        else
            out[i] = Ewa(src, st.weights, m, {xs[i].x, xs[i].y, ys[i].x, ys[i].y}, x, yy);
    }
}

}  // namespace kve
