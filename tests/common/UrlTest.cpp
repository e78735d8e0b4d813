#include "core/common/Url.hpp"

#include <gtest/gtest.h>
#include <pthread.h>
#include <thread>
#include <vector>

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

// URLs made by appending a name share their parent's storage; they must behave exactly as the
// same URL made from the whole path.
TEST(Url, AppendedNamesBehaveAsWholePaths) {
    const std::vector<Url> bases = {Url::file("/", true), Url::file("/a", false),
                                    Url::file("/a b", true),
                                    Url::file("/x", true).appendingPathComponent("y z", true),
                                    Url::file("/x", true).appendingPathComponent("f", false)};
    for (const Url& base : bases) {
        const std::string prefix = base.path() == "/" ? "/" : base.path() + "/";
        for (const char* name :
             {"n", "a b", "100%", "#?;", "\xC3\xA9t\xC3\xA9", "bad\xFF", "..", ".", "-"}) {
            for (bool folder : {false, true}) {
                const Url linked = base.appendingPathComponent(name, folder);
                const Url whole = Url::file(prefix + name, folder);
                SCOPED_TRACE(whole.absoluteString());
                EXPECT_EQ(linked, whole);
                EXPECT_EQ(whole, linked);
                EXPECT_FALSE(linked < whole || whole < linked);
                EXPECT_EQ(linked.hash(), whole.hash());
                EXPECT_EQ(linked.path(), whole.path());
                EXPECT_EQ(linked.absoluteString(), whole.absoluteString());
                EXPECT_EQ(linked.lastPathComponent(), whole.lastPathComponent());
                EXPECT_EQ(linked.lastPathComponentView(), whole.lastPathComponentView());
                EXPECT_EQ(linked.hasDirectoryPath(), folder);
                EXPECT_TRUE(linked.isFileUrl());
                EXPECT_EQ(linked.deletingLastPathComponent(), whole.deletingLastPathComponent());
                EXPECT_EQ(linked.deletingLastPathComponent().absoluteString(),
                          whole.deletingLastPathComponent().absoluteString());
                EXPECT_EQ(linked.withDirectoryForm(!folder), whole.withDirectoryForm(!folder));
                EXPECT_EQ(linked.withDirectoryForm(!folder).absoluteString(),
                          whole.withDirectoryForm(!folder).absoluteString());
                EXPECT_EQ(linked.standardized(), whole.standardized());
                EXPECT_EQ(*Url::parse(linked.absoluteString()), linked);
                EXPECT_EQ(linked.appendingPathComponent("c").absoluteString(),
                          whole.appendingPathComponent("c").absoluteString());
                EXPECT_NE(linked, whole.withDirectoryForm(!folder));
            }
        }
    }
}

TEST(Url, EqualityComparesWholeTextsWhateverTheirMaking) {
    const Url ab = Url::file("/a", true).appendingPathComponent("b", true);
    // The same text split differently, and different texts of the same length.
    EXPECT_EQ(ab.appendingPathComponent("c"), Url::file("/a/b", true).appendingPathComponent("c"));
    EXPECT_EQ(ab.appendingPathComponent("c"), Url::file("/a/b").appendingPathComponent("c"));
    EXPECT_EQ(ab.appendingPathComponent("c").hash(), Url::file("/a/b/c").hash());
    EXPECT_NE(Url::file("/a").appendingPathComponent("bc"), Url::file("/ab/c"));
    EXPECT_NE(Url::file("/a").appendingPathComponent("bc"), Url::file("/a", true));
    EXPECT_NE(ab.appendingPathComponent("c"), ab.appendingPathComponent("d"));
    EXPECT_NE(ab.appendingPathComponent("c"), Url::file("/x", true).appendingPathComponent("c"));
    EXPECT_NE(ab.appendingPathComponent("c"), Url::file("/a/b/c/d"));
    EXPECT_NE(Url::file("/a/b/c/d"), ab.appendingPathComponent("c"));
    EXPECT_NE(ab.appendingPathComponent("c"), *Url::parse("x:/a/b/c"));
    EXPECT_TRUE(ab.appendingPathComponent("a") < ab.appendingPathComponent("b"));
    EXPECT_NE(ab, Url());
    EXPECT_TRUE(Url().isEmpty());
    EXPECT_EQ(Url(), Url());
    EXPECT_EQ(Url().absoluteString(), "");

    // Names holding a slash, or none, are resolved as a whole path.
    EXPECT_EQ(Url::file("/a", true).appendingPathComponent("b/c/").lastPathComponentView(), "c");
    EXPECT_EQ(Url::file("/a", true).appendingPathComponent("", true), Url::file("/a", true));
}

TEST(Url, LongChainsAreFreedAndComparedWithoutRecursion) {
    // A small stack: anything recursing once per level overflows it.
    pthread_attr_t attributes;
    ASSERT_EQ(::pthread_attr_init(&attributes), 0);
    ASSERT_EQ(::pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
    pthread_t thread;
    auto body = [](void*) -> void* {
        constexpr int depth = 100000;
        Url url = Url::file("/top", true);
        Url other = Url::file("/top", true);
        for (int i = 0; i < depth; ++i) {
            url = url.appendingPathComponent("d", true);
            other = other.appendingPathComponent("d", true);
        }
        EXPECT_EQ(url, other);
        EXPECT_EQ(url.hash(), other.hash());
        EXPECT_EQ(url.path().size(), 4u + 2u * depth);
        EXPECT_NE(url, other.appendingPathComponent("d", true));
        url = Url(); // each drop frees a whole chain
        other = Url();
        return nullptr;
    };
    ASSERT_EQ(::pthread_create(&thread, &attributes, body, nullptr), 0);
    ::pthread_join(thread, nullptr);
    ::pthread_attr_destroy(&attributes);
}

TEST(Url, CopiesSharedAcrossThreadsStayValid) {
    const Url top = Url::file("/shared", true).appendingPathComponent("top", true);
    std::vector<Url> children;
    for (int i = 0; i < 64; ++i) {
        children.push_back(top.appendingPathComponent("c" + std::to_string(i)));
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&children, t] {
            for (int round = 0; round < 2000; ++round) {
                Url copy = children[static_cast<size_t>(round + t) % children.size()];
                Url parent = copy.deletingLastPathComponent();
                Url grandchild = copy.appendingPathComponent("g");
                EXPECT_EQ(grandchild.deletingLastPathComponent().deletingLastPathComponent(),
                          parent);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    children.clear();
    EXPECT_EQ(top.absoluteString(), "file:///shared/top/");
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
