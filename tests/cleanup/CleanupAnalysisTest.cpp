#include "core/cleanup/CleanupAnalysis.hpp"
#include "core/common/Task.hpp"
#include "core/scan/ScanEngine.hpp"
#include "tests/support/ScopedEnv.hpp"
#include "tests/support/TestSupport.hpp"
#include "tests/support/TreeFixtures.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace varnok;
using namespace varnok::testing;

namespace {

// A scratch folder holding a home folder and projects, with the Trash variables pointing inside
// it so that the machine's own Trash plays no part.
class Workspace {
public:
    Workspace()
        : home_("HOME", dir.at("home")), data_("XDG_DATA_HOME", dir.at("home/.local/share")) {
        makeFolder(dir.at("home"));
    }
    std::string at(const std::string& relative) const { return dir.at(relative); }
    Url homeUrl() const { return Url::file(dir.at("home"), true); }

    // Scans `relative` and runs detection on it.
    std::vector<CleanupCandidate> detect(const std::string& relative = "") const {
        ScanResult scanned = ScanEngine::scan(Url::file(dir.at(relative), true), {});
        return CleanupAnalysis::detect(scanned.root, homeUrl());
    }

    // A JavaScript project with an installed dependency folder.
    void project(const std::string& relative, const std::string& lockfile = "yarn.lock") const {
        writeFile(at(relative + "/package.json"), "{}");
        if (!lockfile.empty()) {
            writeFile(at(relative + "/" + lockfile), "lock");
        }
        writeFile(at(relative + "/node_modules/left-pad/index.js"), "module.exports = 1;");
    }

    TempDir dir;

private:
    ScopedEnv home_;
    ScopedEnv data_;
};

using Paths = std::vector<std::string>;

Paths paths(const std::vector<CleanupCandidate>& found) {
    Paths out;
    for (const auto& candidate : found) {
        out.push_back(candidate.node.id.path());
    }
    return out;
}

TEST(CleanupAnalysis, DependencyFoldersWithManifestAndLockfileLargestFirst) {
    Workspace w;
    const std::string locks[] = {"yarn.lock",      "package-lock.json", "npm-shrinkwrap.json",
                                 "pnpm-lock.yaml", "bun.lock",          "bun.lockb"};
    for (char name = 'a'; name <= 'f'; ++name) {
        w.project(std::string(1, name), locks[name - 'a']);
    }
    writeFile(w.at("b/node_modules/big.bin"), std::string(5000, 'x'));
    auto found = w.detect();
    // Siblings are visited last first, so equal sizes come out in reverse name order.
    Paths expected;
    for (const char* name : {"b", "f", "e", "d", "c", "a"}) {
        expected.push_back(w.at(name + std::string("/node_modules")));
    }
    EXPECT_EQ(paths(found), expected);
    EXPECT_EQ(found[0].category, CleanupCategory::dependencies);
    EXPECT_EQ(found[0].projectPath, w.at("b"));
    EXPECT_EQ(found[0].evidence, "Adjacent package.json and dependency lockfile.");
    EXPECT_FALSE(found[0].isExample);
    EXPECT_FALSE(found[0].keeper.has_value());
    // The scanned root itself is never a dependency folder.
    EXPECT_TRUE(w.detect("b/node_modules").empty());
    // Cancelled, detection fails rather than returning part of its result.
    ScanResult scanned = ScanEngine::scan(w.dir.url(), {});
    auto token = std::make_shared<CancellationToken>();
    token->cancel();
    CancellationScope scope(token);
    EXPECT_THROW(CleanupAnalysis::detect(scanned.root, w.homeUrl()), CancellationError);
}

TEST(CleanupAnalysis, MissingOrFakeEvidenceAndProtectedContentsSuggestNothing) {
    Workspace w;
    w.project("manifest-only", "");
    writeFile(w.at("lock-only/yarn.lock"), "lock");
    writeFile(w.at("lock-only/node_modules/x/index.js"), "1");
    // A link to a manifest and a folder named like a lockfile are no evidence.
    writeFile(w.at("elsewhere/package.json"), "{}");
    makeFolder(w.at("linked"));
    makeSymlink(w.at("elsewhere/package.json"), w.at("linked/package.json"));
    writeFile(w.at("linked/yarn.lock"), "lock");
    writeFile(w.at("linked/node_modules/x/index.js"), "1");
    writeFile(w.at("folder-lock/package.json"), "{}");
    makeFolder(w.at("folder-lock/yarn.lock"));
    writeFile(w.at("folder-lock/node_modules/x/index.js"), "1");
    // A complete project nested inside an unproven node_modules is not reached.
    w.project("manifest-only/node_modules/inner");
    // Secrets or history anywhere inside keep a folder from being suggested.
    int count = 0;
    for (std::string inside :
         {"node_modules/.env", "node_modules/x/.ENV.local", "node_modules/x/.env.production",
          "node_modules/x/y/.git/HEAD", "node_modules/.ssh/id", "node_modules/x/.Hg/store"}) {
        const std::string project = "p" + std::to_string(count++);
        w.project(project);
        writeFile(w.at(project + "/" + inside), "secret");
    }
    w.project("plain");
    writeFile(w.at("plain/node_modules/x/production.env"), "not a dotenv file");
    writeFile(w.at("plain/node_modules/x/.environment"), "not a dotenv file");
    EXPECT_EQ(paths(w.detect()), Paths({w.at("plain/node_modules")}));
    // The node's own name does not count, only what it holds.
    EXPECT_FALSE(CleanupAnalysis::containsProtectedData(folderNode("/p/.git", {})));
    EXPECT_TRUE(
        CleanupAnalysis::containsProtectedData(folderNode("/p", {folderNode("/p/.git", {})})));
}

TEST(CleanupAnalysis, NextOutputNeedsANextConfiguration) {
    Workspace w;
    writeFile(w.at("web/package.json"), "{}");
    writeFile(w.at("web/next.config.mjs"), "export default {}");
    writeFile(w.at("web/.next/cache/a"), "built");
    writeFile(w.at("json/package.json"), "{}");
    writeFile(w.at("json/next.config.json"), "{}");
    writeFile(w.at("json/.next/out.js"), "built");
    // Unsuggested output is searched like any folder.
    w.project("json/.next/vendored");
    auto found = w.detect();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].node.id.path(), w.at("json/.next/vendored/node_modules"));
    EXPECT_EQ(found[1].node.id.path(), w.at("web/.next"));
    EXPECT_EQ(found[1].category, CleanupCategory::builds);
    EXPECT_EQ(found[1].evidence, "Adjacent package.json and Next.js configuration.");
}

