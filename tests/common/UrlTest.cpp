#include "core/common/Url.hpp"

#include <gtest/gtest.h>

using varnok::Url;
namespace PathText = varnok::PathText;

TEST(Url, FolderFormPathAndText) {
    Url folder = Url::file("/home/a/Microsoft Edge", true);
    EXPECT_TRUE(folder.hasDirectoryPath());
    EXPECT_EQ(folder.path(), "/home/a/Microsoft Edge");
    EXPECT_EQ(folder.absoluteString(), "file:///home/a/Microsoft%20Edge/");
    EXPECT_EQ(folder.lastPathComponent(), "Microsoft Edge");

    Url file = Url::file("/home/a/Microsoft Edge", false);
    EXPECT_NE(file, folder) << "equality is by full text, so the folder form matters";
    EXPECT_EQ(file.path(), folder.path());
    EXPECT_EQ(Url::file("/", true).absoluteString(), "file:///");
    EXPECT_EQ(Url::file("/", true).path(), "/");
}

TEST(Url, ParsingGivesBackTheSameUrl) {
    for (const char* path : {"/a b/c%d/é/#x?y;z", "/tmp/x", "/",
                             "/with\x01"
                             "control"}) {
        for (bool folder : {false, true}) {
            Url url = Url::file(path, folder);
            auto parsed = Url::parse(url.absoluteString());
            ASSERT_TRUE(parsed) << url.absoluteString();
            EXPECT_EQ(*parsed, url);
            EXPECT_EQ(parsed->path(), url.path());
        }
    }
    EXPECT_EQ(Url::parse("file:///n%C3%A9v%20x")->path(), "/név x");
    EXPECT_EQ(Url::parse("file://localhost/etc/")->path(), "/etc");
    EXPECT_FALSE(Url::parse("relative/path"));
    EXPECT_FALSE(Url::parse("file://host-without-path"));
    EXPECT_FALSE(Url::parse("file:///bad%2"));
    EXPECT_FALSE(Url::parse("file:///nul%00byte"));
}

TEST(Url, InvalidUtf8SurvivesARoundTrip) {
    Url url = Url::file("/tmp/bad\xff\xfe name", false);
    EXPECT_EQ(url.absoluteString(), "file:///tmp/bad%FF%FE%20name");
    EXPECT_EQ(Url::parse(url.absoluteString())->path(), "/tmp/bad\xff\xfe name");
}

TEST(Url, OtherSchemesKeepTheirText) {
    auto group = Url::parse("varnok-group://treemap");
    ASSERT_TRUE(group);
    EXPECT_FALSE(group->isFileUrl());
    EXPECT_EQ(group->scheme(), "varnok-group");
    Url child = group->appendingPathComponent("More items");
    EXPECT_EQ(child.absoluteString(), "varnok-group://treemap/More%20items");
    EXPECT_EQ(child.lastPathComponent(), "More items");
    EXPECT_NE(child, Url::file("/treemap/More items"));
}

TEST(Url, ParentAndChildren) {
    Url file = Url::file("/a/b/c.txt");
    EXPECT_EQ(file.deletingLastPathComponent(), Url::file("/a/b", true));
    EXPECT_EQ(Url::file("/a", true).deletingLastPathComponent(), Url::file("/", true));
    EXPECT_EQ(Url::file("/a", true).appendingPathComponent("b", true).absoluteString(),
              "file:///a/b/");
    EXPECT_EQ(Url::file("/a/./b/../c/", true).standardized(), Url::file("/a/c", true));
}

TEST(PathText, StandardizeIsLexical) {
    EXPECT_EQ(PathText::standardize("/a/./b/../c/"), "/a/c");
    EXPECT_EQ(PathText::standardize("//a///b"), "/a/b");
    EXPECT_EQ(PathText::standardize("/.."), "/");
    EXPECT_EQ(PathText::standardize("/a/.."), "/");
    EXPECT_EQ(PathText::parent("/a"), "/");
    EXPECT_EQ(PathText::lastComponent("/a/b/"), "b");
}

TEST(PathText, NamesAreBytesAndEquivalenceOnlyRefuses) {
    const std::string composed = "/Users/a/Caf\xC3\xA9";    // é as one code point
    const std::string decomposed = "/Users/a/Cafe\xCC\x81"; // e + combining acute
    EXPECT_FALSE(PathText::equal(composed, decomposed));
    EXPECT_FALSE(PathText::isInside(decomposed + "/x", composed));
    EXPECT_TRUE(PathText::equivalent(composed, decomposed));
    EXPECT_FALSE(PathText::equivalent(composed, "/Users/a/CAF\xC3\x89"));
    EXPECT_TRUE(PathText::isInsideEquivalent(decomposed + "/x", composed));
    EXPECT_FALSE(PathText::isInsideEquivalent(composed, decomposed));
    EXPECT_FALSE(PathText::isInside(composed, composed));
    EXPECT_FALSE(PathText::isInside("/a/bc", "/a/b"));
    EXPECT_TRUE(PathText::isInside("/a", "/"));
    EXPECT_FALSE(PathText::isInside("/", "/"));
}
