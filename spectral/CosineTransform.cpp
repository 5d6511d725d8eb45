#include "spectral/CosineTransform.h"

#include <bit>
#include <cassert>

namespace tarn::fft {

ResidueRows::ResidueRows(std::int32_t half, const Radix4Fft& kernel)
    : kernel_(kernel), rowBins_(half / 16),
      rowBits_(std::countr_zero(static_cast<std::uint32_t>(half / 16))), length_(half / 16 + 24),
      store_(std::make_unique_for_overwrite<double[]>(16 * std::size_t(length_))) {
    assert(half >= 32 && (half & (half - 1)) == 0 && rowBits_ <= kernel.MaxLog());
}

namespace {

// The type-I transform, split recursively: its even points form the type-I transform of half
// the size, its odd points twice a type-II transform, and each type-II transform is one
// complex DFT of a quarter its size. Input bins are addressed as base + j * stride.
class CosineTransforms {
  public:
    CosineTransforms(const ResidueRows& bins, const RealFft& fft, Progress progress)
        : bins_(bins), kernel_(fft.Kernel()), q_(fft.Table()), re_(fft.Re()), im_(fft.Im()),
          progress_(progress) {}

    // Type-I cosine transform of K + 1 points v[j] = bin (base + j * stride):
    // out[m] = v[0] + (-1)^m v[K] + 2 sum_{j=1}^{K-1} v[j] cos(pi j m / K), m = 0..K.
    // The even points form the type-I transform of K/2 + 1 points E, the odd ones 2 x the
    // type-II transform O of K/2 points, and out[m] = E[m] + O[m], out[K - m] = E[m] - O[m].
    void TypeI(std::int64_t base, std::int64_t stride, std::int32_t k, double* out) const {
        if (k <= 8) {
            const std::int32_t step = q_.period / (2 * k); // angle index of pi / K
            for (std::int32_t m = 0; m <= k; ++m) {
                const double last = bins_[base + k * stride];
                double sum = bins_[base] + ((m & 1) ? -last : last);
                for (std::int32_t j = 1; j < k; ++j)
                    sum +=
                        2.0 * bins_[base + j * stride] * q_.Cos((j * m * step) & (q_.period - 1));
                out[m] = sum;
            }
            return;
        }
        TypeI(base, 2 * stride, k / 2, out); // E in out[0..K/2]
        // O[m] goes to out[K - m], m = 0..K/2-1, beside E, so the butterflies work in place.
        TypeII(base + stride, 2 * stride, k / 2,
               [out, k](std::int32_t m, double y) { out[k - m] = 2.0 * y; });
        for (std::int32_t m = 0; m < k / 2; ++m) {
            const double e = out[m], o = out[k - m];
            out[m] = e + o;
            out[k - m] = e - o;
        }
        Worked(k);
    }

    // Type-II cosine transform of Kd points u[j] = bin (base + j * stride):
    // y[m] = sum_j u[j] cos(pi (2j + 1) m / (2 Kd)), m = 0..Kd-1, handed to emit(m, y).
    // Reordered as v = (u[0], u[2], ..., u[3], u[1]), y[m] = Re(exp(-i pi m / 2Kd) V[m]) with
    // V = DFT_Kd(v), and V is the spectrum of a real sequence: one complex DFT of Kd/2 points
    // and the split (RealSpectrum.h). Kd >= 8, 4 Kd divides P.
    template <typename Emit>
    void TypeII(std::int64_t base, std::int64_t stride, std::int32_t kd, Emit emit) const {
        const std::int32_t half = kd / 2;
        const int lg = std::countr_zero(static_cast<std::uint32_t>(half));
        // z[t] = v[2t] + i v[2t+1], v[i] = u[2i] for i < Kd/2, u[2(Kd-1-i)+1] above, put in
        // bit-reversed order: place p takes t = rev(p), which is below Kd/4 for even p. Read
        // so, the bins come in the order they are stored (see ResidueRows).
        const std::int64_t last = 2 * std::int64_t{kd} - 1;
        for (std::int32_t p = 0; p < half; p += 2) {
            const std::int64_t t = kernel_.Reversed(p, lg), u = kernel_.Reversed(p + 1, lg);
            re_[p] = bins_[base + 4 * t * stride];
            im_[p] = bins_[base + (4 * t + 2) * stride];
            re_[p + 1] = bins_[base + (last - 4 * u) * stride];
            im_[p + 1] = bins_[base + (last - 4 * u - 2) * stride];
        }
        Worked(std::int64_t{half});
        kernel_.Forward(re_, im_, lg);

        // With a = exp(-i pi m / 2Kd) V[m]: y[m] = Re a and y[Kd - m] = -Im a. All angles lie
        // in the first quadrant.
        const std::int32_t spectrumStep = q_.period / kd, shiftStep = spectrumStep / 4;
        SplitRealSpectrum(
            re_, im_, half,
            [this, spectrumStep](std::int32_t m, double& c, double& s) {
                c = q_.Cos1(m * spectrumStep);
                s = q_.Sin1(m * spectrumStep);
            },
            [&](std::int32_t m, double vr, double vi) {
                double yr, yi;
                Rotate<false>(vr, vi, q_.Cos1(m * shiftStep), q_.Sin1(m * shiftStep), yr, yi);
                emit(m, yr);
                if (m != 0 && m != half) emit(kd - m, -yi);
            });
        Worked(3 * std::int64_t{half});
    }

  private:
    void Worked(std::int64_t elements) const {
        if (progress_) progress_(elements);
    }

    const ResidueRows& bins_;
    const Radix4Fft& kernel_;
    const QuarterWave& q_;
    double* re_;
    double* im_;
    Progress progress_;
};

} // namespace

// ln|X| is even, so its inverse DFT of 2H points is the type-I transform of the H + 1 bins,
// of which only the first half of the outputs is wanted: the even bins' type-I transform of
// H/2 + 1 points plus the odd bins' type-II transform, without its mirrored half.
void HalfCosineI(const ResidueRows& bins, const RealFft& fft, Progress progress, double* out) {
    const CosineTransforms transforms(bins, fft, progress);
    const std::int32_t s = fft.Kernel().MaxLog() + 1; // log2(H/2)
    const std::int32_t size = std::int32_t{1} << s;
    transforms.TypeI(0, 2, size, out);
    transforms.TypeII(1, 2, size, [out](std::int32_t m, double y) { out[m] += 2.0 * y; });
}

} // namespace tarn::fft
