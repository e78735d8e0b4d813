#include "core/scan/FilePolicy.hpp"
#include "tests/support/ScopedEnv.hpp"
#include "tests/support/TestSupport.hpp"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

Url folder(const std::string& path) {
    return Url::file(path, true);
}
Url file(const std::string& path) {
    return Url::file(path, false);
}

const Url home = folder("/Users/morvel");

bool cleanupFolder(const std::string& path) {
    return FilePolicy::allowsCleanupFolder(folder(path), home);
}
bool userFile(const std::string& path) {
    return FilePolicy::allowsUserFile(file(path));
}

TEST(FilePolicy, SystemRootsAreRefusedInAnyCase) {
    for (std::string path : {"/System/Library/Caches/x", "/usr/local/lib/x", "/USR/LOCAL/x",
                             "/Applications/Tool.app", "/applications/x", "/etc/x", "/var/log/x",
                             "/private/etc/x", "/dev/x", "/bin/x", "/sbin/x", "/Library/x"}) {
        EXPECT_FALSE(cleanupFolder(path)) << path;
        EXPECT_FALSE(userFile(path + ".mov")) << path;
    }
    // A root itself is refused; a name that merely begins like a root is not.
    EXPECT_FALSE(cleanupFolder("/usr"));
    EXPECT_TRUE(cleanupFolder("/usrlocal"));
    EXPECT_TRUE(cleanupFolder("/Volumes/Backup/project/build"));
    EXPECT_TRUE(userFile("/Volumes/Backup/clip.mov"));
    EXPECT_TRUE(userFile("/Users/morvel/Movies/clip.mov"));
    // Lexical tricks do not escape the roots.
    EXPECT_FALSE(userFile("/Users/../usr/share/clip.mov"));
    EXPECT_FALSE(cleanupFolder("/home/./../etc/build"));
}

TEST(FilePolicy, RefusesWhatIsNotAnAbsoluteFileUrl) {
    auto web = Url::parse("https://example.com/Movies/clip.mov");
    ASSERT_TRUE(web.has_value());
    EXPECT_FALSE(FilePolicy::allowsUserFile(*web));
    EXPECT_FALSE(FilePolicy::allowsCleanupFolder(*web, home));
    EXPECT_FALSE(FilePolicy::allowsUserFile(Url()));
    EXPECT_FALSE(FilePolicy::allowsUserFile(Url::file("Movies/clip.mov", false)));
    EXPECT_FALSE(FilePolicy::allowsCleanupFolder(folder("/"), home));
}

TEST(FilePolicy, TemporaryFolderBelowASystemRootIsAllowed) {
    ScopedEnv tmp("TMPDIR", "/private/var/folders/xy/T");
    EXPECT_TRUE(userFile("/private/var/folders/xy/T/clip.mov"));
    EXPECT_TRUE(userFile("/PRIVATE/var/folders/xy/t/clip.mov"));
    EXPECT_TRUE(cleanupFolder("/private/var/folders/xy/T/project/node_modules"));
    // Only inside it: the folder itself and its siblings stay refused.
    EXPECT_FALSE(cleanupFolder("/private/var/folders/xy/T"));
    EXPECT_FALSE(userFile("/private/var/folders/xy/Tx/clip.mov"));
    EXPECT_FALSE(userFile("/private/var/folders/xy/other.mov"));
}

TEST(FilePolicy, TemporaryFolderIsJudgedWithItsLinksResolved) {
    TempDir scratch;
    std::string real = "/var/tmp/varnok-policy-XXXXXX";
    ASSERT_NE(::mkdtemp(real.data()), nullptr);
    makeSymlink(real, scratch.at("tmp"));
    {
        ScopedEnv tmp("TMPDIR", scratch.at("tmp"));
        EXPECT_TRUE(userFile(real + "/clip.mov"));
        EXPECT_FALSE(userFile("/var/tmp/clip.mov"));
    }
    ::rmdir(real.c_str());
}

TEST(FilePolicy, TemporaryFolderThatIsASystemRootOpensNothing) {
    for (const char* value : {"/usr", "/", "/var"}) {
        ScopedEnv tmp("TMPDIR", value);
        EXPECT_FALSE(userFile("/usr/share/clip.mov")) << value;
        EXPECT_FALSE(userFile("/var/tmp/clip.mov")) << value;
    }
}

TEST(FilePolicy, CleanupFoldersExamineOnlyTheParents) {
    EXPECT_TRUE(cleanupFolder("/Users/morvel/code/site/node_modules"));
    EXPECT_TRUE(cleanupFolder("/Users/morvel/code/site/.next"));
    EXPECT_TRUE(cleanupFolder("/Users/morvel/code/Tool.app"));
    EXPECT_FALSE(cleanupFolder("/Users/morvel/code/site/node_modules/left-pad"));
    EXPECT_FALSE(cleanupFolder("/Users/morvel/code/ios/Pods/Alamofire"));
    EXPECT_FALSE(cleanupFolder("/Users/morvel/code/App.xcodeproj/build"));
    EXPECT_FALSE(cleanupFolder("/Users/morvel/code/App.XcodeProj/build"));
    EXPECT_FALSE(cleanupFolder("/Users/morvel/.config/app/cache"));
    EXPECT_FALSE(cleanupFolder("/Users/morvel/code/site/.git/objects"));
    EXPECT_FALSE(cleanupFolder("/Users/morvel/LIBRARY/Caches/build"));
    EXPECT_FALSE(cleanupFolder("/Volumes/Disk/Applications/thing/build"));
}

