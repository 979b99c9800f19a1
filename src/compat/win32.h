// The part of the Win32 API that the player uses.
// On Windows this is the real API; elsewhere the compat layer beside this
// header implements exactly these declarations (and unit tests link a fake).
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <mmsystem.h>

#else

#include <cstdint>

typedef int BOOL;
typedef std::uint32_t DWORD;
typedef void* HANDLE;
typedef void* HMODULE;
typedef char CHAR;
typedef const char* LPCSTR;
typedef char* LPSTR;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define INVALID_HANDLE_VALUE ((HANDLE)(std::intptr_t)-1)

#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
};

// KERNEL32: the calling thread's last error.
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_NO_MORE_FILES 18
#define ERROR_READ_FAULT 30

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// KERNEL32: directory search.
HANDLE FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData);
BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData);
BOOL FindClose(HANDLE hFindFile);
DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);

// KERNEL32: wait.
void Sleep(DWORD dwMilliseconds);

// WINMM: sound.
#define SND_ASYNC 0x00000001
#define SND_FILENAME 0x00020000
#define SND_ALIAS_ID 0x00110000
#define SND_ALIAS_SYSTEMDEFAULT ((DWORD)'S' | ((DWORD)'D' << 8))

BOOL PlaySoundA(LPCSTR pszSound, HMODULE hmod, DWORD fdwSound);

#endif
