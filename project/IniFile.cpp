#include "project/IniFile.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "core/AtomicFile.h"
#include "crossover/Tarndef.h"

namespace tarn {

namespace {

namespace fs = std::filesystem;

// GetPrivateProfileString fills a buffer of 2048 characters, terminator included.
constexpr std::size_t MaxValueLength = 2047;

// Code points of bytes 0x80..0x9F; 0 marks the five bytes Windows-1252 leaves undefined.
constexpr char16_t HighControlTable[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        // Every code point of the table lies in the Basic Multilingual Plane.
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::optional<unsigned char> Cp1252Byte(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
    for (int i = 0; i < 32; ++i)
        if (HighControlTable[i] != 0 && HighControlTable[i] == cp)
            return static_cast<unsigned char>(0x80 + i);
    return std::nullopt;
}

// Decodes one well-formed UTF-8 sequence at text[i]; nothing for a byte that does not
// start one (stray continuation, overlong form, surrogate, beyond U+10FFFF, cut short).
std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t i, std::size_t& length) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    char32_t cp;
    char32_t minimum;
    if (lead < 0x80) {
        length = 1;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - i < length) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char c = byte(i + k);
        if ((c & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    return cp;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// Case folding of Windows-1252 letters, so that names in another case match as they do
// for the Windows functions (an "ä" in a name matches "Ä" too).
unsigned char Fold(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 0x20);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 0x20);
    switch (c) {
    case 0x8A:
    case 0x8C:
    case 0x8E:
        return static_cast<unsigned char>(c + 0x10);
    case 0x9F:
        return 0xFF;
    default:
        return c;
    }
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A text bound for one line of the file: a CR or LF in it would end the line early and
// inject a line of its own, so each becomes a blank.
void BlankLineBreaks(std::string& s) {
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
}

// A section or key name as the file holds it (Windows-1252, as the names are compared).
std::string OneLine(const std::string& utf8) {
    std::string s = Utf8ToCp1252(utf8);
    BlankLineBreaks(s);
    return s;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t length = 1;
    for (std::size_t i = 0; i < text.size(); i += length)
        if (!DecodeUtf8(text, i, length)) return false;
    return true;
}

bool IsAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// The UTF-8 text with every byte that starts no well-formed sequence, and every NUL (which
// would make the file binary), replaced by '?'.
std::string WellFormed(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t length = 1;
    for (std::size_t i = 0; i < utf8.size(); i += length) {
        if (utf8[i] != '\0' && DecodeUtf8(utf8, i, length))
            out.append(utf8, i, length);
        else {
            out.push_back('?');
            length = 1;
        }
    }
    return out;
}

// A value as the file holds it, on one line: in Windows-1252, as the Windows program
// writes, when that holds every character and cannot be taken for UTF-8 when read back;
// otherwise (a Cyrillic path, say, or a file that starts with a UTF-8 byte-order mark) in
// UTF-8. Read by DecodeValue, every value comes back as it was written.
std::string EncodeValue(const std::string& utf8, bool utf8File) {
    std::string text = WellFormed(utf8);
    BlankLineBreaks(text);
    if (!utf8File) {
        std::string cp = Utf8ToCp1252(text);
        if ((IsAscii(cp) || !IsValidUtf8(cp)) && Cp1252ToUtf8(cp) == text) return cp;
    }
    return text;
}

// A value of the file as UTF-8: taken as UTF-8 when it is well-formed UTF-8, otherwise
// as Windows-1252; cut, when asked, to what a buffer of 2048 characters holds (at a whole
// character).
std::string DecodeValue(std::string_view value, bool cut) {
    if (IsValidUtf8(value)) {
        if (cut && value.size() > MaxValueLength) {
            std::size_t end = MaxValueLength;
            while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80)
                --end;
            value = value.substr(0, end);
        }
        return std::string(value);
    }
    if (cut && value.size() > MaxValueLength) value = value.substr(0, MaxValueLength);
    return Cp1252ToUtf8(std::string(value));
}

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

// One line of the file: its text runs from begin to contentEnd, its line end (CR LF, LF, a
// lone CR, or nothing on an unterminated last line) from contentEnd to end.
struct Line {
    std::size_t begin;
    std::size_t contentEnd;
    std::size_t end;
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    // A byte-order mark belongs to no line: the first one starts after it.
    std::size_t begin = text.starts_with(ByteOrderMark) ? ByteOrderMark.size() : 0;
    std::size_t i = begin;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            std::size_t end = i + 1;
            if (c == '\r' && end < text.size() && text[end] == '\n') ++end;
            lines.push_back({begin, i, end});
            begin = i = end;
        } else {
            ++i;
        }
    }
    if (begin < text.size()) lines.push_back({begin, text.size(), text.size()});
    return lines;
}

