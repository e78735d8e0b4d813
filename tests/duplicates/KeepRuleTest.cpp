#include "core/duplicates/KeepRule.hpp"

#include <gtest/gtest.h>

using namespace varnok;

namespace {

struct Copy {
    std::string path;
    // Seconds since the epoch; 0 means the scan kept no identity.
    std::int64_t modified = 0;
};

DuplicateGroup group(const std::vector<Copy>& copies) {
    DuplicateGroup result;
    for (const Copy& copy : copies) {
        std::optional<FileIdentity> identity;
        if (copy.modified != 0) {
            identity = FileIdentity{};
            identity->modifiedSeconds = copy.modified;
        }
        result.files.emplace_back(Url::file(copy.path, false), false, 10, 4096,
                                  std::vector<FileNode>{}, 0, 0, false, false, true, identity);
    }
    return result;
}

std::string kept(const std::vector<Copy>& copies, KeepRule rule) {
    const DuplicateGroup set = group(copies);
    return set.files[DuplicateKeeper::choose(set, rule)].id.path();
}

TEST(KeepRule, NamesWithACopyMarker) {
    const std::pair<const char*, bool> names[] = {
        {"IMG_0005.jpg", false},
        {"IMG_0005 (copy).jpg", true},
        {"IMG_0005 copy.jpg", true},
        {"IMG_0005 Copy.JPG", true},
        {"report (1).pdf", true},
        {"report (99).pdf", true},
        {"report (100).pdf", false},
        {"report (0).pdf", false},
        {"report (v2).pdf", false},
        {"notes - Copy.txt", true},
        {"Copy of notes.txt", true},
        {"notes.txt~", true},
        {"notes.txt.bak", true},
        {"notes.BAK", true},
        {"copyright.txt", false},
        {"photocopy.txt", false},
        {"Recipes (Grandma).txt", false},
        {".bashrc", false},
        {"(1)", false},
        {"", false},
    };
    for (const auto& [name, marked] : names) {
        EXPECT_EQ(DuplicateKeeper::isMarkedCopy(name), marked) << name;
    }
}

TEST(KeepRule, OriginalPrefersUnmarkedThenOldestThenShortestThenPathOrder) {
    const struct {
        const char* what;
        std::vector<Copy> copies;
        const char* kept;
    } cases[] = {
        {"the unmarked name wins though it sorts last and is newer",
         {{"/h/Desktop/IMG_0005 (copy).jpg", 100}, {"/h/Pictures/2023/IMG_0005.jpg", 200}},
         "/h/Pictures/2023/IMG_0005.jpg"},
        {"among unmarked names the oldest wins",
         {{"/h/a/song.mp3", 300}, {"/h/b/song.mp3", 100}, {"/h/c/song (1).mp3", 50}},
         "/h/b/song.mp3"},
        {"a copy of unknown age loses to one of known age",
         {{"/h/a/x.txt", 0}, {"/h/b/x.txt", 500}},
         "/h/b/x.txt"},
        {"equal ages: the shortest path",
         {{"/h/deep/down/x.txt", 100}, {"/h/up/x.txt", 100}},
         "/h/up/x.txt"},
        {"everything equal: the first by path",
         {{"/h/a/x.txt", 100}, {"/h/b/x.txt", 100}},
         "/h/a/x.txt"},
        {"all marked: the oldest of them",
         {{"/h/x (1).txt", 200}, {"/h/x (2).txt", 100}},
         "/h/x (2).txt"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kept(c.copies, KeepRule::original), c.kept) << c.what;
    }
}

TEST(KeepRule, TheCommandLineRulesTieOnPathOrder) {
    const std::vector<Copy> copies{{"/h/b/long name.txt", 200},
                                   {"/h/a (copy).txt", 100},
                                   {"/h/c.txt", 300},
                                   {"/h/d.txt", 300}};
    EXPECT_EQ(kept(copies, KeepRule::first), "/h/b/long name.txt");
    EXPECT_EQ(kept(copies, KeepRule::oldest), "/h/a (copy).txt");
    EXPECT_EQ(kept(copies, KeepRule::newest), "/h/c.txt");
    EXPECT_EQ(kept(copies, KeepRule::shortestPath), "/h/c.txt");
    EXPECT_EQ(kept(copies, KeepRule::original), "/h/b/long name.txt");
    for (KeepRule rule : {KeepRule::original, KeepRule::first, KeepRule::oldest, KeepRule::newest,
                          KeepRule::shortestPath}) {
        EXPECT_EQ(keepRuleFromRawValue(rawValue(rule)), rule);
    }
    EXPECT_FALSE(keepRuleFromRawValue("Original"));
}

} // namespace
