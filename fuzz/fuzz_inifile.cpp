// Any bytes as a settings file (NUL bytes, huge lines, missing or CR-only line ends), then
// one write of a key: a file that is not text is refused by every read and write and stays
// as it was; any other reads without failing, the value written reads back as written (up
// to the documented changes), every other key reads as before, the write changes only the
// one line of its key (or adds lines), and no temporary file stays behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include "crossover/Tarndef.h"
#include "project/IniFile.h"

namespace {

namespace fs = std::filesystem;

fs::path scratch;
fs::path iniPath;

void RemoveScratch() {
    std::error_code ec;
    fs::remove_all(scratch, ec);
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "IniFile: %s\n", what);
    RemoveScratch(); // abort() skips the atexit handler
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

bool SameAscii(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// A section or key name that the file format can hold: no blanks, brackets, '=' or ';'.
std::string Name(FuzzedDataProvider& in) {
    static const char alphabet[] = "abcXYZ019-_.";
    std::string name(in.ConsumeIntegralInRange<std::size_t>(0, 6), 'a');
    for (char& c : name)
        c = alphabet[in.ConsumeIntegralInRange<std::size_t>(0, sizeof alphabet - 2)];
    return name;
}

// What reading gives back for a written value, before the 2047-character cut: every byte
// that starts no well-formed UTF-8 character (one that Windows-1252 turns into a single
// character) and every NUL as '?', CR and LF as blanks, no blanks around it, one pair of
// enclosing quotes gone.
std::string ReadBack(const std::string& value) {
    std::string s;
    for (std::size_t i = 0; i < value.size();) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        const std::size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        if (c != 0 && i + n <= value.size() && tarn::Utf8ToCp1252(value.substr(i, n)).size() == 1) {
            s += value.substr(i, n);
            i += n;
        } else {
            s += '?';
            ++i;
        }
    }
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    s = Trim(s);
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        s = s.substr(1, s.size() - 2);
    return s;
}

bool NotText(const std::string& text) {
    return text.find('\0') != std::string::npos || text.starts_with("\xFF\xFE") ||
           text.starts_with("\xFE\xFF");
}

// (section, key) of the entry lines of a file, found by the plain reading of the format.
std::vector<std::pair<std::string, std::string>> Entries(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> entries;
    bool inSection = false;
    std::string section;
    std::size_t begin = 0;
    while (begin <= text.size() && entries.size() < 64) {
        std::size_t end = text.find_first_of("\r\n", begin);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(begin, end - begin));
        if (!line.empty() && line[0] == '[') {
            inSection = true;
            section = Trim(line.substr(
                1, line.find(']') == std::string::npos ? std::string::npos : line.find(']') - 1));
        } else if (inSection && !line.empty() && line[0] != ';' &&
                   line.find('=') != std::string::npos) {
            entries.emplace_back(section, Trim(line.substr(0, line.find('='))));
        }
        if (end == text.size()) break;
        begin = end + 1;
    }
    return entries;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    scratch = base / ("tarn-fuzz-ini-" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    iniPath = scratch / "f.ini";
    std::atexit(RemoveScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = Name(in);
    const std::string key = Name(in);
    // A short piece repeated reaches values beyond the 2047-character cut cheaply.
    const std::string piece = in.ConsumeRandomLengthString(64);
    std::string value;
    for (int n = in.ConsumeIntegralInRange(1, 100); n > 0; --n)
        value += piece;
    const std::string rawSection = in.ConsumeRandomLengthString(16);
    const std::string rawKey = in.ConsumeRandomLengthString(16);
    const std::string before = in.ConsumeRemainingBytesAsString();
    {
        std::ofstream out(iniPath, std::ios::binary | std::ios::trunc);
        out.write(before.data(), static_cast<std::streamsize>(before.size()));
    }

    tarn::IniFile ini(iniPath.string());
    if (NotText(before)) {
        bool refused = false;
        try {
            (void)ini.ReadString(rawSection, rawKey, "");
        } catch (const tarn::IniReadError&) {
            refused = true;
        }
        Check(refused, "a file that is not text was read");
        refused = false;
        try {
            ini.WriteString(section, key, value);
        } catch (const tarn::IniReadError&) {
            refused = true;
        }
        Check(refused && ReadFile(iniPath) == before, "a file that is not text was written");
        return 0;
    }
    // Arbitrary names: any answer, but never more than a buffer of 2048 holds.
    const std::string raw = ini.ReadString(rawSection, rawKey, "\x01");
    Check(raw == "\x01" || tarn::Utf8ToCp1252(raw).size() <= 2047, "value longer than 2047");
    (void)ini.ReadInteger(rawSection, rawKey, 0);

    std::vector<std::pair<std::string, std::string>> others;
    std::vector<std::string> otherValues;
    for (const auto& [s, k] : Entries(before)) {
        const std::string s8 = tarn::Cp1252ToUtf8(s), k8 = tarn::Cp1252ToUtf8(k);
        if (SameAscii(s, section) && SameAscii(k, key)) continue;
        others.emplace_back(s8, k8);
        otherValues.push_back(ini.ReadString(s8, k8, "\x01"));
    }

    try {
        ini.WriteString(section, key, value);
    } catch (const tarn::IniWriteError&) {
        Fail("a writable file could not be written");
    }
    const std::string after = ReadFile(iniPath);

    // Whole up to the cut; beyond it, a beginning of the value that the buffer holds.
    const std::string expected = ReadBack(value);
    const std::string got = ini.ReadString(section, key, "\x01");
    if (expected.size() <= 2047)
        Check(got == expected, "value did not read back");
    else
        Check(expected.starts_with(got) && tarn::Utf8ToCp1252(got).size() <= 2047 &&
                  got.size() >= 2047 / 4,
              "long value did not read back as its beginning");
    for (std::size_t i = 0; i < others.size(); ++i)
        Check(ini.ReadString(others[i].first, others[i].second, "\x01") == otherValues[i],
              "another key changed");

    // Outside one changed stretch the bytes stay; the old bytes of that stretch hold no
    // line end, so it lies within one line.
    std::size_t prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix])
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    const std::string removed = before.substr(prefix, before.size() - prefix - suffix);
    Check(removed.find_first_of("\r\n") == std::string::npos, "other lines were changed");

    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(scratch)) {
        (void)entry;
        ++files;
    }
    Check(files == 1, "a temporary file was left behind");
    return 0;
}
