#include "export/EngineExport.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <sstream>

#include "crossover/Bands.h"

namespace tarn::engines {
namespace {

// The tag of a rate the run writes ("44" for 44100 ... "192" for 192000); empty otherwise.
std::string RateTag(int rate) {
    return std::string(TagOfRate(rate));
}

bool IsWav(SetFormat format) {
    return format == SetFormat::WavFloat32 || format == SetFormat::WavFloat64;
}
bool Is64Bit(SetFormat format) {
    return format == SetFormat::RawDouble || format == SetFormat::WavFloat64;
}

std::string FormatDescription(SetFormat format) {
    switch (format) {
    case SetFormat::RawDouble:
        return "headerless 64-bit float files (.dbl)";
    case SetFormat::RawFloat:
        return "headerless 32-bit float files (.pcm)";
    case SetFormat::WavFloat32:
        return "32-bit float WAV files";
    case SetFormat::WavFloat64:
        return "64-bit float WAV files";
    }
    return {};
}

// One driver output: which band and side, and its place in the fixed output order.
struct Output {
    std::string band;
    Side side;
    int index; // 0-based
};

std::vector<Output> Outputs(const CoefficientSet& set) {
    std::vector<Output> outputs;
    for (const std::string& band : set.bands) {
        outputs.push_back({band, Side::Left, static_cast<int>(outputs.size())});
        outputs.push_back({band, Side::Right, static_cast<int>(outputs.size())});
    }
    return outputs;
}

// "Sub L", "Full range R": how the comments and notes call an output.
std::string Label(const Output& output) {
    return (output.band.empty() ? std::string("Full range") : output.band) +
           (output.side == Side::Left ? " L" : " R");
}

// "sub_l", "full_r": the identifier of an output inside a configuration.
std::string Identifier(const Output& output) {
    std::string id = output.band.empty() ? std::string("full") : output.band;
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return id + (output.side == Side::Left ? "_l" : "_r");
}

std::string FileOf(const ExportInput& in, const Output& output, int rate) {
    return in.set.fileName(output.band, output.side, rate, in.set.format);
}

// The directory and a file name joined with the separator the directory already uses.
std::string FullPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    const char last = directory.back();
    if (last == '/' || last == '\\') return directory + name;
    const bool windows =
        directory.find('\\') != std::string::npos && directory.find('/') == std::string::npos;
    return directory + (windows ? '\\' : '/') + name;
}

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

bool IsAbsolute(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// Text taken from the design into a comment line: no character may end the comment early.
std::string CommentSafe(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string joined;
    for (std::size_t i = 0; i < parts.size(); ++i)
        joined += (i ? separator : std::string()) + parts[i];
    return joined;
}

std::string RateList(const std::vector<int>& rates) {
    std::vector<std::string> parts;
    for (int rate : rates)
        parts.push_back(std::to_string(rate));
    return Join(parts, ", ") + " Hz";
}

// Everything wrong with the input that no engine could work around; empty when fine.
std::string CheckInput(const ExportInput& in) {
    const CoefficientSet& set = in.set;
    if (!IsAbsolute(set.projectDirectory))
        return "The project directory must be an absolute path: \"" + set.projectDirectory + "\".";
    if (HasControlCharacter(set.projectDirectory))
        return "The project directory's path holds a control character; no engine can load "
               "files from it.";
    if (set.rates.empty()) return "No sample rate was written.";
    for (std::size_t i = 0; i < set.rates.size(); ++i) {
        if (RateTag(set.rates[i]).empty())
            return "Tarn writes no files for " + std::to_string(set.rates[i]) + " Hz.";
        if (std::find(set.rates.begin(), set.rates.begin() + static_cast<long>(i), set.rates[i]) !=
            set.rates.begin() + static_cast<long>(i))
            return "The rate " + std::to_string(set.rates[i]) + " Hz is listed twice.";
    }
    if (set.bands.empty()) return "The set has no bands.";
    if (!(set.bands.size() == 1 && set.bands[0].empty())) {
        // The full range ("", first of the words) is a set of its own.
        const auto words = BandWords();
        std::ptrdiff_t previous = 0;
        for (const std::string& band : set.bands) {
            const auto at = std::find(words.begin(), words.end(), band);
            if (at == words.end()) return "Unknown band \"" + band + "\".";
            if (at - words.begin() <= previous)
                return "The bands must be listed once each, lowest first.";
            previous = at - words.begin();
        }
    }
    if (in.design.frequencies.size() + 1 != set.bands.size())
        return "A set of " + std::to_string(set.bands.size()) + " bands has " +
               std::to_string(set.bands.size() - 1) + " crossover frequencies, not " +
               std::to_string(in.design.frequencies.size()) + ".";
    if (in.design.taps < 1 || in.design.taps > 1 << 20)
        return "The tap count " + std::to_string(in.design.taps) + " is out of range.";
    if (!set.fileName) return "No file-name rule was given.";
    for (int rate : set.rates)
        for (const Output& output : Outputs(set)) {
            const std::string name = FileOf(in, output, rate);
            if (name.empty() || HasControlCharacter(name))
                return "No usable file name for " + Label(output) + " at " + std::to_string(rate) +
                       " Hz.";
        }
    return {};
}

// The design note: what every configuration says about itself before anything else.
// The output list numbers channels from firstChannel (0 or 1, as the engine counts).
std::vector<std::string> DesignNote(const ExportInput& in, const std::vector<int>& rates,
                                    int firstChannel, bool withFiles) {
    const Design& design = in.design;
    const std::size_t ways = in.set.bands.size();
    std::vector<std::string> lines;
    std::vector<std::string> bandNames;
    for (const std::string& band : in.set.bands)
        bandNames.push_back(band.empty() ? "full range" : band);
    lines.push_back("Tarn crossover, " + std::to_string(ways) + "-way (" + Join(bandNames, ", ") +
                    ")");
    if (design.frequencies.empty()) {
        lines.push_back("No crossover frequency: a pass-through, filter order " +
                        std::to_string(design.order));
    } else {
        std::vector<std::string> texts;
        for (const std::string& text : design.frequencies)
            texts.push_back(CommentSafe(text));
        lines.push_back("Crossover frequencies " + Join(texts, ", ") + " Hz, filter order " +
                        std::to_string(design.order));
    }
    lines.push_back(CommentSafe(design.alignment) + " alignment, " +
                    (design.minimumPhase ? "minimum" : "linear") + " phase, " +
                    std::to_string(design.taps) + " taps per filter");
    std::vector<std::string> tags;
    for (int rate : rates)
        tags.push_back(RateTag(rate));
    lines.push_back("Sample rate " + RateList(rates) + " (file tag " + Join(tags, ", ") + "), " +
                    FormatDescription(in.set.format));
    lines.push_back("Outputs, lowest band first, left before right (channel = driver):");
    for (const Output& output : Outputs(in.set)) {
        std::string line =
            "  " + std::to_string(output.index + firstChannel) + "  " + Label(output);
        if (withFiles) {
            line.resize(std::max<std::size_t>(line.size(), 22), ' ');
            line += FileOf(in, output, rates.front());
        }
        lines.push_back(line);
    }
    return lines;
}

std::string Commented(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += "# " + line + "\n";
    return text;
}

// A YAML double-quoted scalar.
std::string YamlQuoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// CamillaDSP's suggested chunk of about 22 ms: 1024 frames at 44.1/48 kHz, doubled with the
// rate.
int ChunkSize(int rate) {
    if (rate >= 176400) return 4096;
    if (rate >= 88200) return 2048;
    return 1024;
}

std::string CamillaDspConfig(const ExportInput& in, int rate) {
    const int version = in.options.camillaDspVersion;
    const auto outputs = Outputs(in.set);
    const std::string outCount = std::to_string(outputs.size());
    std::ostringstream y;
    y << Commented(DesignNote(in, {rate}, 0, true));
    y << "#\n"
      << "# CamillaDSP " << version << ".x configuration, one file per rate: CamillaDSP would put\n"
      << "# the rate in Hz (" << rate << ") for $samplerate$ in a file name, while Tarn's files\n"
      << "# carry the tag (" << RateTag(rate)
      << "). Load the file of the rate the devices run at; do not\n"
      << "# override the rate on the command line.\n"
      << "# FILL IN before use: the capture and playback devices below (type, device, format).\n"
      << "\n";
    y << "title: "
      << YamlQuoted("Tarn " + std::to_string(outputs.size() / 2) + "-way crossover, " +
                    std::to_string(rate) + " Hz")
      << "\n\n";
    const char* sampleFormat = version >= 4 ? "S32_LE" : "S32LE";
    auto device = [&](const char* role, int channels, const std::string& name,
                      const char* placeholder, const char* what) {
        y << "  " << role << ":\n"
          << "    type: Alsa # FILL IN: the backend (Alsa, PipeWire, Wasapi, CoreAudio, ...)\n"
          << "    channels: " << channels << "\n";
        if (name.empty())
            y << "    device: " << YamlQuoted(placeholder) << " # FILL IN: " << what << "\n";
        else
            y << "    device: " << YamlQuoted(name) << "\n";
        y << "    format: " << sampleFormat << " # FILL IN: a sample format the device takes\n";
    };
    y << "devices:\n"
      << "  samplerate: " << rate << "\n"
      << "  chunksize: " << ChunkSize(rate) << "\n";
    device("capture", 2, in.options.captureDevice, "FILL_IN_CAPTURE_DEVICE",
           "where the stereo music comes from");
    device("playback", static_cast<int>(outputs.size()), in.options.playbackDevice,
           "FILL_IN_PLAYBACK_DEVICE", "the multichannel output to the amplifiers");
    y << "\n"
      << "mixers:\n"
      << "  split:\n"
      << "    description: \"Stereo to " << outCount
      << " driver channels: every band gets the left and the right input\"\n"
      << "    channels:\n"
      << "      in: 2\n"
      << "      out: " << outCount << "\n"
      << "    mapping:\n";
    for (const Output& output : outputs)
        y << "      - dest: " << output.index << " # " << Label(output) << "\n"
          << "        sources:\n"
          << "          - channel: " << (output.side == Side::Left ? 0 : 1) << "\n"
          << "            gain: 0\n";
    y << "\n"
      << "filters:\n";
    for (const Output& output : outputs) {
        y << "  " << Identifier(output) << ":\n"
          << "    type: Conv\n"
          << "    parameters:\n";
        const std::string path =
            YamlQuoted(FullPath(in.set.projectDirectory, FileOf(in, output, rate)));
        if (IsWav(in.set.format)) {
            y << "      type: Wav\n"
              << "      filename: " << path << "\n"
              << "      channel: 0\n";
        } else {
            const bool wide = Is64Bit(in.set.format);
            const char* format =
                version >= 4 ? (wide ? "F64_LE" : "F32_LE") : (wide ? "FLOAT64LE" : "FLOAT32LE");
            y << "      type: Raw\n"
              << "      filename: " << path << "\n"
              << "      format: " << format << "\n";
        }
    }
    y << "\n"
      << "pipeline:\n"
      << "  - type: Mixer\n"
      << "    name: split\n";
    for (const Output& output : outputs)
        y << "  - type: Filter\n"
          << "    channels: [" << output.index << "]\n"
          << "    names:\n"
          << "      - " << Identifier(output) << "\n";
    return y.str();
}

// A BruteFIR string: BruteFIR has no escapes, so a quote cannot appear in one.
std::string BruteFirString(const std::string& text) {
    return "\"" + text + "\"";
}

std::string BruteFirDevice(const BruteFirIo& io, const char* placeholder) {
    const std::string name = BruteFirString(io.name.empty() ? placeholder : io.name);
    if (io.module == BruteFirIo::Module::File) return "\"file\" { path: " + name + "; }";
    return "\"alsa\" { device: " + name + "; }";
}

std::string BruteFirConfig(const ExportInput& in, int rate) {
    const auto outputs = Outputs(in.set);
    const Partitions partitions = BruteFirPartitions(in.design.taps);
    const bool wav = IsWav(in.set.format);
    const char* coeffFormat = Is64Bit(in.set.format) ? "FLOAT64_LE" : "FLOAT_LE";
    const BruteFirIo& input = in.options.bruteFirInput;
    const BruteFirIo& output = in.options.bruteFirOutput;
    std::ostringstream b;
    b << Commented(DesignNote(in, {rate}, 0, true));
    b << "#\n"
      << "# BruteFIR configuration, complete (runs with -nodefault). One file per rate.\n";
    if (wav)
        b << "# The WAV files are read as raw samples after their " << *in.options.wavDataOffset
          << "-byte header (skip).\n";
    if (input.name.empty() || output.name.empty())
        b << "# FILL IN before use: the input and output devices (and their sample formats).\n";
    b << "\n"
      << "float_bits: " << (Is64Bit(in.set.format) ? 64 : 32) << ";\n"
      << "sampling_rate: " << rate << ";\n"
      << "filter_length: " << partitions.length << "," << partitions.count << "; # "
      << partitions.length * partitions.count << " >= " << in.design.taps << " taps\n"
      << "overflow_warnings: true;\n"
      << "show_progress: false;\n"
      << "max_dither_table_size: 0;\n"
      << "allow_poll_mode: false;\n"
      << "modules_path: \".\";\n"
      << "powersave: false;\n"
      << "monitor_rate: true;\n"
      << "lock_memory: true;\n"
      << "convolver_config: \"~/.brutefir_convolver\";\n";
    for (const Output& out : outputs)
        b << "\n"
          << "coeff " << BruteFirString(Identifier(out)) << " {\n"
          << "    filename: "
          << BruteFirString(FullPath(in.set.projectDirectory, FileOf(in, out, rate))) << ";\n"
          << "    format: \"" << coeffFormat << "\";\n"
          << "    attenuation: 0.0;\n"
          << "    blocks: -1;\n"
          << "    skip: " << (wav ? *in.options.wavDataOffset : 0) << ";\n"
          << "    shared_mem: false;\n"
          << "};\n";
    auto zeros = [](std::size_t count, const char* value) {
        std::vector<std::string> parts(count, value);
        return Join(parts, ", ");
    };
    b << "\n"
      << "input \"left\", \"right\" {\n"
      << "    device: " << BruteFirDevice(input, "FILL_IN_INPUT_DEVICE") << ";"
      << (input.name.empty() ? " # FILL IN: where the stereo music comes from" : "") << "\n"
      << "    sample: \"" << input.sample << "\";\n"
      << "    channels: 2;\n"
      << "    delay: 0, 0;\n"
      << "    maxdelay: -1;\n"
      << "    mute: false, false;\n"
      << "};\n";
    std::vector<std::string> names;
    for (const Output& out : outputs)
        names.push_back(BruteFirString(Identifier(out) + "_out"));
    b << "\n"
      << "output " << Join(names, ", ") << " {\n"
      << "    device: " << BruteFirDevice(output, "FILL_IN_OUTPUT_DEVICE") << ";"
      << (output.name.empty() ? " # FILL IN: the multichannel output to the amplifiers" : "")
      << "\n"
      << "    sample: \"" << output.sample << "\";\n"
      << "    channels: " << outputs.size() << ";\n"
      << "    delay: " << zeros(outputs.size(), "0") << ";\n"
      << "    maxdelay: -1;\n"
      << "    mute: " << zeros(outputs.size(), "false") << ";\n"
      << "    dither: false;\n"
      << "};\n";
    for (const Output& out : outputs)
        b << "\n"
          << "filter " << BruteFirString(Identifier(out)) << " {\n"
          << "    from_inputs: \"" << (out.side == Side::Left ? "left" : "right") << "\";\n"
          << "    to_outputs: " << BruteFirString(Identifier(out) + "_out") << ";\n"
          << "    process: -1;\n"
          << "    coeff: " << BruteFirString(Identifier(out)) << ";\n"
          << "    delay: 0;\n"
          << "    crossfade: false;\n"
          << "};\n";
    return b.str();
}

std::string EqualizerApoConfig(const ExportInput& in) {
    const auto outputs = Outputs(in.set);
    const std::vector<int>& rates = in.set.rates;
    std::ostringstream e;
    e << Commented(DesignNote(in, rates, 1, false));
    e << "#\n"
      << "# Equalizer APO configuration: include it from config.txt or paste it there. Set the\n"
      << "# Windows output device to " << outputs.size()
      << " channels (or more); Equalizer APO counts them from 1.\n"
      << "# One block per rate; at any other rate every output is muted, so that no driver\n"
      << "# ever gets the full-range signal.\n";
    std::vector<std::string> copies;
    for (const Output& output : outputs)
        copies.push_back(std::to_string(output.index + 1) + "=" +
                         (output.side == Side::Left ? "L" : "R"));
    std::vector<std::string> mutes;
    for (const Output& output : outputs)
        mutes.push_back(std::to_string(output.index + 1) + "=0");
    for (std::size_t i = 0; i < rates.size(); ++i) {
        e << "\n"
          << (i == 0 ? "If: " : "ElseIf: ") << "sampleRate == " << rates[i] << "\n"
          << "Copy: " << Join(copies, " ") << "\n";
        for (const Output& output : outputs)
            e << "Channel: " << output.index + 1 << "\n"
              << "Convolution: " << FullPath(in.set.projectDirectory, FileOf(in, output, rates[i]))
              << "\n";
    }
    e << "\n"
      << "Else:\n"
      << "Copy: " << Join(mutes, " ") << "\n"
      << "EndIf:\n"
      << "Channel: all\n";
    return e.str();
}

std::string ConfigName(const char* stem, int rate, const char* extension) {
    return std::string(stem) + "-" + std::to_string(rate) + extension;
}

std::string ConvolverConfig(const ExportInput& in, int rate) {
    const auto outputs = Outputs(in.set);
    std::ostringstream c;
    // Header: rate, inputs, outputs, speaker mask (0: no mapping). Then the delay of each
    // input and of each output in ms, then per path: file, channel in the file, input
    // channel(s) and output channel(s), each "channel.scale" with .0 for unscaled.
    c << rate << " 2 " << outputs.size() << " 0\n";
    c << "0 0\n";
    std::vector<std::string> delays(outputs.size(), "0");
    c << Join(delays, " ") << "\n";
    for (const Output& output : outputs)
        c << FileOf(in, output, rate) << "\n"
          << "0\n"
          << (output.side == Side::Left ? 0 : 1) << ".0\n"
          << output.index << ".0\n";
    return c.str();
}

ExportResult Fail(std::string message) {
    ExportResult result;
    result.error = std::move(message);
    return result;
}

} // namespace

std::string WrittenFileName(const std::string& band, Side side, int rate, SetFormat format) {
    const std::string_view tag = TagOfRate(rate);
    if (tag.empty()) return {};
    const std::string_view extension = IsWav(format)                    ? WavExtension
                                       : format == SetFormat::RawDouble ? DoubleExtension
                                                                        : SingleExtension;
    return CoefficientFileName(band, side == Side::Left ? Sides[0] : Sides[1], tag, extension);
}

Partitions BruteFirPartitions(int taps) {
    constexpr int Longest = 4096; // longer partitions only add I/O delay
    int length = 1;
    while (length < taps && length < Longest)
        length *= 2;
    return {length, (std::max(taps, 1) + length - 1) / length};
}

std::optional<std::size_t> WavDataOffset(std::string_view header) {
    auto u32 = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value =
                value << 8 | static_cast<unsigned char>(header[at + static_cast<std::size_t>(i)]);
        return value;
    };
    if (header.size() < 12 || header.substr(0, 4) != "RIFF" || header.substr(8, 4) != "WAVE")
        return std::nullopt;
    std::size_t at = 12;
    while (at + 8 <= header.size()) {
        const std::uint32_t size = u32(at + 4);
        if (header.substr(at, 4) == "data") return at + 8;
        // Chunks are padded to an even length.
        at += 8 + static_cast<std::size_t>(size) + (size & 1u);
    }
    return std::nullopt;
}

