#include "app/IniFile.h"

#include "app/WindowOperations.h"
#include "crossover/Tarndef.h"

namespace tarn {

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName)) {}

std::string IniFile::ReadString(const std::string&, const std::string&,
                                const std::string& def) const {
    return def;
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
    return IntegerFromText(ReadString(section, key, "")).value_or(def);
}

void IniFile::WriteString(const std::string&, const std::string&, const std::string&) {
    throw IniWriteError(fileName_);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

std::string Utf8ToCp1252(const std::string& utf8) { return utf8; }
std::string Cp1252ToUtf8(const std::string& cp1252) { return cp1252; }

} // namespace tarn
