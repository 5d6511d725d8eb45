// IniFile: the Windows private-profile read and write behaviour, for "Tarn.ini" and
// "TarnProject.ini".
//
// Files are 8-bit text. A value is written in Windows-1252, as the Windows program writes
// it, unless that cannot hold it (or the file starts with a UTF-8 byte-order mark): then in
// UTF-8. A value that is well-formed UTF-8 is read as UTF-8, any other as Windows-1252, so
// every value reads back as written. This class takes and returns UTF-8. Section and key names
// match case-insensitively, blanks around names and values are ignored, lines may end in CR LF or
// LF. A write replaces one key's value (or adds the key, or the section) and keeps every other line
// of the file byte for byte; it reaches the disk at once, through a temporary file renamed over the
// old one (core/AtomicFile.h), so a crash never leaves a truncated settings file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarn {

// One key to write: its section, its name and its value.
struct IniWrite {
    std::string section;
    std::string key;
    std::string value;
};

class IniFile {
  public:
    // fileName: the file's full name.
    explicit IniFile(std::string fileName);

    // The key's value, at most 2047 characters, or def when the file, the section or the
    // key does not exist. Every read throws IniReadError for a file that is not 8-bit text.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // The whole value, however long; nothing for a missing file, section or key.
    std::optional<std::string> ReadUncut(const std::string& section, const std::string& key) const;
    // The key's value read by IntegerFromText, or def for a missing or unreadable value.
    int ReadInteger(const std::string& section, const std::string& key, int def) const;

    // Throws IniWriteError ("In <file> kann nicht geschrieben werden") when the file cannot
    // be created or written.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    // Several writes, in their order, in one replacement of the file: the file that results
    // is byte for byte the one the writes made one by one would leave, and a reader (or a
    // crash) sees either none of them or all.
    void WriteStrings(std::span<const IniWrite> writes);
    // The text the file would hold after the writes, for a caller that writes it itself.
    // Throws IniWriteError when the file exists but cannot be rewritten.
    std::string WithWrites(std::span<const IniWrite> writes) const;

    // Settings files hold a few hundred bytes; a larger one than this is refused rather
    // than read (IniReadError), so a stray multi-gigabyte file cannot stall the start.
    static constexpr std::uintmax_t MaxFileSize = 64u << 20;

  private:
    std::optional<std::string> ReadValue(const std::string& section, const std::string& key,
                                         bool cut) const;
    // The file's text, read once for all the keys a caller reads in a row, and read again
    // only when the file has changed size or time since.
    const std::optional<std::string>& Text() const;

    std::string fileName_;
    mutable std::optional<std::string> text_;
    mutable std::uintmax_t textSize_ = 0;
    mutable std::uintmax_t textTime_ = 0;
    mutable std::uintmax_t textInode_ = 0;
    mutable bool textRead_ = false;
};

// True when the file holds the value whole, so that it reads back uncut: at most 2047
// characters as stored.
bool FitsIniValue(const std::string& value);

// Windows-1252 <-> UTF-8. Characters that Windows-1252 cannot hold become '?', so a text
// is never cut short; undefined bytes read as U+FFFD.
std::string Utf8ToCp1252(const std::string& utf8);
std::string Cp1252ToUtf8(const std::string& cp1252);

// The integer a text holds, by the rule of the settings files and the spin edit:
// decimal with leading blanks and a sign, or hexadecimal behind "0x"/"0X" (text longer
// than two characters), "$", "x" or "X". Nothing for any other text or one out of range.
std::optional<int> IntegerFromText(const std::string& text);

} // namespace tarn