TEST(CleanupAnalysis, OnlyThisHomesDerivedDataWithBytesAndNoHistoryIsXcodeOutput) {
    Workspace w;
    const std::string derived = "home/Library/Developer/Xcode/DerivedData";
    makeFolder(w.at(derived + "/App/Build"));
    EXPECT_TRUE(w.detect().empty()) << "no bytes";
    writeFile(w.at(derived + "/App/Build/x.o"), "object");
    writeFile(w.at("other/Library/Developer/Xcode/DerivedData/App-abc/x.o"), "object");
    writeFile(w.at("home/code/DerivedData/x.o"), "object");
    auto found = w.detect();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].category, CleanupCategory::xcode);
    EXPECT_EQ(found[0].node.id.path(), w.at(derived));
    EXPECT_EQ(found[0].projectPath, w.at("home/Library/Developer/Xcode"));
    EXPECT_EQ(found[0].evidence, "Exact Xcode DerivedData location in the current user's Library.");
    // Scanned as the root itself it still matches; another home's never does.
    EXPECT_EQ(w.detect(derived).size(), 1u);
    EXPECT_TRUE(w.detect("other/Library/Developer/Xcode/DerivedData").empty());
    writeFile(w.at(derived + "/App/SourcePackages/kit/.git/HEAD"), "ref");
    EXPECT_TRUE(w.detect().empty());
}

TEST(CleanupAnalysis, PackagesProtectedFoldersAndTrashesAreNotSearched) {
    Workspace w;
    for (std::string folder : {"Pods", "Tool.app", "Photos.photoslibrary", "Kit.Framework",
                               "App.xcodeproj", ".svn", ".config"}) {
        w.project("p/" + folder + "/web");
    }
    // Outside a home, Library and Applications are folders like any other.
    w.project("p/Library/web");
    w.project("p/Applications/web");
    w.project("home/.local/share/Trash/files/web");
    w.project("disk/.Trash-1000/files/web");
    w.project("disk/.Trash/1000/files/web");
    w.project("disk/.Trashes/501/web");
    w.project("disk/Trash/web");
    Paths found = paths(w.detect());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found,
              Paths({w.at("disk/Trash/web/node_modules"), w.at("p/Applications/web/node_modules"),
                     w.at("p/Library/web/node_modules")}));
}

TEST(CleanupAnalysis, EmptyOrPartlyUnreadableFoldersAreNotSuggested) {
    Workspace w;
    writeFile(w.at("empty/package.json"), "{}");
    writeFile(w.at("empty/yarn.lock"), "lock");
    makeFolder(w.at("empty/node_modules/nothing"));
    w.project("locked");
    makeFolder(w.at("locked/node_modules/private"));
    setMode(w.at("locked/node_modules/private"), 0);
    if (::geteuid() == 0) {
        EXPECT_EQ(w.detect().size(), 1u) << "as root everything is readable";
    }
    auto outcome = runUnprivileged([&] { return std::to_string(w.detect().size()); });
    ASSERT_TRUE(outcome.succeeded) << outcome.output;
    EXPECT_EQ(outcome.output, "0");
}

} // namespace
