// The design a project stores in "TarnProject.ini": what a run writes and what the window,
// tarn-cli and the next start read back. Every key of that file is named in
// ProjectSettings.cpp only, in one table with its section and type; a member's initialiser
// below is the key's default. A new key is a member here and a row there.
#pragma once

#include <array>
#include <string>

namespace tarn {

class IniFile;

struct ProjectSettings {
    // The four frequency fields as typed, unusable texts included ("Frequency1".."4").
    std::array<std::string, 4> frequencies{};
    // The filter order the run used ("FilterOrder").
    int filterOrder = 10;
    // The number of ways ("X-way-system"): written for the user, never read back.
    int ways = 1;

    // The design stored in the file; each key that is missing or unreadable keeps its
    // default. A missing file gives the defaults.
    static ProjectSettings Load(const IniFile& file);
    // The text of the file with every key written, in the table's order (every other line
    // of the file kept), for one atomic replacement of the file. Throws IniWriteError when
    // the file exists but cannot be rewritten.
    std::string StoredText(const IniFile& file) const;
};

} // namespace tarn
