#include "fake_win32.h"

#include <cstring>

namespace fake {

std::vector<Entry> folder;
std::size_t generatedFiles = 0;
std::vector<std::string> patterns;
DWORD searchError = ERROR_FILE_NOT_FOUND;
std::string currentFolder = "/fake/folder";
std::vector<Call> calls;
void (*onSleep)() = nullptr;

namespace {
std::size_t playLimit = 0;
std::size_t nextEntry = 0;
std::size_t filePlays = 0;
int searchHandle;  // its address is the one search handle
DWORD lastError = 0;

bool report(WIN32_FIND_DATAA* findData)
{
    std::memset(findData, 0, sizeof *findData);
    if (nextEntry < folder.size()) {
        const Entry& entry = folder[nextEntry];
        findData->dwFileAttributes = entry.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        std::strncpy(findData->cFileName, entry.name.c_str(), MAX_PATH - 1);
    } else if (nextEntry < folder.size() + generatedFiles) {
        findData->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
        std::memset(findData->cFileName, 'n', MAX_PATH - 1);
    } else {
        return false;
    }
    ++nextEntry;
    return true;
}
}  // namespace

void reset()
{
    folder.clear();
    generatedFiles = 0;
    patterns.clear();
    searchError = ERROR_FILE_NOT_FOUND;
    currentFolder = "/fake/folder";
    calls.clear();
    playLimit = 0;
    onSleep = nullptr;
    nextEntry = 0;
    filePlays = 0;
}

void endRunAfter(std::size_t plays)
{
    calls.clear();
    playLimit = plays;
    filePlays = 0;
}

std::vector<std::string> playedNames()
{
    std::vector<std::string> names;
    for (const Call& call : calls)
        if (call.kind == Call::Play && (call.flags & SND_FILENAME) != 0)
            names.push_back(call.name);
    return names;
}

}  // namespace fake

HANDLE FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData)
{
    fake::patterns.push_back(lpFileName);
    fake::nextEntry = 0;
    if (fake::report(lpFindFileData))
        return &fake::searchHandle;
    fake::lastError = fake::searchError;
    return INVALID_HANDLE_VALUE;
}

DWORD GetLastError()
{
    return fake::lastError;
}

void SetLastError(DWORD dwErrCode)
{
    fake::lastError = dwErrCode;
}

BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData)
{
    return hFindFile == &fake::searchHandle && fake::report(lpFindFileData);
}

BOOL FindClose(HANDLE hFindFile)
{
    return hFindFile == &fake::searchHandle;
}

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer)
{
    const std::string& folder = fake::currentFolder;
    if (nBufferLength < folder.size() + 1)
        return static_cast<DWORD>(folder.size() + 1);
    std::memcpy(lpBuffer, folder.c_str(), folder.size() + 1);
    return static_cast<DWORD>(folder.size());
}

void Sleep(DWORD dwMilliseconds)
{
    if (fake::onSleep != nullptr)
        fake::onSleep();
    fake::calls.push_back({fake::Call::Wait, dwMilliseconds, std::string(), 0});
}

BOOL PlaySoundA(LPCSTR pszSound, HMODULE, DWORD fdwSound)
{
    const bool file = (fdwSound & SND_FILENAME) != 0 && (fdwSound & SND_ALIAS_ID) != SND_ALIAS_ID;
    fake::calls.push_back({fake::Call::Play, 0, file ? std::string(pszSound) : std::string(), fdwSound});
    if (file && ++fake::filePlays == fake::playLimit)
        throw fake::EndOfRun();
    return TRUE;
}
