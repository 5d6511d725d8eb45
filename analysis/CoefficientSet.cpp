#include "analysis/CoefficientSet.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "crossover/Shorten.h"
#include "crossover/WavFile.h"

namespace tarn {

namespace fs = std::filesystem;

namespace {

// A WAV header with its chunks stays far below this; a larger file is a recording, not a
// filter, and is refused before libsndfile reads it whole.
constexpr std::uintmax_t WavHeaderAllowance = 1 << 16;

std::string NotCoefficientFile(const fs::path& file, const std::string& why) {
    return file.filename().string() + " is not a coefficient file: " + why;
}

CoefficientFileError CannotRead(const fs::path& file, const std::string& reason) {
    return CoefficientFileError("Cannot read " + file.string() + ": " + reason);
}

std::string SystemMessage(int error) {
    return std::system_category().message(error);
}

// What a name holds other than a regular file, as the end of a sentence about it.
std::string TypeText(fs::file_type type) {
    switch (type) {
    case fs::file_type::directory:
        return "a directory";
    case fs::file_type::fifo:
        return "a FIFO";
    case fs::file_type::block:
    case fs::file_type::character:
        return "a device";
    case fs::file_type::socket:
        return "a socket";
    default:
        return "not a regular file";
    }
}

fs::file_type TypeOfMode(mode_t mode) {
    if (S_ISDIR(mode)) return fs::file_type::directory;
    if (S_ISFIFO(mode)) return fs::file_type::fifo;
    if (S_ISBLK(mode)) return fs::file_type::block;
    if (S_ISCHR(mode)) return fs::file_type::character;
    if (S_ISSOCK(mode)) return fs::file_type::socket;
    return fs::file_type::unknown;
}

// The bytes of a value in the other order (std::byteswap is C++23).
template <typename Unsigned> Unsigned Swapped(Unsigned value) {
    Unsigned swapped = 0;
    for (std::size_t b = 0; b < sizeof value; ++b, value >>= 8)
        swapped = static_cast<Unsigned>((swapped << 8) | (value & 0xFF));
    return swapped;
}

std::string Taps(std::uintmax_t count) {
    return std::to_string(count) + (count == 1 ? " tap" : " taps");
}

void CheckTapCount(const fs::path& file, std::uintmax_t count) {
    if (count < static_cast<std::uintmax_t>(MinTapCount) ||
        count > static_cast<std::uintmax_t>(MaxTapCount))
        throw CoefficientFileError(NotCoefficientFile(
            file, Taps(count) + ", where a coefficient file holds " + std::to_string(MinTapCount) +
                      " to " + std::to_string(MaxTapCount)));
}

void CheckFinite(const fs::path& file, const std::vector<double>& taps) {
    const auto bad =
        std::find_if(taps.begin(), taps.end(), [](double v) { return !std::isfinite(v); });
    if (bad != taps.end())
        throw CoefficientFileError(NotCoefficientFile(
            file, "value " + std::to_string(bad - taps.begin()) + " is not a finite number"));
}

// An open descriptor, closed on every path out.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// Opens file for reading without waiting (a FIFO under a coefficient name has no writer)
// and makes sure it is a regular file; its size in bytes.
std::uintmax_t OpenRegular(const fs::path& file, Descriptor& d) {
    do
        d.fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    while (d.fd < 0 && errno == EINTR);
    if (d.fd < 0) throw CannotRead(file, SystemMessage(errno));
    struct stat info {};
    if (::fstat(d.fd, &info) != 0) throw CannotRead(file, SystemMessage(errno));
    if (!S_ISREG(info.st_mode)) throw CannotRead(file, TypeText(TypeOfMode(info.st_mode)));
    return static_cast<std::uintmax_t>(info.st_size);
}

// The little-endian values of a raw file, read straight into the taps: 64-bit values are
// the taps' own bytes on a little-endian host; 32-bit ones fill the front half of the
// storage and are widened in place from the last one down, each written above every value
// still to be read.
std::vector<double> ReadRaw(const fs::path& file, bool isDouble) {
    Descriptor d{-1};
    const std::uintmax_t size = OpenRegular(file, d);
    const std::size_t width = isDouble ? 8 : 4;
    if (size % width != 0)
        throw CoefficientFileError(
            NotCoefficientFile(file, std::to_string(size) + " bytes, not a whole number of " +
                                         (isDouble ? "64-bit" : "32-bit") + " values"));
    const std::uintmax_t count = size / width;
    CheckTapCount(file, count);

    std::vector<double> taps(static_cast<std::size_t>(count));
    auto* bytes = reinterpret_cast<unsigned char*>(taps.data());
    const std::size_t total = static_cast<std::size_t>(size);
    for (std::size_t done = 0; done < total;) {
        const ssize_t n = ::read(d.fd, bytes + done, total - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw CannotRead(file, SystemMessage(errno));
        if (n == 0)
            throw CannotRead(file, "the file ended after " + std::to_string(done) + " of its " +
                                       std::to_string(total) + " bytes");
        done += static_cast<std::size_t>(n);
    }

    constexpr bool bigEndian = std::endian::native == std::endian::big;
    if (isDouble) {
        if constexpr (bigEndian)
            for (double& tap : taps)
                tap = std::bit_cast<double>(Swapped(std::bit_cast<std::uint64_t>(tap)));
    } else {
        for (std::size_t i = taps.size(); i-- > 0;) {
            std::uint32_t bits;
            std::memcpy(&bits, bytes + 4 * i, 4);
            if constexpr (bigEndian) bits = Swapped(bits);
            taps[i] = static_cast<double>(std::bit_cast<float>(bits));
        }
    }
    CheckFinite(file, taps);
    return taps;
}

CoefficientFile ReadWavFile(const fs::path& file) {
    {
        Descriptor d{-1};
        const std::uintmax_t size = OpenRegular(file, d);
        if (size > static_cast<std::uintmax_t>(MaxTapCount) * 8 + WavHeaderAllowance)
            throw CoefficientFileError(NotCoefficientFile(file, std::to_string(size) +
                                                                    " bytes, more than a WAV of " +
                                                                    Taps(MaxTapCount) + " takes"));
    }
    WavContents wav;
    try {
        wav = ReadWav(file);
    } catch (const WavError& e) {
        std::string reason = e.what();
        while (!reason.empty() &&
               (reason.back() == '.' || reason.back() == ' ' || reason.back() == '\n'))
            reason.pop_back();
        throw CoefficientFileError(NotCoefficientFile(file, reason));
    }
    if (wav.channels != 1)
        throw CoefficientFileError(NotCoefficientFile(
            file, std::to_string(wav.channels) + " channels, where a coefficient WAV is mono"));
    if (!wav.floatSamples)
        throw CoefficientFileError(
            NotCoefficientFile(file, "its samples are not IEEE float (32 or 64 bits)"));
    CheckTapCount(file, wav.samples.size());
    CheckFinite(file, wav.samples);
    return {std::move(wav.samples), wav.doublePrecision, wav.sampleRate};
}

std::string RateProblem(const fs::path& file, int headerRate, double rate) {
    return file.filename().string() + " is a " + std::to_string(headerRate) +
           " Hz WAV, where its name says " + std::to_string(static_cast<int>(rate)) + " Hz";
}

std::string Precision(bool doublePrecision) {
    return doublePrecision ? "64-bit" : "32-bit";
}

// "8192 taps: XOLowL48.dbl, XOLowR48.dbl; 65536 taps: ...": the files by a property.
template <typename Key, typename Name>
std::string Grouped(const std::map<Key, std::vector<std::string>>& groups, Name name) {
    std::string text;
    for (const auto& [key, files] : groups) {
        text += (text.empty() ? "" : "; ") + name(key) + ": ";
        for (std::size_t i = 0; i < files.size(); ++i)
            text += (i ? ", " : "") + files[i];
    }
    return text;
}

// The bands of every number of ways, for a message about bands that fit none.
std::string EveryCombination() {
    std::string text;
    for (int ways = 1; ways <= 5; ++ways) {
        text += (ways > 1 ? "; " : "") + std::to_string(ways) + "-way: ";
        bool first = true;
        for (const Band& band : BandsFor(ways)) {
            text += (first ? "" : ", ") + std::string(BandName(band.word));
            first = false;
        }
    }
    return text;
}

} // namespace

CoefficientSetError::CoefficientSetError(std::vector<std::string> problems)
    : CoefficientFileError([&] {
          std::string text;
          for (std::size_t i = 0; i < problems.size(); ++i)
              text += (i ? ".\n" : "") + problems[i];
          return text;
      }()),
      problems_(std::move(problems)) {}

CoefficientFile ReadCoefficients(const fs::path& file) {
    const std::string extension = file.extension().string();
    if (extension == WavExtension) return ReadWavFile(file);
    const bool isDouble = extension == DoubleExtension;
    if (!isDouble && extension != SingleExtension)
        throw CoefficientFileError(
            NotCoefficientFile(file, "its name ends in none of .dbl, .pcm and .wav"));
    return {ReadRaw(file, isDouble), isDouble, 0};
}

std::vector<double> ReadCoefficientFile(const fs::path& file, double sampleRate) {
    CoefficientFile read = ReadCoefficients(file);
    if (sampleRate > 0 && read.sampleRate != 0 && read.sampleRate != sampleRate)
        throw CoefficientFileError(RateProblem(file, read.sampleRate, sampleRate));
    return std::move(read.taps);
}

std::string BandTitle(const std::string& band) {
    return band.empty() ? "Full range" : band;
}

std::string CoefficientSet::Extension() const {
    return std::string(wav ? WavExtension : CoefficientExtension(doublePrecision));
}

fs::path CoefficientSet::File(const std::string& band, char side) const {
    return directory / CoefficientFileName(band, side, rateTag, Extension());
}

std::string CoefficientSet::Pattern() const {
    return CoefficientFileName("*", 'L', rateTag, Extension());
}

std::string CoefficientSet::Description() const {
    const std::size_t n = bands.size();
    std::string kind;
    if (!wav)
        kind = Precision(doublePrecision) + " " + Extension();
    else
        kind = (taps ? Precision(doublePrecision) + " float" : std::string("float")) + " .wav";
    return std::to_string(static_cast<int>(SampleRate())) + " Hz, " + kind + ", " +
           (taps ? Taps(static_cast<std::uintmax_t>(taps)) + ", " : "") + std::to_string(n) +
           (n == 1 ? " band" : " bands");
}

std::vector<CoefficientSet> FindCoefficientSets(const fs::path& dir) {
    std::vector<CoefficientSet> sets;
    for (const std::string_view extension : CoefficientExtensions)
        for (const SampleRateTag& rate : SampleRateTags()) {
            CoefficientSet set;
            set.directory = dir;
            set.rateTag = rate.tag;
            set.wav = extension == WavExtension;
            set.doublePrecision = extension != SingleExtension;
            bool timed = false;
            for (const std::string_view band : BandWords()) {
                bool present = false;
                for (const char side : Sides) {
                    const fs::path file =
                        dir / CoefficientFileName(band, side, rate.tag, extension);
                    std::error_code ec;
                    if (!fs::exists(fs::symlink_status(file, ec))) continue;
                    present = true;
                    // Whatever the name holds counts; only a time it cannot give is left out.
                    const fs::file_time_type time = fs::last_write_time(file, ec);
                    if (ec) continue;
                    if (!timed || time > set.modified) set.modified = time;
                    timed = true;
                }
                if (!present) continue;
                set.bands.emplace_back(band);
                set.files.push_back(dir / CoefficientFileName(band, 'L', rate.tag, extension));
            }
            if (!set.bands.empty()) sets.push_back(std::move(set));
        }
    // Built in the tie order already, so a stable sort by time keeps it among equals.
    std::stable_sort(
        sets.begin(), sets.end(),
        [](const CoefficientSet& a, const CoefficientSet& b) { return a.modified > b.modified; });
    return sets;
}

std::string NotARegularFile(const fs::path& file) {
    const std::string name = file.filename().string();
    std::error_code ec;
    const fs::file_status own = fs::symlink_status(file, ec);
    if (!fs::exists(own)) return name + " is missing";
    const fs::file_status target = fs::status(file, ec);
    if (!fs::exists(target)) {
        // A link to nothing; anything else that cannot be looked at is left to the read,
        // which says why.
        return fs::is_symlink(own) && target.type() == fs::file_type::not_found
                   ? name + " is a dangling symbolic link"
                   : std::string();
    }
    if (fs::is_regular_file(target)) return {};
    return name + " is " + TypeText(target.type()) + ", not a regular file";
}

int WaysOfSet(const CoefficientSet& set) {
    for (int ways = 1; ways <= 5; ++ways) {
        const auto bands = BandsFor(ways);
        if (std::equal(bands.begin(), bands.end(), set.bands.begin(), set.bands.end(),
                       [](const Band& band, const std::string& word) { return band.word == word; }))
            return ways;
    }
    return 0;
}

std::vector<std::vector<double>> ReadSet(CoefficientSet& set) {
    std::vector<std::string> problems;
    if (!set.bands.empty() && WaysOfSet(set) == 0) {
        std::string names;
        for (const std::string& band : set.bands)
            names += (names.empty() ? "" : ", ") + std::string(BandName(band));
        problems.push_back("The bands of " + set.Pattern() + " (" + names +
                           ") are not those of one crossover (" + EveryCombination() + ")");
    }

    std::vector<std::vector<double>> left(set.bands.size());
    std::map<std::size_t, std::vector<std::string>> byTaps;
    std::map<bool, std::vector<std::string>> byPrecision;
    for (std::size_t b = 0; b < set.bands.size(); ++b)
        for (const char side : Sides) {
            const fs::path file = set.File(set.bands[b], side);
            const std::string name = file.filename().string();
            if (std::string problem = NotARegularFile(file); !problem.empty()) {
                std::error_code ec;
                if (!fs::exists(fs::symlink_status(file, ec)))
                    problem += ": every band has a left and a right file";
                problems.push_back(std::move(problem));
                continue;
            }
            try {
                CoefficientFile read = ReadCoefficients(file);
                if (set.wav && read.sampleRate != set.SampleRate()) {
                    problems.push_back(RateProblem(file, read.sampleRate, set.SampleRate()));
                    continue;
                }
                byTaps[read.taps.size()].push_back(name);
                byPrecision[read.doublePrecision].push_back(name);
                if (side == 'L') left[b] = std::move(read.taps);
            } catch (const CoefficientFileError& e) {
                problems.push_back(e.what());
            }
        }
    if (byTaps.size() > 1)
        problems.push_back("The files of " + set.Pattern() + " differ in length (" +
                           Grouped(byTaps, [](std::size_t n) { return Taps(n); }) + ")");
    if (byPrecision.size() > 1)
        problems.push_back("The files of " + set.Pattern() + " differ in precision (" +
                           Grouped(byPrecision, [](bool d) { return Precision(d); }) + ")");
    if (!problems.empty()) throw CoefficientSetError(std::move(problems));
    set.taps = left.empty() ? 0 : static_cast<int>(left.front().size());
    if (set.wav && !byPrecision.empty()) set.doublePrecision = byPrecision.begin()->first;
    return left;
}

} // namespace tarn
