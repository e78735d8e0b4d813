#include "platform/linux/LinuxTrash.hpp"
#include "core/common/CleanupProblem.hpp"
#include "core/common/FileError.hpp"
#include "core/scan/FileIdentity.hpp"
#include "platform/Platform.hpp"
#include "tests/support/TestSupport.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <sys/stat.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool exists(const std::string& path) {
    struct stat record {};
    return ::lstat(path.c_str(), &record) == 0;
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A home with its own data folder inside the scratch folder, so the home trash is on the same file
// system as the test items.
struct ScratchHome {
    TempDir dir;
    std::string home = makeFolder(dir.at("home"));
    std::string data = makeFolder(dir.at("home/.local/share"));
    std::string trash = data + "/Trash";
    ScopedEnvironment environment{{{"HOME", home}, {"XDG_DATA_HOME", data}}};

    std::string trashCommand(const std::string& command) const {
        return "HOME='" + home + "' XDG_DATA_HOME='" + data + "' " + command;
    }
};

} // namespace

TEST(LinuxTrash, MovesFilesAndFoldersIntoTheHomeTrashWithTheirRecords) {
    ScratchHome scratch;
    std::string file = writeFile(scratch.dir.at("work/n\xC3\xA9v %41 #x.tar.gz"), "12345");
    std::string folder = makeFolder(scratch.dir.at("work/cache dir"));
    writeFile(folder + "/inner/blob", "abc");
    auto fileIdentity = FileIdentity::capture(Url::file(file));
    auto folderIdentity = FileIdentity::capture(Url::file(folder));

    Url movedFile = LinuxTrash::moveToTrash(Url::file(file, false));
    auto viaPlatform = Platform::current().moveToTrash(Url::file(folder, true));
    ASSERT_TRUE(viaPlatform);
    Url movedFolder = *viaPlatform;

    EXPECT_EQ(movedFile, Url::file(scratch.trash + "/files/n\xC3\xA9v %41 #x.tar.gz", false));
    EXPECT_EQ(movedFolder, Url::file(scratch.trash + "/files/cache dir", true));
    EXPECT_FALSE(exists(file));
    EXPECT_FALSE(exists(folder));
    EXPECT_TRUE(FileIdentity::capture(movedFile).sameObject(fileIdentity));
    EXPECT_TRUE(FileIdentity::capture(movedFolder).sameObject(folderIdentity));
    EXPECT_EQ(readText(movedFolder.path() + "/inner/blob"), "abc");

    std::string record = readText(scratch.trash + "/info/n\xC3\xA9v %41 #x.tar.gz.trashinfo");
    std::regex form("\\[Trash Info\\]\nPath=(.*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:"
                    "\\d\\d\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(record, match, form)) << record;
    EXPECT_EQ(match[1].str(), scratch.dir.path() + "/work/n%C3%A9v%20%2541%20%23x.tar.gz");
    EXPECT_TRUE(exists(scratch.trash + "/info/cache dir.trashinfo"));
    struct stat info {};
    ASSERT_EQ(::stat((scratch.trash + "/info/cache dir.trashinfo").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Only what lies inside files/ is in the Trash.
    EXPECT_TRUE(LinuxTrash::isInTrash(movedFile));
    EXPECT_TRUE(Platform::current().isInTrash(movedFolder));
    EXPECT_TRUE(LinuxTrash::isInTrash(Url::file(movedFolder.path() + "/inner/blob")));
    EXPECT_FALSE(LinuxTrash::isInTrash(Url::file(scratch.trash + "/files", true)));
    EXPECT_FALSE(LinuxTrash::isInTrash(Url::file(scratch.trash, true)));
    EXPECT_FALSE(LinuxTrash::isInTrash(Url::file(scratch.trash + "/info/cache dir.trashinfo")));
    EXPECT_FALSE(LinuxTrash::isInTrash(Url::file(scratch.trash + "/filesx/a")));
    EXPECT_FALSE(LinuxTrash::isInTrash(Url::file(file)));
    // A link into the trash from elsewhere resolves to a trashed item.
    makeSymlink(scratch.trash + "/files", scratch.dir.at("shortcut"));
    EXPECT_TRUE(LinuxTrash::isInTrash(Url::file(scratch.dir.at("shortcut/cache dir"), true)));

    EXPECT_EQ(LinuxTrash::infoFile(Url::file(movedFolder.path() + "/inner/blob")),
              Url::file(scratch.trash + "/info/cache dir.trashinfo", false));
    EXPECT_FALSE(LinuxTrash::infoFile(Url::file(file)));
}

TEST(LinuxTrash, NameClashesPickTheNextNameAndNeverReplace) {
    ScratchHome scratch;
    std::string work = makeFolder(scratch.dir.at("work"));
    std::vector<std::string> moved;
    for (int i = 0; i < 3; ++i) {
        writeFile(work + "/a.tar.gz", std::to_string(i));
        moved.push_back(LinuxTrash::moveToTrash(Url::file(work + "/a.tar.gz")).lastPathComponent());
    }
    EXPECT_EQ(moved, (std::vector<std::string>{"a.tar.gz", "a.2.tar.gz", "a.3.tar.gz"}));
    EXPECT_EQ(readText(scratch.trash + "/files/a.tar.gz"), "0");
    EXPECT_EQ(readText(scratch.trash + "/files/a.3.tar.gz"), "2");

    for (int i = 0; i < 2; ++i) {
        writeFile(work + "/.hidden", "h");
        moved.push_back(LinuxTrash::moveToTrash(Url::file(work + "/.hidden")).lastPathComponent());
    }
    EXPECT_EQ(moved.back(), ".hidden.2");

    // An entry in files/ without a record (left by another program) is skipped, not replaced, and
    // the record claimed for it is given back.
    writeFile(scratch.trash + "/files/orphan", "someone else's");
    writeFile(work + "/orphan", "ours");
    EXPECT_EQ(LinuxTrash::moveToTrash(Url::file(work + "/orphan")).lastPathComponent(), "orphan.2");
    EXPECT_EQ(readText(scratch.trash + "/files/orphan"), "someone else's");
    EXPECT_FALSE(exists(scratch.trash + "/info/orphan.trashinfo"));

    // The record's name must still fit a file name.
    std::string longName(250, 'l');
    writeFile(work + "/" + longName, "x");
    std::string shortened =
        LinuxTrash::moveToTrash(Url::file(work + "/" + longName)).lastPathComponent();
    EXPECT_LE(shortened.size() + 10, 255u);
    EXPECT_TRUE(exists(scratch.trash + "/info/" + shortened + ".trashinfo"));

    std::vector<std::string> files = entries(scratch.trash + "/files");
    std::vector<std::string> infos = entries(scratch.trash + "/info");
    EXPECT_EQ(files.size(), infos.size() + 1); // the orphan has no record
}

TEST(LinuxTrash, AFailedMoveLeavesNoRecordBehind) {
    ScratchHome scratch;
    makeFolder(scratch.trash + "/info");
    try {
        LinuxTrash::moveToTrash(Url::file(scratch.dir.at("work/missing")));
        ADD_FAILURE();
    } catch (const FileError&) {
    }
    // A folder cannot go into the trash that lives inside it.
    try {
        LinuxTrash::moveToTrash(Url::file(scratch.home, true));
        ADD_FAILURE();
    } catch (const CleanupProblem& problem) {
        EXPECT_NE(problem.message.find("holds the Trash"), std::string::npos);
    }
    EXPECT_TRUE(entries(scratch.trash + "/info").empty());
    EXPECT_TRUE(exists(scratch.home + "/.local/share"));
}

TEST(LinuxTrash, TrashListSeesAndTrashRestorePutsBackWhatWasMoved) {
    ScratchHome scratch;
    if (runShell("command -v trash-list").status != 0) {
        GTEST_SKIP() << "trash-cli is not installed";
    }
    std::string work = makeFolder(scratch.dir.at("work"));
    std::string file = writeFile(work + "/r\xC3\xA9sum\xC3\xA9 %41 #1+2.txt", "cv");
    std::string folder = makeFolder(work + "/node_modules");
    writeFile(folder + "/x/index.js", "js");
    LinuxTrash::moveToTrash(Url::file(file));
    LinuxTrash::moveToTrash(Url::file(folder, true));

    auto list = runShell(scratch.trashCommand("trash-list"));
    EXPECT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find(" " + file + "\n"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find(" " + folder + "\n"), std::string::npos) << list.output;
    EXPECT_EQ(list.output.find("?"), std::string::npos) << list.output;

    auto restored = runShell(scratch.trashCommand("cd '" + work + "' && trash-restore"), "0\n");
    EXPECT_EQ(restored.status, 0) << restored.output;
    restored = runShell(scratch.trashCommand("cd '" + work + "' && trash-restore"), "0\n");
    EXPECT_EQ(restored.status, 0) << restored.output;
    EXPECT_EQ(readText(file), "cv");
    EXPECT_EQ(readText(folder + "/x/index.js"), "js");
    EXPECT_TRUE(entries(scratch.trash + "/info").empty());
}

TEST(LinuxTrash, ItemsOnAnotherMountGoToThatMountsTrash) {
    ScratchHome scratch;
    std::string mountPoint = makeFolder(scratch.dir.at("mnt"));
    TmpfsMount mount(mountPoint, "4m");
    if (!mount.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    const std::string uid = std::to_string(::getuid());
    std::string first = writeFile(mountPoint + "/docs/a b.txt", "1");
    Url moved = LinuxTrash::moveToTrash(Url::file(first));
    EXPECT_EQ(moved, Url::file(mountPoint + "/.Trash-" + uid + "/files/a b.txt"));
    EXPECT_NE(readText(mountPoint + "/.Trash-" + uid + "/info/a b.txt.trashinfo")
                  .find("\nPath=docs/a%20b.txt\n"),
              std::string::npos);
    EXPECT_TRUE(LinuxTrash::isInTrash(moved));
    EXPECT_FALSE(exists(scratch.trash));

    // A shared .Trash that is a link is never used.
    std::string elsewhere = makeFolder(scratch.dir.at("elsewhere"));
    ASSERT_EQ(::chmod(elsewhere.c_str(), 01777), 0);
    makeSymlink(elsewhere, mountPoint + "/.Trash");
    std::string second = makeFolder(mountPoint + "/build");
    EXPECT_EQ(LinuxTrash::moveToTrash(Url::file(second, true)),
              Url::file(mountPoint + "/.Trash-" + uid + "/files/build", true));
    EXPECT_TRUE(entries(elsewhere).empty());
    ASSERT_EQ(::unlink((mountPoint + "/.Trash").c_str()), 0);

    // A shared .Trash without the sticky bit is not used either; with it, it is preferred.
    makeFolder(mountPoint + "/.Trash");
    ASSERT_EQ(::chmod((mountPoint + "/.Trash").c_str(), 0777), 0);
    std::string third = writeFile(mountPoint + "/c.txt", "3");
    EXPECT_EQ(LinuxTrash::moveToTrash(Url::file(third)).path(),
              mountPoint + "/.Trash-" + uid + "/files/c.txt");
    ASSERT_EQ(::chmod((mountPoint + "/.Trash").c_str(), 01777), 0);
    std::string fourth = writeFile(mountPoint + "/deep/er/d.txt", "4");
    Url shared = LinuxTrash::moveToTrash(Url::file(fourth));
    EXPECT_EQ(shared.path(), mountPoint + "/.Trash/" + uid + "/files/d.txt");
    EXPECT_TRUE(LinuxTrash::isInTrash(shared));
    EXPECT_EQ(LinuxTrash::infoFile(shared),
              Url::file(mountPoint + "/.Trash/" + uid + "/info/d.txt.trashinfo"));

    if (runShell("command -v trash-list").status == 0) {
        auto list = runShell(scratch.trashCommand("trash-list"));
        for (const std::string& path : {first, second, third, fourth}) {
            EXPECT_NE(list.output.find(" " + path + "\n"), std::string::npos) << list.output;
        }
    }
}

TEST(LinuxTrash, RefusesWhenTheItemsFileSystemHasNoUsableTrash) {
    ScratchHome scratch;
    std::string mountPoint = makeFolder(scratch.dir.at("mnt"));
    TmpfsMount mount(mountPoint, "1m");
    if (!mount.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    std::string item = writeFile(mountPoint + "/keep.txt", "data");
    ASSERT_TRUE(mount.setReadOnly(true));
    try {
        LinuxTrash::moveToTrash(Url::file(item));
        ADD_FAILURE() << "moved";
    } catch (const CleanupProblem& problem) {
        EXPECT_EQ(problem.message,
                  "\u201ckeep.txt\u201d couldn\u2019t be moved to the Trash because its file "
                  "system has no usable Trash folder. Nothing was copied or deleted.");
    }
    EXPECT_EQ(readText(item), "data");
    EXPECT_FALSE(exists(scratch.trash + "/files"));
}
