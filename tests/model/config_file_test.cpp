#include "model/config_file.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tk7v;

TEST(ConfigFile, OnlyExactly512BytesLoadAndOnlyTheParameterStretchIsTaken) {
    for (std::size_t size : {0u, 1u, 238u, 511u, 513u, 1024u}) {
        ParameterImage img;
        img.fill(0x5A);
        std::vector<std::uint8_t> contents(size, 0x11);
        EXPECT_FALSE(TakeConfigFile(contents, img)) << size;
        EXPECT_EQ(img[0], 0x5A);
    }
    ParameterImage img;
    img.fill(0x5A);
    std::vector<std::uint8_t> contents(512, 0x00);
    std::fill(contents.begin() + 238, contents.end(), 0x33);
    ASSERT_TRUE(TakeConfigFile(contents, img));
    EXPECT_EQ(img[0], 0x00);
    EXPECT_EQ(img[237], 0x00);
    EXPECT_EQ(img[238], 0x5A);
    EXPECT_EQ(img[511], 0x5A);
}

TEST(ConfigFile, BackupAndPictureNames) {
    EXPECT_EQ(BackupPathFor("/a/settings.cfg"), "/a/settings.BAK");
    EXPECT_EQ(BackupPathFor("/a/settings"), "/a/settings.BAK");
    EXPECT_EQ(BackupPathFor("/a.b/settings"), "/a.b/settings.BAK");
    EXPECT_EQ(BackupPathFor("/a/x.tar.cfg"), "/a/x.tar.BAK");
#ifndef _WIN32
    // Here a backslash is part of the name, not a folder separator.
    EXPECT_EQ(BackupPathFor("/d/a.b\\c"), "/d/a.BAK");
    EXPECT_EQ(PictureExtensionOf("/d/x.png\\y"), PictureExtension::None);
#endif
    EXPECT_EQ(PictureExtensionOf("/a/b.JpG"), PictureExtension::Jpeg);
    EXPECT_EQ(PictureExtensionOf("/a/b.jpeg"), PictureExtension::Jpeg);
    EXPECT_EQ(PictureExtensionOf("/a/b.Png"), PictureExtension::Png);
    EXPECT_EQ(PictureExtensionOf("/a.png/b"), PictureExtension::None);
    EXPECT_EQ(PictureExtensionOf("/a/b.cfg"), PictureExtension::None);
}
