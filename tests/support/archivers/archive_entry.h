// One decoded archive entry: its name as stored (with the code page it is stored in) and its content.
#pragma once
#include <string>
#include <vector>

struct ArchiveEntry {
    std::string name;      // bytes as stored in the archive
    unsigned codePage;     // 932 or CP_UTF8 (65001)
    bool folder;
    std::string content;
};

typedef std::vector<ArchiveEntry> ArchiveEntries;
