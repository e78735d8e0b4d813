#include "platform/linux/LinuxPlatform.hpp"
#include "core/common/FileError.hpp"
#include "tests/support/ScopedEnv.hpp"
#include "tests/support/TestSupport.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

std::vector<std::string> walk(const std::string& root, const std::set<std::string>& skip = {},
                              std::vector<std::string>* errors = nullptr,
                              bool stopOnError = false) {
    LinuxPlatform platform;
    std::vector<std::string> seen;
    auto enumerator = platform.enumerator(Url::file(root, true), [&](const std::string& path, int) {
        if (errors) {
            errors->push_back(path);
        }
        return !stopOnError;
    });
    DirectoryEntry entry;
    while (enumerator && enumerator->next(entry)) {
        seen.push_back(entry.path.substr(root.size() + 1));
        if (skip.count(seen.back())) {
            enumerator->skipDescendants();
        }
    }
    return seen;
}

} // namespace

TEST(DirectoryEnumerator, DepthFirstEachEntryBeforeItsDescendants) {
    TempDir dir;
    writeFile(dir.at("b/inner/x"), "x");
    writeFile(dir.at("a"), "a");
    writeFile(dir.at(".hidden/y"), "y");
    makeSymlink(dir.at("b"), dir.at("c-link"));
    // By name, the folders of each level after its other entries (the link to a folder too).
    EXPECT_EQ(walk(dir.path()), (std::vector<std::string>{"a", "c-link", ".hidden", ".hidden/y",
                                                          "b", "b/inner", "b/inner/x"}));
    EXPECT_EQ(walk(dir.path(), {"b"}),
              (std::vector<std::string>{"a", "c-link", ".hidden", ".hidden/y", "b"}));
}

TEST(DirectoryEnumerator, PropertiesComeFromOneStatOfTheEntryItself) {
    TempDir dir;
    writeFile(dir.at("file"), std::string(5000, 'x'));
    makeSymlink("file", dir.at("link"));
    LinuxPlatform platform;
    auto enumerator = platform.enumerator(dir.url(), [](const std::string&, int) { return true; });
    DirectoryEntry entry;
    ASSERT_TRUE(enumerator->next(entry));
    EXPECT_EQ(entry.depth, 1);
    EXPECT_EQ(*entry.properties->fileSize, 5000);
    EXPECT_GE(*entry.properties->totalFileAllocatedSize, 4096);
    EXPECT_EQ(entry.identity->size, 5000);
    ASSERT_TRUE(enumerator->next(entry));
    EXPECT_TRUE(*entry.properties->isSymbolicLink);
    EXPECT_FALSE(*entry.properties->isDirectory);
    EXPECT_FALSE(entry.folderForm);
    EXPECT_FALSE(enumerator->next(entry));
}

TEST(DirectoryEnumerator, ReportsUnreadableFoldersAndCanBeStopped) {
    TempDir dir;
    writeFile(dir.at("a-locked/secret"), "s");
    writeFile(dir.at("b-locked/secret"), "s");
    writeFile(dir.at("c-open/file"), "f");
    setMode(dir.at("a-locked"), 0);
    setMode(dir.at("b-locked"), 0);
    auto outcome = runUnprivileged([&] {
        std::vector<std::string> errors;
        auto all = walk(dir.path(), {}, &errors);
        std::vector<std::string> stopErrors;
        auto stopped = walk(dir.path(), {}, &stopErrors, true);
        return std::to_string(all.size()) + " " + std::to_string(errors.size()) + " " +
               std::to_string(stopped.size()) + " " + std::to_string(stopErrors.size());
    });
    ASSERT_TRUE(outcome.succeeded) << outcome.output;
    // Every folder is yielded; the locked ones are reported; a stop ends the walk at the first.
    EXPECT_EQ(outcome.output, "4 2 1 1");
}

