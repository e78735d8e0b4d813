#include "platform/linux/LinuxTrash.hpp"
#include "core/common/FileError.hpp"
#include "platform/Platform.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <filesystem>
#include <regex>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

size_t entryCount(const std::string& folder) {
    std::error_code ignored;
    auto it = std::filesystem::directory_iterator(folder, ignored);
    return static_cast<size_t>(std::distance(it, std::filesystem::directory_iterator()));
}

} // namespace

TEST(LinuxTrash, MovesItemsIntoTheHomeTrashWhereTrashCliFindsThem) {
    ScratchHome scratch;
    std::string work = makeFolder(scratch.dir.at("work"));
    std::string file = writeFile(work + "/n\xC3\xA9v %41 #x+1.tar.gz", "12345");
    std::string folder = makeFolder(work + "/cache dir");
    writeFile(folder + "/inner/blob", "abc");
    auto folderIdentity = FileIdentity::capture(Url::file(folder));

    Url movedFile = LinuxTrash::moveToTrash(Url::file(file, false));
    Url movedFolder = Platform::current().moveToTrash(Url::file(folder, true)).value();
    EXPECT_EQ(movedFile, Url::file(scratch.trash + "/files/n\xC3\xA9v %41 #x+1.tar.gz", false));
    EXPECT_EQ(movedFolder, Url::file(scratch.trash + "/files/cache dir", true));
    EXPECT_FALSE(exists(file) || exists(folder));
    EXPECT_TRUE(FileIdentity::capture(movedFolder).sameObject(folderIdentity));
    EXPECT_EQ(readText(movedFolder.path() + "/inner/blob"), "abc");

    std::string record = readText(scratch.trash + "/info/n\xC3\xA9v %41 #x+1.tar.gz.trashinfo");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(record, match,
                                 std::regex("\\[Trash Info\\]\nPath=(.*)\nDeletionDate="
                                            "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n")))
        << record;
    EXPECT_EQ(match[1].str(), scratch.dir.path() + "/work/n%C3%A9v%20%2541%20%23x%2B1.tar.gz");

    // Only what lies inside files/ is in the Trash, also when reached through a link.
    EXPECT_TRUE(LinuxTrash::isInTrash(movedFile));
    EXPECT_TRUE(Platform::current().isInTrash(Url::file(movedFolder.path() + "/inner/blob")));
    makeSymlink(scratch.trash + "/files", scratch.dir.at("shortcut"));
    EXPECT_TRUE(LinuxTrash::isInTrash(Url::file(scratch.dir.at("shortcut/cache dir"), true)));
    for (const std::string& outside :
         {scratch.trash + "/files", scratch.trash, scratch.trash + "/info/cache dir.trashinfo",
          scratch.trash + "/filesx/a", file}) {
        EXPECT_FALSE(LinuxTrash::isInTrash(Url::file(outside))) << outside;
    }
    EXPECT_EQ(LinuxTrash::infoFile(Url::file(movedFolder.path() + "/inner/blob")),
              Url::file(scratch.trash + "/info/cache dir.trashinfo", false));

    auto list = scratch.trashCli("trash-list");
    EXPECT_CONTAINS(list.output, " " + file + "\n");
    EXPECT_CONTAINS(list.output, " " + folder + "\n");
    for (int i = 0; i < 2; ++i) {
        auto restored = scratch.trashCli("cd '" + work + "' && trash-restore", "0\n");
        EXPECT_EQ(restored.status, 0) << restored.output;
    }
    EXPECT_EQ(readText(file), "12345");
    EXPECT_EQ(readText(folder + "/inner/blob"), "abc");
    EXPECT_EQ(entryCount(scratch.trash + "/info"), 0u);
}

TEST(LinuxTrash, ClashesTakeTheNextNameAndFailuresLeaveNoRecord) {
    ScratchHome scratch;
    std::string work = makeFolder(scratch.dir.at("work"));
    std::vector<std::string> names;
    for (const char* name : {"a.tar.gz", "a.tar.gz", "a.tar.gz", ".hidden", ".hidden"}) {
        writeFile(work + "/" + name, name);
        names.push_back(LinuxTrash::moveToTrash(Url::file(work + "/" + name)).lastPathComponent());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a.tar.gz", "a.2.tar.gz", "a.3.tar.gz", ".hidden",
                                               ".hidden.2"}));

    // An entry in files/ without a record, left by another program, is never replaced.
    writeFile(scratch.trash + "/files/orphan", "someone else's");
    writeFile(work + "/orphan", "ours");
    EXPECT_EQ(LinuxTrash::moveToTrash(Url::file(work + "/orphan")).lastPathComponent(), "orphan.2");
    EXPECT_EQ(readText(scratch.trash + "/files/orphan"), "someone else's");

    // The record's name must still fit a file name.
    std::string longName(250, 'l');
    writeFile(work + "/" + longName, "x");
    EXPECT_LE(LinuxTrash::moveToTrash(Url::file(work + "/" + longName)).lastPathComponent().size(),
              245u);
    // Shortened between characters, never inside one.
    std::string accents;
    for (int i = 0; i < 124; ++i) {
        accents += "\u00e9";
    }
    writeFile(work + "/" + accents, "x");
    EXPECT_EQ(LinuxTrash::moveToTrash(Url::file(work + "/" + accents)).lastPathComponent(),
              accents.substr(0, 244));

    const size_t records = entryCount(scratch.trash + "/info");
    EXPECT_EQ(records + 1, entryCount(scratch.trash + "/files"));
    EXPECT_THROW(LinuxTrash::moveToTrash(Url::file(work + "/missing")), FileError);
    EXPECT_CONTAINS(problemOf([&] { LinuxTrash::moveToTrash(Url::file(scratch.home, true)); }),
                    "because it holds the Trash");
    EXPECT_EQ(entryCount(scratch.trash + "/info"), records);
}

