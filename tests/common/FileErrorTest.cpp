#include "core/common/FileError.hpp"

#include <cerrno>
#include <gtest/gtest.h>

using varnok::FileError;

TEST(FileError, DescriptionsReadAsSentencesWithAndWithoutAPath) {
    EXPECT_STREQ(
        FileError(FileError::readNoPermission).what(),
        "The file couldn\u2019t be opened because you don\u2019t have permission to view it.");
    EXPECT_STREQ(FileError(FileError::readUnknown, "/a/b c/").what(),
                 "The file \u201cb c\u201d couldn\u2019t be opened.");
    EXPECT_STREQ(FileError(FileError::writeNoPermission, "/a/report.json").what(),
                 "You don\u2019t have permission to save the file \u201creport.json\u201d.");
    EXPECT_STREQ(FileError(FileError::writeNoPermission).what(),
                 "You don\u2019t have permission to save the file.");
}

TEST(FileError, ErrnoMapsToTheCodesCallersKeyOn) {
    EXPECT_EQ(FileError::fromReadErrno(ENOENT, "/x").code, 260);
    EXPECT_EQ(FileError::fromReadErrno(EACCES, "/x").code, 257);
    EXPECT_EQ(FileError::fromReadErrno(EIO, "/x").code, 256);
    EXPECT_EQ(FileError::fromWriteErrno(EEXIST, "/x").code, 516);
    EXPECT_EQ(FileError::fromWriteErrno(ENOSPC, "/x").code, 640);
    EXPECT_EQ(FileError::fromWriteErrno(EROFS, "/x").code, 642);
    EXPECT_EQ(FileError::fromWriteErrno(EACCES, "/x").posixError, EACCES);
}