TEST(LinuxPlatform, FoldersComeFromTheEnvironmentEachTime) {
    LinuxPlatform platform;
    {
        ScopedEnv home("HOME", "/home/someone");
        ScopedEnv data("XDG_DATA_HOME", std::nullopt);
        EXPECT_EQ(platform.homeDirectory(), Url::file("/home/someone", true));
        EXPECT_EQ(platform.applicationSupportDirectory(),
                  Url::file("/home/someone/.local/share", true));
        ScopedEnv relative("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(platform.applicationSupportDirectory().path(), "/home/someone/.local/share");
        ScopedEnv absolute("XDG_DATA_HOME", "/data/");
        EXPECT_EQ(platform.applicationSupportDirectory(), Url::file("/data", true));
    }
    ScopedEnv tmp("TMPDIR", "");
    EXPECT_EQ(platform.temporaryDirectory(), Url::file("/tmp", true));
}

TEST(LinuxPlatform, WritesNeverReplaceUnlessAtomic) {
    TempDir dir;
    LinuxPlatform platform;
    Url folder = Url::file(dir.at("x/y/z"), true);
    platform.createDirectory(folder, true);
    platform.createDirectory(folder, true);
    EXPECT_THROW(platform.createDirectory(folder, false), FileError);

    Url file = folder.appendingPathComponent("report.json");
    platform.writeNew(file, "first");
    try {
        platform.writeNew(file, "second");
        ADD_FAILURE();
    } catch (const FileError& error) {
        EXPECT_EQ(error.code, FileError::writeFileExists);
    }
    EXPECT_EQ(platform.readFile(file), "first");
    platform.writeAtomically(file, "third");
    EXPECT_EQ(platform.readFile(file), "third");
    EXPECT_EQ(platform.contentsOfDirectory(folder), (std::vector<Url>{file}))
        << "no temporary files are left behind";
    try {
        platform.readFile(folder.appendingPathComponent("missing"));
        ADD_FAILURE();
    } catch (const FileError& error) {
        EXPECT_EQ(error.code, FileError::readNoSuchFile);
    }
}

TEST(LinuxPlatform, PropertiesAndSymbolicLinks) {
    TempDir dir;
    writeFile(dir.at("real/file"), "abc");
    makeSymlink(dir.at("real"), dir.at("alias"));
    LinuxPlatform platform;

    auto values = platform.resourceValues(Url::file(dir.at("alias")));
    EXPECT_TRUE(*values.isSymbolicLink);
    EXPECT_FALSE(*values.isDirectory);
    EXPECT_THROW(platform.resourceValues(Url::file(dir.at("missing"))), FileError);

    EXPECT_EQ(platform.resolvingSymlinks(Url::file(dir.at("alias"))),
              Url::file(dir.at("real"), true));
    EXPECT_EQ(platform.resolvingSymlinks(Url::file(dir.at("alias/missing/more"))),
              Url::file(dir.at("real/missing/more")))
        << "the missing rest is kept as written";
    EXPECT_EQ(platform.resolvingSymlinks(Url::file(dir.at("alias/file"))),
              Url::file(dir.at("real/file"), false));
    EXPECT_EQ(platform.resolvingSymlinks(Url::file(dir.at("real"), false)),
              Url::file(dir.at("real"), true))
        << "a path without links is its own resolution, with its kind read from the disk";
    EXPECT_EQ(platform.resolvingSymlinks(Url::file(dir.at("real/gone/deeper"))),
              Url::file(dir.at("real/gone/deeper")));
    makeSymlink(dir.at("nowhere"), dir.at("real/dangling"));
    EXPECT_EQ(platform.resolvingSymlinks(Url::file(dir.at("real/dangling/x"))),
              Url::file(dir.at("real/dangling/x")));
    EXPECT_EQ(platform.resolvingSymlinks(Url::file(dir.at("real/../alias/file"))),
              Url::file(dir.at("real/file")))
        << "dots are left to the system";
    EXPECT_TRUE(platform.fileExists(Url::file(dir.at("alias/file"))));
    EXPECT_FALSE(platform.fileExists(Url::file(dir.at("nothing"))));

    auto listed = platform.contentsOfDirectory(dir.url());
    std::set<std::string> texts;
    for (const auto& url : listed) {
        texts.insert(url.absoluteString());
    }
    EXPECT_EQ(texts,
              (std::set<std::string>{"file://" + dir.at("alias"), "file://" + dir.at("real/")}));
}
