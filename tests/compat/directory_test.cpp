// The POSIX directory search (FindFirstFileA and the rest) on real folders.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "compat/win32.h"
#include "support.h"

namespace {

using Listing = std::vector<std::pair<std::string, bool>>;  // name, directory

Listing search(const std::string& pattern)
{
    Listing found;
    WIN32_FIND_DATAA findData;
    HANDLE handle = FindFirstFileA(pattern.c_str(), &findData);
    if (handle == INVALID_HANDLE_VALUE)
        return found;
    do
        found.emplace_back(findData.cFileName, (findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    while (FindNextFileA(handle, &findData));
    EXPECT_TRUE(FindClose(handle));
    return found;
}

TEST(DirectorySearch, MatchesWavInAnyCaseAndSortsByNameAsNtfsDoes)
{
    support::TempDir dir;
    for (const char* name : {"b.WAV", "a.wav", "A.wav", "C.wav", "_x.wav", ".hidden.wav", "notes.txt", "x.wave", "wav",
                             ".wav.bak", "d.Wav", "ab.wav", "a_.wav", "Z.wav"})
        support::writeBytes(dir / name, "");

    // Letters compare in upper case: "_" and the other ASCII characters
    // between "Z" and "a" come after the letters.
    EXPECT_EQ(search(dir / "*.wav"), (Listing{{".hidden.wav", false},
                                              {"A.wav", false},
                                              {"a.wav", false},
                                              {"ab.wav", false},
                                              {"a_.wav", false},
                                              {"b.WAV", false},
                                              {"C.wav", false},
                                              {"d.Wav", false},
                                              {"Z.wav", false},
                                              {"_x.wav", false}}));
    EXPECT_EQ(search(dir / "?.wav").size(), 6u);
    EXPECT_EQ(search(dir / "*.mp3"), Listing{});
}

TEST(DirectorySearch, FlagsDirectoriesAndLinksToThemButNothingElse)
{
    support::TempDir dir;
    mkdir((dir / "folder.wav").c_str(), 0700);
    ASSERT_EQ(symlink("folder.wav", (dir / "link-to-folder.wav").c_str()), 0);
    ASSERT_EQ(symlink("missing", (dir / "broken.wav").c_str()), 0);
    ASSERT_EQ(symlink("loop.wav", (dir / "loop.wav").c_str()), 0);
    mkfifo((dir / "pipe.wav").c_str(), 0600);
    support::writeBytes(dir / "real.wav", "RIFF");
    ASSERT_EQ(symlink("real.wav", (dir / "link-to-file.wav").c_str()), 0);

    EXPECT_EQ(search(dir / "*.wav"), (Listing{{"broken.wav", false},
                                              {"folder.wav", true},
                                              {"link-to-file.wav", false},
                                              {"link-to-folder.wav", true},
                                              {"loop.wav", false},
                                              {"pipe.wav", false},
                                              {"real.wav", false}}));
}

TEST(DirectorySearch, SearchesTheWorkingFolderAndKeepsNamesAsBytes)
{
    support::TempDir dir;
    const std::vector<std::string> names = {"with space.wav",           "quote\"'.wav",
                                            "$(touch x).wav",           "new\nline.wav",
                                            "\xff\xfe latin1 \xe9.wav", std::string(251, 'n') + ".wav"};
    for (const std::string& name : names)
        support::writeBytes(dir / name, "");

    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const Listing found = search("*.wav");
    char here[4096];
    const DWORD length = GetCurrentDirectoryA(sizeof here, here);
    char tiny[4];
    const DWORD needed = GetCurrentDirectoryA(sizeof tiny, tiny);
    ASSERT_EQ(chdir(before), 0);

    ASSERT_EQ(found.size(), names.size());
    for (const std::string& name : names)
        EXPECT_NE(std::find(found.begin(), found.end(), std::make_pair(name, false)), found.end()) << name;
    EXPECT_EQ(std::string(here, length), dir.path());
    EXPECT_EQ(needed, dir.path().size() + 1);
}

TEST(DirectorySearch, AnEmptyOrMissingFolderFindsNothingAndSaysWhich)
{
    support::TempDir dir;
    WIN32_FIND_DATAA findData;
    EXPECT_EQ(FindFirstFileA((dir / "*.wav").c_str(), &findData), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA((dir / "missing/*.wav").c_str(), &findData), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(FindNextFileA(INVALID_HANDLE_VALUE, &findData));

    support::writeBytes(dir / "one.wav", "");
    HANDLE search = FindFirstFileA((dir / "*.wav").c_str(), &findData);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FindNextFileA(search, &findData));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    FindClose(search);
    // A folder that cannot be read: Program.AnEmptyFolderEndsWithStatusOne…
    // (it takes a user other than root).
}

}  // namespace
