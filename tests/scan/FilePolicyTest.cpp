#include "core/scan/FilePolicy.hpp"
#include "tests/support/ScopedEnv.hpp"
#include "tests/support/TestSupport.hpp"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

const Url home = Url::file("/Users/morvel", true);

bool cleanupFolder(const std::string& path, const Url& under = home) {
    return FilePolicy::allowsCleanupFolder(Url::file(path, true), under);
}
bool userFile(const std::string& path) {
    return FilePolicy::allowsUserFile(Url::file(path, false));
}

TEST(FilePolicy, SystemRootsAreRefusedInAnyCaseAndSpelling) {
    for (std::string path :
         {"/System/Library/Caches/x", "/usr/local/lib/x", "/USR/LOCAL/x", "/Applications/Tool.app",
          "/applications/x", "/etc/x", "/var/log/x", "/private/etc/x", "/dev/x", "/bin/x",
          "/sbin/x", "/Library/x",
          // The system's own folders on Linux.
          "/boot/vmlinuz", "/opt/google/chrome", "/lib64/ld-linux", "/proc/1/x", "/sys/kernel/x",
          "/run/user/1000/doc/a", "/run/media", "/srv/www/x", "/snap/x"}) {
        EXPECT_FALSE(cleanupFolder(path)) << path;
        EXPECT_FALSE(userFile(path + ".mov")) << path;
    }
    // A root itself is refused; a name that merely begins like a root is not.
    EXPECT_FALSE(cleanupFolder("/usr"));
    EXPECT_FALSE(cleanupFolder("/"));
    EXPECT_TRUE(cleanupFolder("/usrlocal"));
    EXPECT_TRUE(cleanupFolder("/optional/project/build"));
    EXPECT_TRUE(cleanupFolder("/Volumes/Backup/project/build"));
    EXPECT_TRUE(userFile("/Volumes/Backup/clip.mov"));
    // Drives mounted for the user are ordinary places.
    for (std::string drive : {"/media/ana/USB", "/mnt/usb", "/run/media/ana/USB"}) {
        EXPECT_TRUE(cleanupFolder(drive + "/project/build")) << drive;
        EXPECT_TRUE(userFile(drive + "/clip.mov")) << drive;
    }
    // Lexical tricks do not escape the roots.
    EXPECT_FALSE(userFile("/Users/../usr/share/clip.mov"));
    EXPECT_FALSE(cleanupFolder("/home/./../etc/build"));
    // Nor does anything that is not an absolute file URL get through.
    const Url web = Url::parse("https://example.com/Movies/clip.mov").value();
    EXPECT_FALSE(FilePolicy::allowsUserFile(web));
    EXPECT_FALSE(FilePolicy::allowsCleanupFolder(web, home));
    EXPECT_FALSE(FilePolicy::allowsUserFile(Url()));
    EXPECT_FALSE(userFile("Movies/clip.mov"));
}

