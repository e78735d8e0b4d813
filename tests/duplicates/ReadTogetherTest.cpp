// The search that reads files of one size together must find exactly what hashing each file and
// then comparing finds, however the files of one size split.

#include "core/duplicates/DuplicateEngine.hpp"

#include "tests/duplicates/DuplicateTestSupport.hpp"
#include "tests/support/TestSupport.hpp"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

// The groups and skipped files in result order, then the counts.
std::string summary(const DuplicateResult& result, const std::string& root) {
    return describe(result, root) + " hashed " + std::to_string(result.hashedFiles) + "/" +
           std::to_string(result.bytesHashed);
}

std::string numbered(const std::string& prefix, int number) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%02d", number);
    return prefix + digits;
}

// `names` as one group, in the form summary() prints.
std::string group(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "[" : " ") + name;
    }
    return text + "]";
}

} // namespace

TEST(DuplicateEngineReadTogether, FindsWhatHashingEachFileFinds) {
    TempDir dir;
    const std::size_t chunk = DuplicateEngine::chunkSize;
    // Differing in the first byte only.
    writeFile(dir.at("first/a1"), std::string(1000, 'a'));
    writeFile(dir.at("first/a2"), std::string(1000, 'a'));
    writeFile(dir.at("first/a3"), std::string(1000, 'a'));
    writeFile(dir.at("first/b"), "b" + std::string(999, 'a'));
    // Two sets of one size.
    writeFile(dir.at("two/x1"), std::string(500, 'x'));
    writeFile(dir.at("two/y1"), std::string(500, 'y'));
    writeFile(dir.at("two/x2"), std::string(500, 'x'));
    writeFile(dir.at("two/y2"), std::string(500, 'y'));
    // Over two chunks: differing only in the last chunk, a single byte, or inside the second.
    std::string large(2 * chunk + 1, 'p');
    for (std::size_t i = 0; i < large.size(); i += 4099) {
        large[i] = static_cast<char>('a' + i % 26);
    }
    writeFile(dir.at("big/p1"), large);
    writeFile(dir.at("big/p2"), large);
    std::string last = large;
    last.back() = 'Z';
    writeFile(dir.at("big/last"), last);
    std::string middle = large;
    middle[chunk + chunk / 2] = 'Z';
    writeFile(dir.at("big/middle"), middle);
    // Equal bytes, two modes: the first and third file belong together, as do the second and
    // the fourth.
    for (const char* name : {"meta/m1", "meta/m2", "meta/m3", "meta/m4"}) {
        writeFile(dir.at(name), std::string(300, 'm'));
    }
    setMode(dir.at("meta/m2"), 0600);
    setMode(dir.at("meta/m4"), 0600);
    // Enough files of one size to be read in chunks smaller than 1 MiB, differing in the second.
    std::vector<std::string> firstHalf, secondHalf;
    for (int i = 0; i < 18; ++i) {
        std::string name = numbered("chunks/r", i);
        std::string contents(300 * 1024, 'r');
        contents[300000] = i < 9 ? 'r' : 'S';
        writeFile(dir.at(name), contents);
        (i < 9 ? firstHalf : secondHalf).push_back(name);
    }
    // More files of one size than are read together: 20 copies, 10 copies and 10 loners.
    std::vector<std::string> copies, others;
    for (int i = 0; i < 40; ++i) {
        std::string name = numbered("many/n", i);
        std::string contents = i < 20 ? std::string(100, 'n') : std::string(100, 'o');
        if (i >= 30) {
            contents[static_cast<std::size_t>(i)] = 'z';
        }
        writeFile(dir.at(name), contents);
        (i < 20 ? copies : others).push_back(name);
    }
    others.resize(10);
    // Changed after the scan: rewritten with new bytes of the same size, and moved away.
    for (const char* name : {"changed/c1", "changed/c2", "changed/c3", "changed/c4"}) {
        writeFile(dir.at(name), std::string(200, 'c'));
    }
    FileNode tree = scannedTree(dir.path());
    writeFile(dir.at("changed/c2"), std::string(200, 'C'));
    setModifiedSecondsAgo(dir.at("changed/c2"), 30);
    ASSERT_EQ(::rename(dir.at("changed/c3").c_str(), dir.at("changed/gone").c_str()), 0);

    const std::string expected =
        group(firstHalf) + group(secondHalf) + "[big/p1 big/p2][first/a1 first/a2 first/a3]" +
        group(copies) + group(others) +
        "[two/x1 two/x2][two/y1 two/y2][meta/m1 meta/m3][meta/m2 meta/m4][changed/c1 changed/c4]"
        " skipped changed/c2 changed/c3 hashed 78/" +
        std::to_string(18 * 300 * 1024 + 4 * large.size() + 4 * 1000 + 4 * 500 + 4 * 300 +
                       40 * 100 + 2 * 200);
    const std::string hashingEach =
        summary(DuplicateEngine::find(tree, {}, DuplicateEngine::hash), dir.path());
    EXPECT_EQ(hashingEach, expected);
    int descriptorsBefore = openDescriptorCount();
    for (unsigned threads : {1u, 2u, 3u}) {
        EXPECT_EQ(summary(DuplicateEngine::find(tree, {}, threads), dir.path()), expected)
            << threads << " threads";
    }
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

TEST(DuplicateEngineReadTogether, FilesLongerOrShorterThanRecordedAreSkipped) {
    TempDir dir;
    // As if each file had grown or shrunk while it was read, before its identity showed it: the
    // recorded size disagrees with the bytes there are.
    const std::size_t large = 2 * DuplicateEngine::chunkSize + 3;
    writeFile(dir.at("ok1"), "1234567");
    writeFile(dir.at("ok2"), "1234567");
    writeFile(dir.at("grown"), "12345678");
    writeFile(dir.at("shrunk"), "123456");
    writeFile(dir.at("big/ok1"), std::string(large, 'q'));
    writeFile(dir.at("big/ok2"), std::string(large, 'q'));
    writeFile(dir.at("big/grown"), std::string(large + 1, 'q'));
    writeFile(dir.at("big/shrunk"), std::string(large - 1, 'q'));
    FileNode tree = scannedTree(dir.path());
    std::vector<FileNode*> stack{&tree};
    while (!stack.empty()) {
        FileNode* node = stack.back();
        stack.pop_back();
        for (FileNode& child : node->children) {
            stack.push_back(&child);
        }
        std::string name = node->id.lastPathComponent();
        if (name == "grown" || name == "shrunk") {
            bool isLarge = node->id.path().find("/big/") != std::string::npos;
            node->logicalSize = isLarge ? static_cast<std::int64_t>(large) : 7;
        }
    }

    const std::string expected = "[big/ok1 big/ok2][ok1 ok2] skipped big/grown big/shrunk grown "
                                 "shrunk hashed 8/" +
                                 std::to_string(2 * large + 2 * 7);
    EXPECT_EQ(summary(DuplicateEngine::find(tree, {}, DuplicateEngine::hash), dir.path()),
              expected);
    for (unsigned threads : {1u, 2u}) {
        EXPECT_EQ(summary(DuplicateEngine::find(tree, {}, threads), dir.path()), expected);
    }
}
