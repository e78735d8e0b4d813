#include "core/scan/FileIdentity.hpp"
#include "core/common/CleanupProblem.hpp"
#include "core/common/DecodingError.hpp"
#include "core/common/FileError.hpp"
#include "core/scan/FileNode.hpp"
#include "tests/support/TestSupport.hpp"
#include "tests/support/TreeFixtures.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

TEST(FileIdentity, CapturesTheObjectItselfNeverTheLinkTarget) {
    TempDir dir;
    writeFile(dir.at("target"), "12345");
    makeSymlink(dir.at("target"), dir.at("link"));

    auto file = FileIdentity::capture(Url::file(dir.at("target")));
    EXPECT_TRUE(file.isRegularFile());
    EXPECT_EQ(file.size, 5);
    auto link = FileIdentity::capture(Url::file(dir.at("link")));
    EXPECT_TRUE(link.isSymbolicLink());
    EXPECT_FALSE(link.sameObject(file));

    int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    EXPECT_TRUE(FileIdentity::capture(folder, "link").isSymbolicLink());
    EXPECT_EQ(FileIdentity::capture(folder, "target"), file);
    for (const char* bad : {"a/b", ".", "..", "/etc"}) {
        try {
            FileIdentity::capture(folder, bad);
            ADD_FAILURE() << bad;
        } catch (const CleanupProblem& problem) {
            EXPECT_EQ(problem.message, "The file in the opened parent folder cannot be verified.");
        }
    }
    EXPECT_THROW(FileIdentity::capture(folder, "missing"), CleanupProblem);
    ::close(folder);

    EXPECT_THROW(FileIdentity::capture(-1), CleanupProblem);
    try {
        FileIdentity::capture(Url::file(dir.at("missing")));
        ADD_FAILURE();
    } catch (const FileError& error) {
        EXPECT_EQ(error.code, 256);
        EXPECT_EQ(error.path, dir.at("missing"));
    }
}

TEST(FileIdentity, ThreeStrengthsOfComparison) {
    FileIdentity a;
    a.device = 7;
    a.inode = 42;
    a.mode = S_IFREG | 0644;
    a.linkCount = 1;
    a.size = 10;
    a.modifiedSeconds = 100;
    a.changedSeconds = 200;

    FileIdentity changedOnly = a;
    changedOnly.changedNanoseconds = 5;
    EXPECT_TRUE(a.matchesForRestore(changedOnly));
    EXPECT_FALSE(a == changedOnly);

    FileIdentity permissions = a;
    permissions.mode = S_IFREG | 0600;
    EXPECT_TRUE(a.sameObject(permissions));
    EXPECT_FALSE(a.matchesForRestore(permissions));

    FileIdentity resized = a;
    resized.size = 11;
    EXPECT_TRUE(a.sameObject(resized));
    EXPECT_FALSE(a.matchesForRestore(resized));

    FileIdentity folder = a;
    folder.mode = S_IFDIR | 0644;
    EXPECT_FALSE(a.sameObject(folder));

    // The same inode number on another file system is another object.
    FileIdentity elsewhere = a;
    ++elsewhere.device;
    EXPECT_FALSE(a.sameObject(elsewhere));
}

TEST(FileIdentity, JsonHasNineIntegersAndDecodingIsStrict) {
    FileIdentity identity;
    identity.device = -5;
    identity.inode = 0xFFFFFFFFFFFFFFF0ULL;
    identity.mode = 0xA1FF;
    identity.linkCount = 3;
    identity.size = 1 << 20;
    identity.modifiedSeconds = -1;
    identity.modifiedNanoseconds = 999999999;
    identity.changedSeconds = 1700000000;
    identity.changedNanoseconds = 1;

    nlohmann::json json = identity;
    EXPECT_EQ(json.size(), 9u);
    for (auto& [key, value] : json.items()) {
        EXPECT_TRUE(value.is_number_integer()) << key;
    }
    EXPECT_EQ(nlohmann::json::parse(json.dump()).get<FileIdentity>(), identity);

    auto missing = json;
    missing.erase("changedNanoseconds");
    EXPECT_THROW(missing.get<FileIdentity>(), DecodingError);

    for (auto [key, value] :
         std::vector<std::pair<std::string, nlohmann::json>>{{"mode", 70000},
                                                             {"linkCount", -1},
                                                             {"device", 3000000000LL},
                                                             {"inode", -1},
                                                             {"size", "12"},
                                                             {"modifiedSeconds", 1.5}}) {
        auto bad = json;
        bad[key] = value;
        EXPECT_THROW(bad.get<FileIdentity>(), DecodingError) << key;
    }
}

TEST(FileNode, NavigationPathLeadsDownOrNowhere) {
    FileNode tree =
        folderNode("/r", {folderNode("/r/a", {folderNode("/r/a/b", {fileNode("/r/a/b/c.txt", 1)})}),
                          folderNode("/r/ab", {fileNode("/r/ab/x", 1)})});
    EXPECT_EQ(tree.name(), "r");

    auto self = tree.navigationPath(Url::file("/r", true));
    ASSERT_TRUE(self);
    EXPECT_TRUE(self->empty());

    auto deep = tree.navigationPath(Url::file("/r/a/b/c.txt"));
    ASSERT_TRUE(deep);
    ASSERT_EQ(deep->size(), 3u);
    EXPECT_EQ((*deep)[0]->name(), "a");
    EXPECT_EQ((*deep)[1]->name(), "b");
    EXPECT_EQ((*deep)[2]->name(), "c.txt");

    auto sibling = tree.navigationPath(Url::file("/r/ab/x"));
    ASSERT_TRUE(sibling);
    EXPECT_EQ(sibling->size(), 2u);

    EXPECT_FALSE(tree.navigationPath(Url::file("/elsewhere/c.txt")));
    EXPECT_FALSE(tree.navigationPath(Url::file("/r/a/b/c.txt", true)))
        << "the folder form is a different URL";
}
