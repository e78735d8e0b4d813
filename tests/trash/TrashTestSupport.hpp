#pragma once

#include "core/common/CleanupProblem.hpp"
#include "core/scan/FileNode.hpp"
#include "core/trash/TrashService.hpp"
#include "tests/support/CliRunner.hpp"
#include "tests/support/ScopedEnv.hpp"
#include "tests/support/TestSupport.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

// Fails, showing both texts, unless `part` occurs in `text`.
#define EXPECT_CONTAINS(text, part) EXPECT_PRED_FORMAT2(::testing::IsSubstring, part, text)

namespace varnok::testing {

std::string readText(const std::string& path);
// lstat succeeds: something, even a dangling link, is there.
bool exists(const std::string& path);
// A scanned file node with its current identity.
FileNode fileNode(const std::string& path);

// The message of the CleanupProblem `body` throws, "other error: ..." for any other error, or
// "(accepted)".
template <typename Body> std::string problemOf(Body body) {
    try {
        body();
    } catch (const CleanupProblem& problem) {
        return problem.message;
    } catch (const std::exception& error) {
        return std::string("other error: ") + error.what();
    }
    return "(accepted)";
}

struct CommandResult {
    int status = -1;
    std::string output; // stdout and stderr together
};

// Runs `command` with /bin/sh, feeding `input` on stdin.
CommandResult runShell(const std::string& command, const std::string& input = "");

// A scratch home, set as HOME and XDG_DATA_HOME for the scope, whose Trash is on the same file
// system as the other scratch folders.
struct ScratchHome {
    TempDir dir;
    std::string home = makeFolder(dir.at("home"));
    std::string data = makeFolder(home + "/.local/share");
    std::string trash = data + "/Trash";
    ScopedEnv homeVariable{"HOME", home};
    ScopedEnv dataVariable{"XDG_DATA_HOME", data};

    // The same variables for a child process.
    std::vector<std::string> environment() const {
        return {"HOME=" + home, "XDG_DATA_HOME=" + data};
    }
    // Runs a trash-cli command against this home.
    CommandResult trashCli(const std::string& command, const std::string& input = "") const {
        return runShell("HOME='" + home + "' XDG_DATA_HOME='" + data + "' " + command, input);
    }
};

// A scratch home for ombrelo-cli: a Spotify cache and a folder of byte-identical photos.
struct CliHome : ScratchHome {
    std::string cache = home + "/Library/Caches/com.spotify.client";
    std::string photos = makeFolder(dir.at("photos"));
    std::string folder = data + "/Varnok/cleanup-history";
    Url history = Url::file(folder, true);

    CliHome();
    // Runs the tool with this home and the `extra` variables ("NAME=value").
    CliRun run(const std::vector<std::string>& args,
               const std::vector<std::string>& extra = {}) const;
    // The id of the only cleanup report in the history.
    std::string onlyReportId() const;
};

// The same home after the tool has moved its cache to the Trash.
struct CleanedHome : CliHome {
    std::string id;

    CleanedHome();
    std::string reportPath() const { return folder + "/" + id + ".json"; }
};

// A small tmpfs mounted on an existing folder for the scope: a second file system whose space and
// writability a test controls. Needs root; `mounted()` is false where mounting is not allowed.
class TmpfsMount {
public:
    TmpfsMount(const std::string& folder, const std::string& size);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& path() const { return folder_; }
    // Remounts read-only (or writable again).
    bool setReadOnly(bool readOnly);
    // Fills the file system up with a file named `name` until writing fails for lack of space.
    void fill(const std::string& name);

private:
    std::string folder_;
    std::string size_;
    bool mounted_ = false;
};

} // namespace varnok::testing