TEST(FilePolicy, TemporaryFolderOpensOnlyWhatIsInsideIt) {
    {
        ScopedEnv tmp("TMPDIR", "/private/var/folders/xy/T");
        EXPECT_TRUE(userFile("/private/var/folders/xy/T/clip.mov"));
        EXPECT_TRUE(userFile("/PRIVATE/var/folders/xy/t/clip.mov"));
        EXPECT_TRUE(cleanupFolder("/private/var/folders/xy/T/project/node_modules"));
        EXPECT_FALSE(cleanupFolder("/private/var/folders/xy/T"));
        EXPECT_FALSE(userFile("/private/var/folders/xy/Tx/clip.mov"));
        EXPECT_FALSE(userFile("/private/var/folders/xy/other.mov"));
    }
    // A temporary folder that is itself a system root opens nothing.
    for (const char* value : {"/usr", "/", "/var"}) {
        ScopedEnv tmp("TMPDIR", value);
        EXPECT_FALSE(userFile("/usr/share/clip.mov")) << value;
        EXPECT_FALSE(userFile("/var/tmp/clip.mov")) << value;
    }
    // It is judged with its links resolved.
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

TEST(FilePolicy, CleanupFoldersExamineOnlyTheParents) {
    for (std::string path : {"code/site/node_modules", "code/site/.next", "code/Tool.app",
                             "Library/Developer/Xcode/DerivedData"}) {
        EXPECT_TRUE(cleanupFolder("/Users/morvel/" + path)) << path;
    }
    for (std::string path :
         {"code/site/node_modules/left-pad", "code/ios/Pods/Alamofire", "code/App.xcodeproj/build",
          "code/App.XcodeProj/build", ".config/app/cache", "code/site/.git/objects",
          "LIBRARY/Caches/build", "Library/Developer/Xcode/DerivedData/App-abc",
          "library/developer/xcode/deriveddata"}) {
        EXPECT_FALSE(cleanupFolder("/Users/morvel/" + path)) << path;
    }
    EXPECT_FALSE(cleanupFolder("/Volumes/Disk/Applications/thing/build"));
    // DerivedData is the exception only in this home, however the home is spelled.
    EXPECT_TRUE(cleanupFolder("/Users/morvel/Library/Developer/Xcode/DerivedData",
                              Url::file("/Users/./morvel/", true)));
    EXPECT_FALSE(cleanupFolder("/Users/other/Library/Developer/Xcode/DerivedData"));
}

TEST(FilePolicy, UserFilesRefuseProjectCredentialAndHiddenFiles) {
    for (std::string path : {"code/site/package.json", "code/site/MAKEFILE", "code/site/Makefile",
                             "code/site/Dockerfile", "keys/id_ed25519", "data/app.sqlite-wal",
                             "data/app.db-SHM", "data/app.db", "data/App.SQLite3", "code/main.CPP",
                             "code/config.yml", "Documents/.hidden.mov", ".cache/clip.mov",
                             "Pictures/Photos Library.photoslibrary/originals/a.jpg",
                             "Library/Mail/a.pdf", "code/node_modules/x/readme.md"}) {
        EXPECT_FALSE(userFile("/Users/morvel/" + path)) << path;
    }
    for (std::string path : {"Movies/clip.mov", "Documents/notes", "Documents/archive.tar.gz",
                             "Documents/wal", "Documents/package.json.bak"}) {
        EXPECT_TRUE(userFile("/Users/morvel/" + path)) << path;
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
    makeFolder(scratch.at("real"));
    makeSymlink(scratch.at("real"), scratch.at("data"));
    ScopedEnv homeEnv("HOME", scratch.at("home"));
    ScopedEnv dataEnv("XDG_DATA_HOME", scratch.at("data"));
    const Url linuxHome = Url::file(scratch.at("home"), true);

    // The home Trash also when reached by its resolved path.
    for (std::string trash :
         {scratch.at("data/Trash"), scratch.at("real/Trash"), scratch.at("home/.local/share/Trash"),
          std::string("/media/disk/.Trash-1000"), std::string("/media/disk/.Trash-0"),
          std::string("/media/disk/.Trash/1000")}) {
        EXPECT_FALSE(cleanupFolder(trash, linuxHome)) << trash;
        EXPECT_FALSE(cleanupFolder(trash + "/files/site/node_modules", linuxHome)) << trash;
        EXPECT_FALSE(cleanupFolder(trash + "/files/build", linuxHome)) << trash;
        EXPECT_FALSE(userFile(trash + "/files/clip.mov")) << trash;
        EXPECT_TRUE(FilePolicy::isInTrash(Url::file(trash + "/files", true))) << trash;
    }
    // Names that only resemble a Trash folder are ordinary folders.
    EXPECT_TRUE(cleanupFolder(scratch.at("home/Documents/Trash/build"), linuxHome));
    EXPECT_TRUE(cleanupFolder("/media/disk/.Trash-old/node_modules", linuxHome));
    EXPECT_TRUE(cleanupFolder(scratch.at("data/Trashcan/build"), linuxHome));
    EXPECT_TRUE(userFile(scratch.at("data/Trashed.mov")));
}

TEST(FilePolicy, MacOSNamesProtectOnlyWhereMacOSPutsThem) {
    TempDir scratch;
    ScopedEnv homeEnv("HOME", scratch.at("ana"));
    const Url linuxHome = Url::file(scratch.at("ana"), true);
    // A Linux user's own folders that carry the names.
    for (std::string path : {"Music/Library/album/track.flac", "Applications/notes.txt",
                             "Documents/Library/Applications/scan.pdf"}) {
        EXPECT_TRUE(userFile(scratch.at("ana/" + path))) << path;
    }
    EXPECT_TRUE(cleanupFolder(scratch.at("ana/Music/Library/site/node_modules"), linuxHome));
    EXPECT_TRUE(cleanupFolder(scratch.at("ana/Applications/tool/build"), linuxHome));
    // Where macOS puts them: this home's Library, a Mac home's and a Mac volume's.
    EXPECT_FALSE(userFile(scratch.at("ana/Library/Mail/a.pdf")));
    EXPECT_FALSE(cleanupFolder(scratch.at("ana/LIBRARY/Caches/build"), linuxHome));
    EXPECT_FALSE(userFile("/media/mac/Users/ana/Library/Mail/a.pdf"));
    EXPECT_FALSE(userFile("/Volumes/Disk/Applications/Tool/readme.txt"));
    EXPECT_FALSE(FilePolicy::isProtectedName("library"));
    EXPECT_TRUE(FilePolicy::isMacOSPlaceName("applications"));
}

TEST(FilePolicy, SystemFoldersAreLinuxsOwnAndHomesAreNever) {
    auto system = [](const std::string& path) {
        return FilePolicy::isSystemFolder(Url::file(path, true));
    };
    for (std::string path :
         {"/usr", "/usr/share/doc", "/etc", "/var", "/var/lib", "/var/lib/apt", "/opt/app", "/boot",
          "/proc/1", "/sys", "/dev", "/run/user/1000", "/srv", "/snap/core", "/lost+found"}) {
        EXPECT_TRUE(system(path)) << path;
    }
    for (std::string path : {"/", "/home/ana", "/var/home", "/var/home/ana/Music", "/media/ana/USB",
                             "/mnt/disk", "/run/media/ana/USB", "/root", "/data"}) {
        EXPECT_FALSE(system(path)) << path;
    }
    // Image-based systems keep homes in /var/home: searched like any home.
    EXPECT_TRUE(userFile("/var/home/ana/Music/track.flac"));
    EXPECT_TRUE(cleanupFolder("/var/home/ana/code/site/node_modules"));
    EXPECT_FALSE(userFile("/var/homestead/track.flac"));
    // A service account's home below a system root is its own; the rest of the root is not.
    {
        ScopedEnv homeEnv("HOME", "/var/lib/builder");
        EXPECT_FALSE(system("/var/lib/builder/work"));
        EXPECT_TRUE(userFile("/var/lib/builder/work/clip.mov"));
        EXPECT_TRUE(system("/var/lib/apt"));
        EXPECT_FALSE(userFile("/var/lib/builderx/clip.mov"));
    }
    // A home that is a system root itself, or "/", opens nothing.
    for (const char* value : {"/", "/usr", "/var"}) {
        ScopedEnv homeEnv("HOME", value);
        EXPECT_TRUE(system("/usr/share")) << value;
        EXPECT_FALSE(userFile("/var/lib/clip.mov")) << value;
    }
}

} // namespace
