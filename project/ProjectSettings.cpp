#include "project/ProjectSettings.h"

#include <charconv>
#include <functional>
#include <vector>

#include "crossover/Bands.h"
#include "project/IniFile.h"

namespace tarn {

namespace {

constexpr std::string_view AlignmentNames[] = {"Tarn", "Linkwitz-Riley"};
constexpr std::string_view FormatNames[] = {"raw", "wav"};

// How a value of each type is written as text and read back; a key that is missing or does
// not read leaves the value as it was (its default).
std::string ToText(const std::string& value) {
    return value;
}
std::string ToText(int value) {
    return std::to_string(value);
}
std::string ToText(bool value) {
    return value ? "1" : "0";
}
std::string ToText(double value) {
    // The shortest text that reads back as the same double.
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}
std::string ToText(Alignment value) {
    return std::string(AlignmentName(value));
}
std::string ToText(FileFormat value) {
    return std::string(FormatName(value));
}

void Read(const IniFile& file, const char* section, const std::string& name, std::string& value) {
    value = file.ReadString(section, name, value);
}
void Read(const IniFile& file, const char* section, const std::string& name, int& value) {
    value = file.ReadInteger(section, name, value);
}
void Read(const IniFile& file, const char* section, const std::string& name, bool& value) {
    value = file.ReadInteger(section, name, value ? 1 : 0) != 0;
}
void Read(const IniFile& file, const char* section, const std::string& name, double& value) {
    const std::string text = file.ReadString(section, name, "");
    double read = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), read);
    if (ec == std::errc() && end == text.data() + text.size() && !text.empty()) value = read;
}
void Read(const IniFile& file, const char* section, const std::string& name, Alignment& value) {
    value = AlignmentOfName(file.ReadString(section, name, "")).value_or(value);
}
void Read(const IniFile& file, const char* section, const std::string& name, FileFormat& value) {
    value = FormatOfName(file.ReadString(section, name, "")).value_or(value);
}

// One key of the file: where it stands, and how it reaches its member and back.
struct Key {
    const char* section;
    std::string name;
    std::function<std::string(const ProjectSettings&)> write;
    std::function<void(ProjectSettings&, const IniFile&)> read; // empty: never read back
    // True: the key is written only when its value differs from the default or the file
    // holds it already.
    bool optional = false;
};

enum class ReadBack { Yes, No };

// A row of the table for the member that member(settings) refers to.
template <typename Member>
Key Row(const char* section, std::string name, Member member, ReadBack readBack = ReadBack::Yes) {
    Key key{section, name, [member](const ProjectSettings& s) { return ToText(member(s)); }, {}};
    if (readBack == ReadBack::Yes)
        key.read = [member, section, name](ProjectSettings& s, const IniFile& file) {
            Read(file, section, name, member(s));
        };
    return key;
}

template <typename Member> Key OptionalRow(const char* section, std::string name, Member member) {
    Key key = Row(section, std::move(name), member);
    key.optional = true;
    return key;
}

// Every key, in the order a run has always written them (the order in a new file).
const std::vector<Key>& Keys() {
    static const std::vector<Key> keys = [] {
        constexpr const char* Crossover = "Crossover";
        constexpr const char* Bands = "Bands";
        std::vector<Key> table;
        for (std::size_t i = 0; i < 4; ++i)
            table.push_back(Row(
                Crossover, "Frequency" + std::to_string(i + 1), [i](auto& s) -> auto& {
                    return s.frequencies[i];
                }));
        table.push_back(Row(
            Crossover, "FilterOrder", [](auto& s) -> auto& { return s.filterOrder; }));
        table.push_back(Row(
            Crossover, "X-way-system", [](auto& s) -> auto& { return s.ways; }, ReadBack::No));

        // A number of Hz, or "all" for a run that writes every rate.
        table.push_back(
            Key{Crossover, "SampleRate",
                [](const ProjectSettings& s) {
                    return s.sampleRate == AllRates ? std::string("all") : ToText(s.sampleRate);
                },
                [](ProjectSettings& s, const IniFile& file) {
                    const std::string text = file.ReadString("Crossover", "SampleRate", "");
                    if (text == "all")
                        s.sampleRate = AllRates;
                    else if (const auto hz = IntegerFromText(text); hz && !TagOfRate(*hz).empty())
                        s.sampleRate = *hz;
                },
                true});
        table.push_back(OptionalRow(
            Crossover, "MinimumPhase", [](auto& s) -> auto& { return s.minimumPhase; }));
        table.push_back(OptionalRow(
            Crossover, "Precision", [](auto& s) -> auto& { return s.precision; }));
        table.push_back(OptionalRow(
            Crossover, "Format", [](auto& s) -> auto& { return s.format; }));
        table.push_back(OptionalRow(
            Crossover, "Alignment", [](auto& s) -> auto& { return s.alignment; }));
        table.push_back(OptionalRow(
            Crossover, "Taps", [](auto& s) -> auto& { return s.taps; }));

        for (const std::string_view word : BandWords()) {
            const std::string band(BandName(word));
            const auto trimRow = [&](const char* what, auto field) {
                table.push_back(Key{
                    Bands, band + what,
                    [band, field](const ProjectSettings& s) {
                        const auto it = s.trims.find(band);
                        return ToText(it == s.trims.end() ? BandTrim{}.*field : it->second.*field);
                    },
                    [band, field, name = band + what](ProjectSettings& s, const IniFile& file) {
                        auto value = BandTrim{}.*field;
                        Read(file, "Bands", name, value);
                        if (value != BandTrim{}.*field) s.trims[band].*field = value;
                    },
                    true});
            };
            trimRow("Level", &BandTrim::levelDb);
            trimRow("Delay", &BandTrim::delayMs);
            trimRow("Invert", &BandTrim::invert);
        }
        return table;
    }();
    return keys;
}

} // namespace

std::string_view AlignmentName(Alignment alignment) {
    return AlignmentNames[static_cast<int>(alignment)];
}

std::optional<Alignment> AlignmentOfName(std::string_view name) {
    for (int i = 0; i < 2; ++i)
        if (name == AlignmentNames[i]) return static_cast<Alignment>(i);
    return std::nullopt;
}

std::string_view FormatName(FileFormat format) {
    return FormatNames[static_cast<int>(format)];
}

std::optional<FileFormat> FormatOfName(std::string_view name) {
    for (int i = 0; i < 2; ++i)
        if (name == FormatNames[i]) return static_cast<FileFormat>(i);
    return std::nullopt;
}

BandTrim ProjectSettings::TrimOf(std::string_view word) const {
    const auto it = trims.find(BandName(word));
    return it == trims.end() ? BandTrim{} : it->second;
}

std::vector<BandTrim> ProjectSettings::TrimsOf(const std::vector<std::string>& words) const {
    std::vector<BandTrim> list;
    for (const std::string& word : words)
        list.push_back(TrimOf(word));
    return list;
}

ProjectSettings ProjectSettings::Load(const IniFile& file) {
    ProjectSettings settings;
    for (const Key& key : Keys())
        if (key.read) key.read(settings, file);
    return settings;
}

std::string ProjectSettings::StoredText(const IniFile& file) const {
    static const ProjectSettings defaults;
    std::vector<IniWrite> writes;
    for (const Key& key : Keys()) {
        std::string value = key.write(*this);
        if (key.optional && value == key.write(defaults) &&
            file.ReadString(key.section, key.name, "\x01") == "\x01")
            continue;
        writes.push_back({key.section, key.name, std::move(value)});
    }
    return file.WithWrites(writes);
}

} // namespace tarn
