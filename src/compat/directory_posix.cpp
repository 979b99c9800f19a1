// The Win32 directory search on POSIX systems.
//
// A pattern is a folder part (optional) and a name part with the wildcards
// '*' and '?', matched with ASCII letters in any case, as on Windows. The
// whole folder is read when the search starts and reported in the order NTFS
// gives (name_order_posix.h), the names decoded from the charset of the
// locale in force. A folder thus yields the same list on every run and every
// copy, and the same as the Windows build.

#include "compat/win32.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "compat/name_order_posix.h"

namespace {

struct Entry {
    compat::NameKey key;  // the name, and what it sorts by
    bool directory;
};

struct Search {
    std::vector<Entry> entries;
    std::size_t next = 0;
};

char upperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool matches(const char* pattern, const char* name)
{
    // Iterative wildcard match with backtracking to the last '*'.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || (*pattern != '\0' && upperAscii(*pattern) == upperAscii(*name))) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

// A directory, or a symbolic link to one; anything else counts as a file.
bool isDirectory(int folder, const dirent* entry)
{
    if (entry->d_type == DT_DIR)
        return true;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
        return false;
    struct stat info;
    return fstatat(folder, entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
}

// The Win32 error for a folder that could not be opened.
DWORD searchError(int error)
{
    switch (error) {
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_READ_FAULT;
    }
}

void report(const Entry& entry, WIN32_FIND_DATAA* findData)
{
    std::memset(findData, 0, sizeof *findData);
    findData->dwFileAttributes = entry.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    const std::string& name = entry.key.bytes;
    std::memcpy(findData->cFileName, name.c_str(), name.size() + 1);
}

// Reads the entries of folder that match namePattern into search, in the
// order NTFS gives; the Win32 error when it finds none.
DWORD readFolder(DIR* folder, const char* namePattern, Search& search)
{
    // A folder removed while it is still open (the working folder, say)
    // reads as empty; it is a folder that is no more.
    struct stat info;
    if (fstat(dirfd(folder), &info) == 0 && info.st_nlink == 0)
        return ERROR_PATH_NOT_FOUND;
    try {
        const compat::NameKeys keyOf(nl_langinfo(CODESET));
        for (;;) {
            errno = 0;
            const dirent* entry = readdir(folder);
            if (entry == nullptr) {
                if (errno != 0)
                    return ERROR_READ_FAULT;
                break;
            }
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                continue;
            if (std::strlen(name) >= MAX_PATH || !matches(namePattern, name))
                continue;
            search.entries.push_back(Entry{keyOf(name), isDirectory(dirfd(folder), entry)});
        }
        std::sort(search.entries.begin(), search.entries.end(),
                  [](const Entry& a, const Entry& b) { return a.key < b.key; });
    } catch (const std::bad_alloc&) {
        search.entries.clear();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return search.entries.empty() ? ERROR_FILE_NOT_FOUND : 0;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData)
{
    const char* slash = std::strrchr(lpFileName, '/');
    const std::string folderName = slash ? std::string(lpFileName, slash + 1) : std::string(".");
    const char* namePattern = slash ? slash + 1 : lpFileName;

    DIR* folder = opendir(folderName.c_str());
    if (folder == nullptr) {
        SetLastError(searchError(errno));
        return INVALID_HANDLE_VALUE;
    }
    std::unique_ptr<Search> search(new (std::nothrow) Search);
    const DWORD error = search != nullptr ? readFolder(folder, namePattern, *search) : ERROR_NOT_ENOUGH_MEMORY;
    closedir(folder);
    if (error != 0) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    report(search->entries[0], lpFindFileData);
    search->next = 1;
    return search.release();  // the handle, until FindClose
}

BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData)
{
    if (hFindFile == nullptr || hFindFile == INVALID_HANDLE_VALUE)
        return FALSE;
    Search* search = static_cast<Search*>(hFindFile);
    if (search->next >= search->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    report(search->entries[search->next++], lpFindFileData);
    return TRUE;
}

BOOL FindClose(HANDLE hFindFile)
{
    if (hFindFile == nullptr || hFindFile == INVALID_HANDLE_VALUE)
        return FALSE;
    const std::unique_ptr<Search> search(static_cast<Search*>(hFindFile));  // ends with this call
    return TRUE;
}

namespace {

// Where the working folder was, once it has been removed: getcwd then fails,
// and the kernel gives the path it had, marked " (deleted)".
bool removedWorkingFolder(std::string& path)
{
    std::vector<char> link(4096);
    for (;;) {
        const ssize_t length = readlink("/proc/self/cwd", link.data(), link.size());
        if (length < 0)
            return false;
        if (static_cast<std::size_t>(length) < link.size()) {
            path.assign(link.data(), static_cast<std::size_t>(length));
            break;
        }
        link.resize(link.size() * 2);
    }
    const std::string mark = " (deleted)";
    if (path.size() <= mark.size() || path[0] != '/' || path.compare(path.size() - mark.size(), mark.size(), mark) != 0)
        return false;
    path.resize(path.size() - mark.size());
    return true;
}

}  // namespace

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer)
{
    std::string path;
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        const int error = errno;
        if (error == ENOENT && removedWorkingFolder(path))
            break;
        if (error != ERANGE)
            return 0;
        buffer.resize(buffer.size() * 2);
    }
    if (path.empty())
        path = buffer.data();
    if (path.size() + 1 > nBufferLength)
        return static_cast<DWORD>(path.size() + 1);  // the size needed, as on Windows
    std::memcpy(lpBuffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}