// The section name of a header line ("[name]", blanks allowed around and inside), or
// nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view content) {
    const std::string_view t = Trim(content);
    if (t.empty() || t.front() != '[') return std::nullopt;
    const std::size_t close = t.find(']');
    return Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

struct Entry {
    std::string_view key;
    std::string_view value;
};

// The key and value of an entry line; nothing for a comment or a line without "=".
std::optional<Entry> EntryOf(std::string_view content) {
    const std::string_view t = Trim(content);
    if (t.empty() || t.front() == ';') return std::nullopt;
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return Entry{Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))};
}

// Where a section and a key stand in a file: the header line of the first section of
// that name, the line after its last non-blank line (where a new key goes), and the
// first entry of the key in it.
struct Location {
    std::optional<std::size_t> header;
    std::size_t insertAfter = 0;
    std::optional<std::size_t> entry;
};

Location Locate(const std::string& text, const std::vector<Line>& lines, std::string_view section,
                std::string_view key) {
    Location loc;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view content(text.data() + lines[i].begin,
                                       lines[i].contentEnd - lines[i].begin);
        if (!loc.header) {
            const auto name = SectionName(content);
            if (name && SameName(*name, section)) {
                loc.header = i;
                loc.insertAfter = i;
            }
            continue;
        }
        if (SectionName(content)) break;
        if (!Trim(content).empty()) loc.insertAfter = i;
        if (!loc.entry) {
            const auto entry = EntryOf(content);
            if (entry && SameName(entry->key, key)) loc.entry = i;
        }
    }
    return loc;
}

// The whole file, or nothing when it does not exist or cannot be read. A file that is not
// 8-bit text (UTF-16, anything with NUL bytes) would read as an empty design and gain a
// second section when written: it is an error.
std::optional<std::string> ReadWholeFile(const std::string& fileName) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::path(fileName), ec)) return std::nullopt;
    if (const std::uintmax_t size = fs::file_size(fs::path(fileName), ec);
        !ec && size > IniFile::MaxFileSize)
        throw IniReadError(fileName, "at " + std::to_string(size) +
                                         " bytes it is too large for a settings file");
    std::ifstream in(fs::path(fileName), std::ios::binary);
    if (!in) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    if (text.find('\0') != std::string::npos || text.starts_with("\xFF\xFE") ||
        text.starts_with("\xFE\xFF"))
        throw IniReadError(fileName);
    return text;
}

// The line end a file uses: that of its first line; CR LF, as the Windows program writes,
// for a new file or one without any line end.
std::string LineEndOf(const std::string& text, const std::vector<Line>& lines) {
    if (!lines.empty() && lines.front().end > lines.front().contentEnd)
        return text.substr(lines.front().contentEnd, lines.front().end - lines.front().contentEnd);
    return "\r\n";
}

// The text with one key written: its value replaced (the key keeps its spelling; blanks
// and the old value go), or the key added after the last non-blank line of its section, or
// the section added at the end. Every other byte stays as it was.
std::string WithKey(const std::string& text, const std::string& section, const std::string& key,
                    const std::string& value) {
    const std::string sectionName = OneLine(section);
    const std::string keyName = OneLine(key);
    const std::string valueText = EncodeValue(value, text.starts_with(ByteOrderMark));
    const std::vector<Line> lines = SplitLines(text);
    const std::string eol = LineEndOf(text, lines);
    const Location loc = Locate(text, lines, sectionName, keyName);

    std::string out;
    out.reserve(text.size() + sectionName.size() + keyName.size() + valueText.size() + 16);
    if (loc.entry) {
        const Line& line = lines[*loc.entry];
        const auto entry =
            EntryOf(std::string_view(text.data() + line.begin, line.contentEnd - line.begin));
        out.append(text, 0, line.begin);
        out.append(entry->key).append("=").append(valueText);
        out.append(text, line.contentEnd, std::string::npos);
    } else if (loc.header) {
        const Line& after = lines[loc.insertAfter];
        out.append(text, 0, after.end);
        if (after.end == after.contentEnd) out.append(eol); // unterminated last line
        out.append(keyName).append("=").append(valueText).append(eol);
        out.append(text, after.end, std::string::npos);
    } else {
        out = text;
        if (out.size() > (text.starts_with(ByteOrderMark) ? ByteOrderMark.size() : 0) &&
            out.back() != '\n' && out.back() != '\r')
            out.append(eol);
        out.append("[").append(sectionName).append("]").append(eol);
        out.append(keyName).append("=").append(valueText).append(eol);
    }
    return out;
}

} // namespace

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName)) {}

