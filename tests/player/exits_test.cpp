// The messages that end a run: no recordings, and why.

#include <gtest/gtest.h>

#include "exits.h"
#include "fake_system.h"

namespace {

using NoLines = FakeSystem;

TEST_F(NoLines, SaysWhyAndShowsTheFolderWithoutControlCharacters)
{
    fake::currentFolder = "/home/\x1b]0;owned\x07x";
    collect();
    EXPECT_EQ(searchError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EXIT(exitNoLines(searchError), ::testing::ExitedWithCode(1),
                "В папке \"/home/\\\\x1B\\]0;owned\\\\x07x\" нет ни одного файла \\*\\.wav, играть нечего");
    // Only directories: none found either.
    fake::folder = {{"x.wav", true}};
    collect();
    EXPECT_EQ(searchError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // A folder that cannot be read says why.
    fake::folder.clear();
    fake::searchError = ERROR_ACCESS_DENIED;
    collect();
    EXPECT_EXIT(exitNoLines(searchError), ::testing::ExitedWithCode(1), "не удалось прочитать \\(нет доступа\\)");
    fake::searchError = ERROR_READ_FAULT;
    collect();
    EXPECT_EXIT(exitNoLines(searchError), ::testing::ExitedWithCode(1), "не удалось прочитать \\(ошибка 30\\)");
}

}  // namespace