std::string EngineName(Engine engine) {
    switch (engine) {
    case Engine::CamillaDsp:
        return "camilladsp";
    case Engine::BruteFir:
        return "brutefir";
    case Engine::EqualizerApo:
        return "equalizer-apo";
    case Engine::Convolver:
        return "convolver";
    }
    return {};
}

std::optional<Engine> ParseEngine(std::string_view name) {
    for (Engine engine :
         {Engine::CamillaDsp, Engine::BruteFir, Engine::EqualizerApo, Engine::Convolver})
        if (EngineName(engine) == name) return engine;
    return std::nullopt;
}

ExportResult Export(Engine engine, const ExportInput& in) {
    if (std::string problem = CheckInput(in); !problem.empty()) return Fail(problem);
    const bool wav = IsWav(in.set.format);
    ExportResult result;
    switch (engine) {
    case Engine::CamillaDsp:
        if (in.options.camillaDspVersion != 3 && in.options.camillaDspVersion != 4)
            return Fail("CamillaDSP version " + std::to_string(in.options.camillaDspVersion) +
                        " is not offered: choose 4 (F64_LE) or 3 (FLOAT64LE).");
        for (int rate : in.set.rates)
            result.files.push_back(
                {ConfigName("camilladsp", rate, ".yml"), CamillaDspConfig(in, rate)});
        break;
    case Engine::BruteFir: {
        if (wav && !in.options.wavDataOffset)
            return Fail("BruteFIR reads raw samples only: calculate with a raw format "
                        "(.dbl or .pcm), or give the offset of the WAV files' samples.");
        auto quoted = [](const std::string& text) { return text.find('"') != std::string::npos; };
        if (quoted(in.set.projectDirectory) || quoted(in.options.bruteFirInput.name) ||
            quoted(in.options.bruteFirOutput.name))
            return Fail("BruteFIR cannot load a path or device name holding a double quote.");
        for (int rate : in.set.rates)
            result.files.push_back(
                {ConfigName("brutefir", rate, ".conf"), BruteFirConfig(in, rate)});
        break;
    }
    case Engine::EqualizerApo:
        if (!wav)
            return Fail("Equalizer APO reads WAV files only: calculate the set with the WAV "
                        "format first, then export again.");
        result.files.push_back({"equalizer-apo.txt", EqualizerApoConfig(in)});
        break;
    case Engine::Convolver: {
        if (!wav)
            return Fail("Convolver, Roon and JRiver read WAV files only: calculate the set "
                        "with the WAV format first, then export again.");
        const std::string noteName = "convolver-notes.txt";
        std::vector<std::string> note = DesignNote(in, in.set.rates, 0, false);
        note.push_back("");
        note.push_back("One Convolver configuration per rate, each naming its WAV files");
        note.push_back("relative to itself (keep them in one folder):");
        for (int rate : in.set.rates)
            note.push_back("  " + ConfigName("convolver", rate, ".cfg"));
        note.push_back("");
        note.push_back("Roon: choose the zip; it picks the configuration of the playing rate.");
        note.push_back("JRiver: choose the configuration of the rate the output runs at.");
        std::string noteText;
        for (const std::string& line : note)
            noteText += line + "\n";
        result.zipName = "roon-convolver.zip";
        for (int rate : in.set.rates) {
            const std::string name = ConfigName("convolver", rate, ".cfg");
            result.files.push_back({name, ConvolverConfig(in, rate)});
            result.zipEntries.push_back({name, name});
            for (const Output& output : Outputs(in.set)) {
                const std::string file = FileOf(in, output, rate);
                result.zipEntries.push_back({file, file});
            }
        }
        result.files.push_back({noteName, noteText});
        result.zipEntries.push_back({noteName, noteName});
        break;
    }
    }
    return result;
}

} // namespace tarn::engines