std::optional<std::string> IniFile::ReadValue(const std::string& section, const std::string& key,
                                              bool cut) const {
    const auto& text = Text();
    if (!text) return std::nullopt;
    const std::vector<Line> lines = SplitLines(*text);
    const Location loc = Locate(*text, lines, OneLine(section), OneLine(key));
    if (!loc.entry) return std::nullopt;
    const Line& line = lines[*loc.entry];
    std::string_view value =
        EntryOf(std::string_view(text->data() + line.begin, line.contentEnd - line.begin))->value;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return DecodeValue(value, cut);
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
    return ReadValue(section, key, true).value_or(def);
}

const std::optional<std::string>& IniFile::Text() const {
    // A file replaced by a rename is a new inode; one rewritten in place keeps its inode but
    // changes size or time, unless two writes fall into one tick of the file system's clock
    // with the same size, which only a writer outside this object can do between two reads.
    struct stat st {};
    const bool exists = ::stat(fileName_.c_str(), &st) == 0;
    const auto time = exists ? (static_cast<std::uintmax_t>(st.st_mtim.tv_sec) << 30) ^
                                   static_cast<std::uintmax_t>(st.st_mtim.tv_nsec)
                             : 0;
    const auto size = exists ? static_cast<std::uintmax_t>(st.st_size) : 0;
    const auto inode = exists ? static_cast<std::uintmax_t>(st.st_ino) : 0;
    if (!exists || !textRead_ || size != textSize_ || time != textTime_ || inode != textInode_) {
        text_ = ReadWholeFile(fileName_);
        textRead_ = exists;
        textSize_ = size;
        textTime_ = time;
        textInode_ = inode;
    }
    return text_;
}

std::optional<std::string> IniFile::ReadUncut(const std::string& section,
                                              const std::string& key) const {
    return ReadValue(section, key, false);
}

bool FitsIniValue(const std::string& value) {
    return EncodeValue(value, false).size() <= MaxValueLength;
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
    return IntegerFromText(ReadString(section, key, "")).value_or(def);
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
    const IniWrite write{section, key, value};
    WriteStrings({&write, 1});
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

std::string IniFile::WithWrites(std::span<const IniWrite> writes) const {
    const fs::path target(fileName_);
    std::error_code ec;
    const fs::file_status status = fs::status(target, ec);
    std::string text;
    if (fs::exists(status)) {
        if (!fs::is_regular_file(status)) throw IniWriteError(fileName_);
        // Checked here, before the file is read, though the writer checks it again.
        if (IsReadOnly(status)) throw IniWriteError(fileName_);
        auto existing = ReadWholeFile(fileName_);
        // A file that cannot be read cannot be rewritten without losing its other keys.
        if (!existing) throw IniWriteError(fileName_);
        text = std::move(*existing);
    } else if (ec && ec != std::errc::no_such_file_or_directory) {
        throw IniWriteError(fileName_);
    }
    // Each write applies to the text the one before it left, exactly as one write after
    // another would find the file.
    for (const IniWrite& write : writes)
        text = WithKey(text, write.section, write.key, write.value);
    return text;
}

void IniFile::WriteStrings(std::span<const IniWrite> writes) {
    const std::string text = WithWrites(writes);
    textRead_ = false; // read again after this write, whatever its size and time
    // Through a symbolic link the file it points to is replaced, not the link.
    const fs::path target(fileName_);
    std::error_code ec;
    fs::path real = target;
    if (fs::is_symlink(fs::symlink_status(target, ec))) {
        real = fs::weakly_canonical(target, ec);
        if (ec) throw IniWriteError(fileName_);
    }
    // The directory is not synced: after a power failure the rename may be lost, but the
    // file is then the complete old one, never a truncated new one.
    try {
        ReplaceFile(real, text, {.keepPermissions = true, .inPlaceFallback = true});
    } catch (const AtomicFileError&) {
        throw IniWriteError(fileName_);
    }
}

std::string Utf8ToCp1252(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::size_t length = 1;
        const auto cp = DecodeUtf8(utf8, i, length);
        if (!cp) {
            out.push_back('?');
            ++i;
            continue;
        }
        const auto byte = Cp1252Byte(*cp);
        out.push_back(byte ? static_cast<char>(*byte) : '?');
        i += length;
    }
    return out;
}

std::string Cp1252ToUtf8(const std::string& cp1252) {
    std::string out;
    out.reserve(cp1252.size() + cp1252.size() / 2);
    for (const char ch : cp1252) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else if (c < 0xA0) {
            const char16_t cp = HighControlTable[c - 0x80];
            AppendUtf8(out, cp != 0 ? cp : 0xFFFD);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

std::optional<int> IntegerFromText(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    } else {
        while (i < text.size() && text[i] == ' ')
            ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            negative = text[i] == '-';
            ++i;
        }
        if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
            base = 16;
            ++i;
        }
    }
    if (i >= text.size()) return std::nullopt;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (base == 16 && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        // One past INT_MAX still fits, for "-2147483648"; beyond that no int can hold it.
        if (value > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return std::nullopt;
    return static_cast<int>(value);
}

} // namespace tarn