TEST(FilePolicy, DerivedDataOfThisHomeIsTheOnlyExceptionInLibrary) {
    EXPECT_TRUE(cleanupFolder("/Users/morvel/Library/Developer/Xcode/DerivedData"));
    EXPECT_TRUE(FilePolicy::allowsCleanupFolder(
        folder("/Users/morvel/Library/Developer/Xcode/DerivedData"), folder("/Users/./morvel/")));
    EXPECT_FALSE(cleanupFolder("/Users/morvel/Library/Developer/Xcode/DerivedData/App-abc"));
    EXPECT_FALSE(cleanupFolder("/Users/morvel/library/developer/xcode/deriveddata"));
    EXPECT_FALSE(cleanupFolder("/Users/other/Library/Developer/Xcode/DerivedData"));
}

TEST(FilePolicy, UserFilesRefuseProjectCredentialAndHiddenFiles) {
    for (std::string path : {
             "/Users/morvel/code/site/package.json",
             "/Users/morvel/code/site/MAKEFILE",
             "/Users/morvel/code/site/Makefile",
             "/Users/morvel/code/site/Dockerfile",
             "/Users/morvel/keys/id_ed25519",
             "/Users/morvel/data/app.sqlite-wal",
             "/Users/morvel/data/app.db-SHM",
             "/Users/morvel/data/app.db",
             "/Users/morvel/data/App.SQLite3",
             "/Users/morvel/code/main.CPP",
             "/Users/morvel/code/config.yml",
             "/Users/morvel/Documents/.hidden.mov",
             "/Users/morvel/.cache/clip.mov",
             "/Users/morvel/Pictures/Photos Library.photoslibrary/originals/a.jpg",
             "/Users/morvel/Library/Mail/a.pdf",
             "/Users/morvel/code/node_modules/x/readme.md",
         }) {
        EXPECT_FALSE(userFile(path)) << path;
    }
    for (std::string path : {
             "/Users/morvel/Movies/clip.mov",
             "/Users/morvel/Documents/notes",
             "/Users/morvel/Documents/archive.tar.gz",
             "/Users/morvel/Documents/wal",
             "/Users/morvel/Documents/package.json.bak",
         }) {
        EXPECT_TRUE(userFile(path)) << path;
    }
}

TEST(FilePolicy, LowerCasingIsUnicodeAware) {
    EXPECT_EQ(FilePolicy::lowercased("ÄPFEL.APP"), "äpfel.app");
    // Decomposed input comes out composed, so it compares equal to the composed spelling.
    EXPECT_EQ(FilePolicy::lowercased("A\xCC\x88"), "ä");
    EXPECT_EQ(FilePolicy::lowercased(std::string("\xFF") + "AB"), std::string("\xFF") + "ab");
    EXPECT_FALSE(userFile("/Volumes/Ü/Bilder.PHOTOSLIBRARY/a.jpg"));
    EXPECT_FALSE(cleanupFolder("/Volumes/Ü/ΣΥΣΤΗΜΑ.App/Contents"));
}

TEST(FilePolicy, NothingInsideALinuxTrashIsOffered) {
    TempDir scratch;
    ScopedEnv homeEnv("HOME", scratch.at("home"));
    ScopedEnv dataEnv("XDG_DATA_HOME", scratch.at("data"));
    const Url linuxHome = folder(scratch.at("home"));
    auto allowsFolder = [&](const std::string& path) {
        return FilePolicy::allowsCleanupFolder(folder(path), linuxHome);
    };

    for (std::string trash :
         {scratch.at("data/Trash"), scratch.at("home/.local/share/Trash"),
          std::string("/media/disk/.Trash-1000"), std::string("/media/disk/.Trash-0"),
          std::string("/media/disk/.Trash/1000")}) {
        EXPECT_FALSE(allowsFolder(trash)) << trash;
        EXPECT_FALSE(allowsFolder(trash + "/files/site/node_modules")) << trash;
        EXPECT_FALSE(allowsFolder(trash + "/files/build")) << trash;
        EXPECT_FALSE(FilePolicy::allowsUserFile(file(trash + "/files/clip.mov"))) << trash;
        EXPECT_TRUE(FilePolicy::isInTrash(folder(trash + "/files"))) << trash;
    }
    // Names that only resemble a Trash folder are ordinary folders.
    EXPECT_TRUE(allowsFolder(scratch.at("home/Documents/Trash/build")));
    EXPECT_TRUE(allowsFolder("/media/disk/.Trash-old/node_modules"));
    EXPECT_TRUE(allowsFolder(scratch.at("data/Trashcan/build")));
    EXPECT_TRUE(FilePolicy::allowsUserFile(file(scratch.at("data/Trashed.mov"))));
}

TEST(FilePolicy, HomeTrashReachedThroughALinkIsProtected) {
    TempDir scratch;
    makeFolder(scratch.at("real/Trash/files/build"));
    makeSymlink(scratch.at("real"), scratch.at("data"));
    ScopedEnv dataEnv("XDG_DATA_HOME", scratch.at("data"));
    EXPECT_FALSE(FilePolicy::allowsCleanupFolder(folder(scratch.at("real/Trash/files/build")),
                                                 folder(scratch.at("home"))));
    EXPECT_FALSE(FilePolicy::allowsUserFile(file(scratch.at("real/Trash/files/clip.mov"))));
}

} // namespace
