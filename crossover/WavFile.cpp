#include "crossover/WavFile.h"

#include <algorithm>
#include <cstring>

#include <sndfile.h>

namespace tarn {

namespace {

// libsndfile's virtual I/O over a growing byte buffer.
struct MemoryFile {
    std::vector<unsigned char> bytes;
    sf_count_t position = 0;
};

sf_count_t Length(void* user) {
    return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size());
}

sf_count_t Seek(sf_count_t offset, int whence, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) base = f->position;
    if (whence == SEEK_END) base = static_cast<sf_count_t>(f->bytes.size());
    const sf_count_t target = base + offset;
    if (target < 0) return -1;
    f->position = target;
    return target;
}

sf_count_t Read(void* data, sf_count_t count, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    const auto size = static_cast<sf_count_t>(f->bytes.size());
    const sf_count_t n = std::clamp<sf_count_t>(size - f->position, 0, count);
    if (n > 0) std::memcpy(data, f->bytes.data() + f->position, static_cast<std::size_t>(n));
    f->position += n;
    return n;
}

sf_count_t Write(const void* data, sf_count_t count, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    const auto end = static_cast<std::size_t>(f->position + count);
    if (end > f->bytes.size()) f->bytes.resize(end);
    std::memcpy(f->bytes.data() + f->position, data, static_cast<std::size_t>(count));
    f->position += count;
    return count;
}

sf_count_t Tell(void* user) {
    return static_cast<MemoryFile*>(user)->position;
}

// Closes a libsndfile handle on every path out.
struct Handle {
    SNDFILE* file;
    ~Handle() {
        if (file) sf_close(file);
    }
};

} // namespace

std::vector<unsigned char> EncodeWav(const double* taps, std::size_t count, int sampleRate,
                                     bool doublePrecision) {
    MemoryFile memory;
    SF_VIRTUAL_IO io{Length, Seek, Read, Write, Tell};
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | (doublePrecision ? SF_FORMAT_DOUBLE : SF_FORMAT_FLOAT);
    Handle h{sf_open_virtual(&io, SFM_WRITE, &info, &memory)};
    if (!h.file) throw WavError(std::string("Cannot encode WAV: ") + sf_strerror(nullptr));
    // The PEAK chunk would only repeat the largest tap, and it carries a time stamp that
    // makes two runs of one design differ.
    sf_command(h.file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const auto frames = static_cast<sf_count_t>(count);
    sf_count_t written;
    if (doublePrecision) {
        written = sf_write_double(h.file, taps, frames);
    } else {
        // Rounded here, to nearest, exactly as a ".pcm" file holds them.
        std::vector<float> rounded(taps, taps + count);
        written = sf_write_float(h.file, rounded.data(), frames);
    }
    if (written != frames) throw WavError(std::string("Cannot encode WAV: ") + sf_strerror(h.file));
    sf_close(h.file);
    h.file = nullptr;
    return std::move(memory.bytes);
}

WavContents ReadWav(const std::filesystem::path& file) {
    SF_INFO info{};
    Handle h{sf_open(file.string().c_str(), SFM_READ, &info)};
    if (!h.file) throw WavError(sf_strerror(nullptr));
    WavContents c;
    c.sampleRate = info.samplerate;
    c.channels = info.channels;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    c.floatSamples = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    c.doublePrecision = subtype == SF_FORMAT_DOUBLE;
    if (info.channels < 1 || info.frames < 0) throw WavError("No samples");
    if (info.channels == 1) {
        // A coefficient file: the frames are the samples, read straight into place.
        c.samples.resize(static_cast<std::size_t>(info.frames));
        if (sf_readf_double(h.file, c.samples.data(), info.frames) != info.frames)
            throw WavError(sf_strerror(h.file));
        return c;
    }
    std::vector<double> frames(static_cast<std::size_t>(info.frames) * info.channels);
    if (sf_readf_double(h.file, frames.data(), info.frames) != info.frames)
        throw WavError(sf_strerror(h.file));
    c.samples.resize(static_cast<std::size_t>(info.frames));
    for (std::size_t i = 0; i < c.samples.size(); ++i)
        c.samples[i] = frames[i * info.channels];
    return c;
}

std::string SndfileVersion() {
    return sf_version_string();
}

} // namespace tarn
