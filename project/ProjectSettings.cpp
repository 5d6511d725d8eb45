#include "project/ProjectSettings.h"

#include <functional>
#include <vector>

#include "project/IniFile.h"

namespace tarn {

namespace {

// How a value of each type is written as text and read back; a key that is missing or does
// not read leaves the value as it was (its default).
std::string ToText(const std::string& value) {
    return value;
}
std::string ToText(int value) {
    return std::to_string(value);
}
void Read(const IniFile& file, const char* section, const std::string& name, std::string& value) {
    value = file.ReadString(section, name, value);
}
void Read(const IniFile& file, const char* section, const std::string& name, int& value) {
    value = file.ReadInteger(section, name, value);
}

// One key of the file: where it stands, and how it reaches its member and back.
struct Key {
    const char* section;
    std::string name;
    std::function<std::string(const ProjectSettings&)> write;
    std::function<void(ProjectSettings&, const IniFile&)> read; // empty: never read back
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

// Every key, in the order a run has always written them (the order in a new file).
const std::vector<Key>& Keys() {
    static const std::vector<Key> keys = [] {
        constexpr const char* Crossover = "Crossover";
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
        return table;
    }();
    return keys;
}

} // namespace

ProjectSettings ProjectSettings::Load(const IniFile& file) {
    ProjectSettings settings;
    for (const Key& key : Keys())
        if (key.read) key.read(settings, file);
    return settings;
}

std::string ProjectSettings::StoredText(const IniFile& file) const {
    std::vector<IniWrite> writes;
    for (const Key& key : Keys())
        writes.push_back({key.section, key.name, key.write(*this)});
    return file.WithWrites(writes);
}

} // namespace tarn
