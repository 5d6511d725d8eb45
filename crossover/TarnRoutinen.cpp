#include "crossover/TarnRoutinen.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/Host.h"
#include "crossover/Bands.h"
#include "crossover/Tarndef.h"
#include "crossover/WavFile.h"
#include "spectral/FastFourier.h"

namespace tarn {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------
// Frequency texts

float ParseFrequency(const std::string& text) {
    // Only the first comma becomes a point, so "1.000,5" turns into "1.000.5" and fails,
    // rather than silently reading as 1.0005 or 1000.5.
    std::string s = text;
    if (const auto comma = s.find(','); comma != std::string::npos) s[comma] = '.';

    std::size_t i = 0;
    const std::size_t end = s.size();
    while (i < end && s[i] == ' ')
        ++i;
    bool negative = false;
    if (i < end && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    const std::size_t intBegin = i;
    while (i < end && s[i] >= '0' && s[i] <= '9')
        ++i;
    const std::size_t intEnd = i;
    std::size_t fracBegin = i, fracEnd = i;
    if (i < end && s[i] == '.') {
        fracBegin = ++i;
        while (i < end && s[i] >= '0' && s[i] <= '9')
            ++i;
        fracEnd = i;
    }
    if (intEnd == intBegin && fracEnd == fracBegin) return -1.0f;
    std::int64_t exponent = 0;
    if (i < end && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool expNegative = false;
        if (i < end && (s[i] == '+' || s[i] == '-')) expNegative = s[i++] == '-';
        const std::size_t expBegin = i;
        for (; i < end && s[i] >= '0' && s[i] <= '9'; ++i)
            exponent = std::min<std::int64_t>(exponent * 10 + (s[i] - '0'), 1'000'000'000'000);
        if (i == expBegin) return -1.0f;
        if (expNegative) exponent = -exponent;
    }
    if (i != end) return -1.0f;

    // The value is 0.d1d2d3... * 10^decimalExponent, with d1 the first non-zero digit.
    std::string digits;
    digits.reserve(std::min<std::size_t>(intEnd - intBegin + fracEnd - fracBegin, 1024));
    std::int64_t decimalExponent = static_cast<std::int64_t>(intEnd - intBegin);
    bool sticky = false;
    auto take = [&](char c) {
        if (digits.empty() && c == '0') {
            --decimalExponent;
            return;
        }
        // Beyond a thousand digits only whether any further digit is non-zero matters for
        // rounding to a float; keeping that as one digit keeps the conversion linear.
        if (digits.size() < 1000)
            digits.push_back(c);
        else if (c != '0')
            sticky = true;
    };
    for (std::size_t k = intBegin; k < intEnd; ++k)
        take(s[k]);
    for (std::size_t k = fracBegin; k < fracEnd; ++k)
        take(s[k]);
    if (digits.empty()) return -1.0f; // zero
    if (sticky) digits.push_back('1');
    decimalExponent += exponent;

    // Below 1e-50 the value rounds to zero as a float; from 1e39 on it overflows.
    if (decimalExponent < -50) return -1.0f;
    if (decimalExponent > 39) throw FloatOverflowError();

    std::string canonical = "0." + digits + "e" + std::to_string(decimalExponent);
    float value = 0.0f;
    const auto [ptr, ec] =
        std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
    if (ec == std::errc::result_out_of_range) {
        if (decimalExponent > 0) throw FloatOverflowError();
        return -1.0f;
    }
    if (ec != std::errc() || ptr != canonical.data() + canonical.size()) return -1.0f;
    if (std::isinf(value)) throw FloatOverflowError();
    if (negative) value = -value;
    return value > 0.0f ? value : -1.0f;
}

// ---------------------------------------------------------------------------------------
// Band design

namespace {

// x^e by repeated squaring; a negative e gives 1 / x^-e.
template <typename Real> Real IntegerPower(Real x, long long e) {
    if (e < 0) return 1 / IntegerPower(x, -e);
    Real result = 1;
    while (e != 0) {
        if (e & 1) result *= x;
        e >>= 1;
        if (e != 0) x *= x;
    }
    return result;
}

// With an 80-bit long double, f^(2n) and x^(2n) are formed on their own as the formula
// reads; their range (up to about 1e4932) holds every power that orders 1..50 and float
// frequencies can give. Where long double is a mere double, (f/x)^(2n) takes its place:
// an infinite or zero power then gives the limits 0 and 1 of the shape exactly.
constexpr bool WideLongDouble = LDBL_MAX_EXP >= 16384;

struct Corner {
    long double value;
    long double inverse; // 1 / value^(2n) in the wide range
    bool wide;           // value^(2n) and its inverse stay finite and non-zero
};

Corner MakeCorner(long double x, long long exponent) {
    Corner c{x, 0.0L, false};
    if constexpr (WideLongDouble) {
        const long double power = IntegerPower(x, exponent);
        c.inverse = 1.0L / power;
        c.wide =
            std::isfinite(power) && power != 0.0L && std::isfinite(c.inverse) && c.inverse != 0.0L;
    }
    return c;
}

// The quotient f^(2n) / x^(2n) of the low-pass shape 1 / sqrt(1 + f^(2n) / x^(2n)); fPower
// is f^(2n) for the wide form. The quotient is formed in the wide range (as a product with the
// corner's inverse power, the same for every bin), then the rest in double: a quotient beyond the
// double range gives infinity and so the exact limit 0. The form (f/x)^(2n) stands in where
// the separate powers leave even the wide range, which only orders far beyond 50 can cause.
double ShapeRatio(long double f, long double fPower, const Corner& corner, long long exponent) {
    if (corner.wide && std::isfinite(fPower)) return static_cast<double>(fPower * corner.inverse);
    return static_cast<double>(IntegerPower(f / corner.value, exponent));
}

constexpr long double Pi = 3.141592653589793238462643383279502884L;

// Bin frequencies and their powers f^(2n) for the current sample period, length and order.
// Every band of a run shares them, so they are formed once per run rather than per band.
struct BinPowers {
    double period = 0;
    std::int32_t length = 0;
    long long exponent = 0;
    std::vector<long double> f;
    std::vector<long double> power;
};

const BinPowers& PowersFor(long long exponent) {
    thread_local BinPowers table;
    if (table.period != SamplePeriod || table.length != SpecLength || table.exponent != exponent ||
        table.f.empty()) {
        const std::int32_t half = SpecLength / 2;
        table.f.resize(half + 1);
        table.power.resize(half + 1);
        for (std::int32_t k = 0; k <= half; ++k) {
            table.f[k] = BinFrequency(k, SamplePeriod);
            table.power[k] = WideLongDouble ? IntegerPower(table.f[k], exponent) : 0.0L;
        }
        table.period = SamplePeriod;
        table.length = SpecLength;
        table.exponent = exponent;
    }
    return table;
}

void Design(BandShape shape, std::int32_t order, double first, double second) {
    ClearSpectrum();
    const long long exponent = 2LL * order;
    const std::int32_t half = SpecLength / 2;
    // For a band-pass: first = lower edge (high-pass factor), second = upper edge.
    const Corner lowCorner = MakeCorner(shape == BandShape::BandPass ? second : first, exponent);
    const Corner highCorner = MakeCorner(first, exponent);
    double* re = SpecRe.data();

    // Bin 0 is designed like every other bin, at the tiny frequency BinFrequency gives it:
    // a low-pass passes DC, a high-pass and a band-pass hold it at the floor. Left empty,
    // its magnitude would be decided by rounding noise, which the minimum-phase conversion
    // turns into about 1 dB of error across the whole low-frequency passband.
    // The wide-range quotients first, then the rest in plain doubles, a loop the compiler
    // can run several bins at a time.
    const BinPowers& bins = PowersFor(exponent);
    thread_local std::vector<double> lowRatio, highRatio;
    lowRatio.resize(half + 1);
    highRatio.resize(half + 1);
    for (std::int32_t k = 0; k <= half; ++k)
        lowRatio[k] = ShapeRatio(bins.f[k], bins.power[k], lowCorner, exponent);
    if (shape == BandShape::BandPass)
        for (std::int32_t k = 0; k <= half; ++k)
            highRatio[k] = ShapeRatio(bins.f[k], bins.power[k], highCorner, exponent);

    const double* lr = lowRatio.data();
    const double* hr = highRatio.data();
    const double floor = MagnitudeFloor;
    switch (shape) {
    case BandShape::LowPass:
        for (std::int32_t k = 0; k <= half; ++k) {
            const double m = 1.0 / std::sqrt(1.0 + lr[k]);
            re[k] = m < floor ? floor : m;
        }
        break;
    case BandShape::HighPass:
        for (std::int32_t k = 0; k <= half; ++k) {
            const double m = 1.0 - 1.0 / std::sqrt(1.0 + lr[k]);
            re[k] = m < floor ? floor : m;
        }
        break;
    case BandShape::FullRange: // never designed: DesignBand writes its unit impulse
        break;
    case BandShape::BandPass:
        for (std::int32_t k = 0; k <= half; ++k) {
            double h = 1.0 - 1.0 / std::sqrt(1.0 + hr[k]);
            h = h < floor ? floor : h;
            const double m = 1.0 / std::sqrt(1.0 + lr[k]) * h;
            re[k] = m < floor ? floor : m;
        }
        break;
    }
    ApplyLinearPhase();
    InverseRealFFT();
    if (CurrentHost().MinimumPhaseOption()) MinimumPhase(SpecLength - 1);
}

} // namespace

void ApplyLinearPhase() {
    const std::int32_t half = SpecLength / 2;
    double* im = SpecIm.data();
    // A phase of k * pi delays every bin by N/2 samples: linear phase, peak at N/2.
    for (std::int32_t k = 0; k <= half; ++k)
        im[k] = static_cast<double>(static_cast<long double>(k) * Pi);
    im[half] = 0.0; // the Nyquist bin of a real signal is real
    PolarToRect();
    SpecIm[half] = 0.0;
}

void DesignLowPass(std::int32_t order, double fc) {
    Design(BandShape::LowPass, order, fc, fc);
}

void DesignHighPass(std::int32_t order, double fc) {
    Design(BandShape::HighPass, order, fc, fc);
}

void DesignBandPass(std::int32_t order, double fl, double fu) {
    Design(BandShape::BandPass, order, fl, fu);
}

void DesignBand(const Band& band, std::int32_t order, const double* frequencies) {
    switch (band.shape) {
    case BandShape::FullRange:
        // No design runs: neither the order nor the minimum-phase option shapes it.
        ClearSpectrum();
        SpecRe[0] = 1.0;
        break;
    case BandShape::LowPass:
        DesignLowPass(order, frequencies[band.upper]);
        break;
    case BandShape::BandPass:
        DesignBandPass(order, frequencies[band.lower], frequencies[band.upper]);
        break;
    case BandShape::HighPass:
        DesignHighPass(order, frequencies[band.lower]);
        break;
    }
}

// ---------------------------------------------------------------------------------------
// Coefficient files

int InOutCode(const AtomicFileError& error) {
    // The codes a convolution-engine user knows from the Windows program, each for the
    // system errors that mean the same; the others must not pass for one of them (EIO is 5
    // and ENETUNREACH 101 on Linux), so they read as 1000 + their number, except a failing
    // device, which gets the Windows code of a device write fault.
    switch (error.Error()) {
    case 0: // a write that made no progress: the disk took no more
        return 101;
    case ENOENT:
        // Creating a file fails so only for a missing directory (Windows' "path not
        // found"); later it is the file itself that has gone.
        return error.Step() == FileStep::Open || error.Step() == FileStep::Create ? 3 : 2;
    case ENAMETOOLONG:
    case ENOTDIR:
    case EINVAL:
        return 3;
    case EMFILE:
    case ENFILE:
        return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return 5;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return 101;
    case EIO:
        return 29;
    default:
        return 1000 + error.Error();
    }
}

namespace {

void RemoveUnlessReadOnly(const std::string& path) {
    std::error_code ec;
    const auto st = fs::status(path, ec);
    if (!ec && fs::is_regular_file(st) && !IsReadOnly(st)) fs::remove(path, ec);
}

// The workspace as the record of a coefficient file in the chosen precision, in the
// staging buffers, and the extension of such a file.
struct Record {
    std::string_view bytes;
    std::string_view extension;
};

Record CoefficientRecord() {
    const std::size_t n = static_cast<std::size_t>(SpecLength);
    static_assert(sizeof(double) == 8 && sizeof(float) == 4);
    if (DoublePrecision) {
        std::copy_n(SpecRe.begin(), n, OutDouble.begin());
        return Record{
            std::string_view(reinterpret_cast<const char*>(OutDouble.data()), n * sizeof(double)),
            DoubleExtension};
    }
    for (std::size_t i = 0; i < n; ++i)
        OutSingle[i] = static_cast<float>(SpecRe[i]);
    return Record{
        std::string_view(reinterpret_cast<const char*>(OutSingle.data()), n * sizeof(float)),
        SingleExtension};
}

// The workspace written into file (not yet under its name).
void WriteRecord(AtomicFile& file, std::string_view record) {
    try {
        file.Write(record.data(), record.size(), {.inPlaceFallback = true});
    } catch (const AtomicFileError& e) {
        throw InOutError(InOutCode(e));
    }
}

} // namespace

void WriteCoefficients(const std::string& name) {
    const Record record = CoefficientRecord();
    const std::string target = ProjectPath + name + std::string(record.extension);
    try {
        AtomicFile file(target);
        WriteRecord(file, record.bytes);
        file.Commit();
    } catch (const AtomicFileError& e) {
        throw InOutError(InOutCode(e));
    }
    CurrentHost().FileWritten(target);
}

std::string StageCoefficients(AtomicFileSet& files, const std::string& name) {
    const Record record = CoefficientRecord();
    std::string fileName = name + std::string(record.extension);
    WriteRecord(files.Add(fileName), record.bytes);
    return fileName;
}

std::string StageCoefficients(AtomicFileSet& files, const std::string& name,
                              std::span<const double> taps, bool wav, double sampleRate) {
    if (wav) {
        const std::vector<unsigned char> bytes =
            EncodeWav(taps.data(), taps.size(), static_cast<int>(sampleRate), DoublePrecision);
        std::string fileName = name + std::string(WavExtension);
        WriteRecord(files.Add(fileName),
                    std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        return fileName;
    }
    std::string fileName = name + std::string(CoefficientExtension(DoublePrecision));
    if (DoublePrecision) {
        WriteRecord(files.Add(fileName),
                    std::string_view(reinterpret_cast<const char*>(taps.data()),
                                     taps.size() * sizeof(double)));
    } else {
        const std::vector<float> single(taps.begin(), taps.end());
        WriteRecord(files.Add(fileName),
                    std::string_view(reinterpret_cast<const char*>(single.data()),
                                     single.size() * sizeof(float)));
    }
    return fileName;
}

void DeleteOutputs(const std::vector<std::string>& keep) {
    // The names of every rate go, not only those of the run's own: left behind, the bands of
    // an earlier 48 kHz design would sit beside a new one with fewer ways.
    auto remove = [&](const std::string& name) {
        if (std::find(keep.begin(), keep.end(), name) == keep.end())
            RemoveUnlessReadOnly(ProjectPath + name);
    };
    for (const std::string_view extension : CoefficientExtensions)
        for (const SampleRateTag& rate : SampleRateTags())
            for (const std::string_view band : BandWords())
                for (const char side : Sides)
                    remove(CoefficientFileName(band, side, rate.tag, extension));
    remove("TestFilter.pcm");
}

} // namespace tarn