TEST(LinuxTrash, ItemsOfTheHomesFileSystemGoToTheHomeTrashOrNowhere) {
    ScratchHome scratch;
    const std::string topTrash = "/.Trash-" + std::to_string(::getuid());
    const bool topTrashExisted = exists(topTrash);
    std::string item = writeFile(scratch.dir.at("work/item.txt"), "keep me");

    writeFile(scratch.trash, "a file where the Trash should be");
    EXPECT_CONTAINS(problemOf([&] { LinuxTrash::moveToTrash(Url::file(item)); }),
                    scratch.trash + " is not a folder. Nothing was copied or deleted.");
    EXPECT_EQ(readText(item), "keep me");
    EXPECT_EQ(exists(topTrash), topTrashExisted);

    ASSERT_EQ(::unlink(scratch.trash.c_str()), 0);
    std::string elsewhere = makeFolder(scratch.dir.at("elsewhere"));
    makeSymlink(elsewhere, makeFolder(scratch.trash) + "/files");
    EXPECT_CONTAINS(problemOf([&] { LinuxTrash::moveToTrash(Url::file(item)); }),
                    scratch.trash + "/files is a symbolic link");
    EXPECT_EQ(readText(item), "keep me");
    EXPECT_EQ(entryCount(elsewhere), 0u);
    EXPECT_EQ(entryCount(scratch.trash + "/info"), 0u);
}

TEST(LinuxTrash, ItemsOnAnotherMountGoToThatMountsTrashOrNowhere) {
    ScratchHome scratch;
    std::string top = makeFolder(scratch.dir.at("mnt"));
    TmpfsMount mount(top, "4m");
    if (!mount.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    const std::string own = top + "/.Trash-" + std::to_string(::getuid());
    std::string first = writeFile(top + "/docs/a b.txt", "1");
    Url moved = LinuxTrash::moveToTrash(Url::file(first));
    EXPECT_EQ(moved, Url::file(own + "/files/a b.txt"));
    EXPECT_CONTAINS(readText(own + "/info/a b.txt.trashinfo"), "\nPath=docs/a%20b.txt\n");
    EXPECT_TRUE(LinuxTrash::isInTrash(moved));
    EXPECT_FALSE(exists(scratch.trash));

    // A shared .Trash that is a link, or lacks the sticky bit, is never used.
    std::string elsewhere = makeFolder(scratch.dir.at("elsewhere"));
    setMode(elsewhere, 01777);
    makeSymlink(elsewhere, top + "/.Trash");
    std::string second = makeFolder(top + "/build");
    EXPECT_EQ(LinuxTrash::moveToTrash(Url::file(second, true)).path(), own + "/files/build");
    EXPECT_EQ(entryCount(elsewhere), 0u);
    ASSERT_EQ(::unlink((top + "/.Trash").c_str()), 0);
    setMode(makeFolder(top + "/.Trash"), 0777);
    std::string third = writeFile(top + "/c.txt", "3");
    EXPECT_EQ(LinuxTrash::moveToTrash(Url::file(third)).path(), own + "/files/c.txt");
    // With the sticky bit it is preferred.
    setMode(top + "/.Trash", 01777);
    std::string fourth = writeFile(top + "/deep/d.txt", "4");
    Url shared = LinuxTrash::moveToTrash(Url::file(fourth));
    EXPECT_EQ(shared.path(), top + "/.Trash/" + std::to_string(::getuid()) + "/files/d.txt");
    EXPECT_TRUE(LinuxTrash::isInTrash(shared));
    auto list = scratch.trashCli("trash-list");
    for (const std::string& path : {first, second, third, fourth}) {
        EXPECT_CONTAINS(list.output, " " + path + "\n");
    }

    // A read-only file system without a Trash: refused, never copied elsewhere.
    std::string kept = writeFile(top + "/keep.txt", "data");
    std::filesystem::remove_all(own);
    std::filesystem::remove_all(top + "/.Trash");
    ASSERT_TRUE(mount.setReadOnly(true));
    EXPECT_EQ(problemOf([&] { LinuxTrash::moveToTrash(Url::file(kept)); }),
              "\u201ckeep.txt\u201d couldn\u2019t be moved to the Trash because its file system "
              "has no usable Trash folder. Nothing was copied or deleted.");
    EXPECT_EQ(readText(kept), "data");
    EXPECT_FALSE(exists(scratch.trash + "/files"));
}
