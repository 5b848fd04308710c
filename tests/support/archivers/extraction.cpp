// Extraction for the stand-ins. The whole archive is decoded and every name checked before the first byte is
// written, so a damaged archive or one unsafe name leaves the destination untouched.
#include "extraction.h"

#include <windows.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "entry_path.h"
#include "standin_result.h"
#include "tar_reader.h"
#include "zip_reader.h"

namespace {

bool Widen(const std::string &bytes, unsigned codePage, std::wstring &wide)
{
    wide.clear();
    if (bytes.empty())
        return true;
    int length = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0)
        return false;
    wide.resize(length);
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0], length);
    return true;
}

std::string Utf8(const std::wstring &wide)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string bytes(length > 0 ? length : 0, '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0], length, nullptr,
                            nullptr);
    return bytes;
}

bool ReadWholeFile(const std::wstring &path, std::string &data)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < 0x40000000;
    if (ok) {
        data.resize(static_cast<size_t>(size.QuadPart));
        DWORD done = 0;
        ok = data.empty() || (ReadFile(file, &data[0], static_cast<DWORD>(data.size()), &done, nullptr) &&
                              done == data.size());
    }
    CloseHandle(file);
    return ok;
}

bool IsFolder(const std::wstring &path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates the folder and every missing parent. Failures on the way (a drive root, an existing folder) are
// expected; only the end result counts.
bool EnsureFolder(const std::wstring &path)
{
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\')
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
    return IsFolder(path);
}

bool WriteWholeFile(const std::wstring &path, const std::string &content)
{
    // Overwriting must also work on a file left read-only by an earlier extraction.
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    bool ok = content.empty() ||
              (WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &done, nullptr) &&
               done == content.size());
    return CloseHandle(file) && ok;
}

bool EndsWithNoCase(const std::wstring &text, const wchar_t *suffix)
{
    size_t length = lstrlenW(suffix);
    return text.size() > length && lstrcmpiW(text.c_str() + text.size() - length, suffix) == 0;
}

// A gzip that holds no tar is one file, named after the archive without its compression suffix.
std::wstring GunzippedName(const std::wstring &archive)
{
    size_t slash = archive.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? archive : archive.substr(slash + 1);
    if (EndsWithNoCase(name, L".tgz"))
        return name.substr(0, name.size() - 4) + L".tar";
    if (EndsWithNoCase(name, L".gz"))
        return name.substr(0, name.size() - 3);
    return name + L".out";
}

int Decode(const std::string &data, const std::wstring &archive, ArchiveEntries &entries)
{
    if (data.compare(0, 4, "PK\x03\x04") == 0 || data.compare(0, 4, "PK\x05\x06") == 0)
        return ReadZip(data, entries) ? kStandinSuccess : kStandinDamaged;
    if (data.size() >= 2 && static_cast<unsigned char>(data[0]) == 0x1F &&
        static_cast<unsigned char>(data[1]) == 0x8B) {
        std::string plain;
        if (!Gunzip(data, plain))
            return kStandinDamaged;
        if (LooksLikeTar(plain))
            return ReadTar(plain, entries) ? kStandinSuccess : kStandinDamaged;
        ArchiveEntry single;
        single.name = Utf8(GunzippedName(archive));
        single.codePage = CP_UTF8;
        single.folder = false;
        single.content.swap(plain);
        entries.push_back(single);
        return kStandinSuccess;
    }
    if (LooksLikeTar(data))
        return ReadTar(data, entries) ? kStandinSuccess : kStandinDamaged;
    return kStandinDamaged;
}

}  // namespace

int RunExtraction(const char *commandLine)
{
    std::string archiveBytes, destinationBytes;
    if (!ArchiveAndDestination(commandLine, archiveBytes, destinationBytes))
        return kStandinBadCommandLine;
    std::wstring archive, destination;
    if (!Widen(archiveBytes, CP_ACP, archive) || !Widen(destinationBytes, CP_ACP, destination))
        return kStandinBadCommandLine;
    if (destination.back() != L'\\' && destination.back() != L'/')
        destination += L'\\';

    std::string data;
    if (!ReadWholeFile(archive, data))
        return kStandinCannotRead;
    ArchiveEntries entries;
    int decoded = Decode(data, archive, entries);
    if (decoded != kStandinSuccess)
        return decoded;

    std::vector<std::wstring> targets;
    for (const ArchiveEntry &entry : entries) {
        std::wstring name, relative;
        if (!Widen(entry.name, entry.codePage, name))
            return kStandinDamaged;
        if (!SafeRelativePath(name, relative) || (relative.empty() && !entry.folder))
            return kStandinUnsafeName;
        targets.push_back(destination + relative);
    }

    if (!EnsureFolder(destination.substr(0, destination.size() - 1)))
        return kStandinCannotWrite;
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::wstring &target = targets[i];
        if (entries[i].folder) {
            if (!EnsureFolder(target.back() == L'\\' ? target.substr(0, target.size() - 1) : target))
                return kStandinCannotWrite;
            continue;
        }
        size_t slash = target.find_last_of(L'\\');
        if (!EnsureFolder(target.substr(0, slash)) || !WriteWholeFile(target, entries[i].content))
            return kStandinCannotWrite;
    }
    return kStandinSuccess;
}
