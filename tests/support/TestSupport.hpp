#pragma once

#include "core/common/Url.hpp"

#include <chrono>
#include <functional>
#include <string>

namespace varnok::testing {

// A fresh folder under the temporary directory, readable by every user so that an unprivileged
// child can walk it. Left in place only if the test fails to clean it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // `relative` joined to the folder.
    std::string at(const std::string& relative) const;
    Url url() const { return Url::file(path_, true); }

private:
    std::string path_;
};

// Creates parent folders as needed. Returns the full path.
std::string writeFile(const std::string& path, const std::string& contents);
std::string makeFolder(const std::string& path);
void makeSymlink(const std::string& target, const std::string& linkPath);
// Sets the modification time to `secondsAgo` before now.
void setModifiedSecondsAgo(const std::string& path, double secondsAgo);
void setMode(const std::string& path, unsigned mode);

struct ChildOutcome {
    bool succeeded = false; // the body returned without throwing
    std::string output;     // what the body returned, or the exception's text
};

// Runs `body` in a forked child in which permission bits really apply: as root the child drops to
// the user "nobody"; a normal user's child keeps its own ids.
ChildOutcome runUnprivileged(const std::function<std::string()>& body);

// Counts this process's open file descriptors.
int openDescriptorCount();

} // namespace varnok::testing
