#include "tests/trash/TrashTestSupport.hpp"

#include "core/scan/FileIdentity.hpp"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace varnok::testing {

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

FileNode fileNode(const std::string& path) {
    auto identity = FileIdentity::capture(Url::file(path));
    return FileNode(Url::file(path, false), false, identity.size, identity.size, {}, 1, 0, false,
                    false, true, identity);
}

CliHome::CliHome() {
    writeFile(cache + "/data.bin", "cached bytes");
    writeFile(photos + "/a.jpg", "same picture");
    writeFile(photos + "/b/a.jpg", "same picture");
    writeFile(photos + "/c.jpg", "same picture");
}

CliRun CliHome::run(const std::vector<std::string>& args,
                    const std::vector<std::string>& extra) const {
    std::vector<std::string> variables = environment();
    variables.insert(variables.end(), extra.begin(), extra.end());
    return runCli(args, variables);
}

std::string CliHome::onlyReportId() const {
    auto reports = nlohmann::json::parse(run({"history", "--json"}).out).at("reports");
    EXPECT_EQ(reports.size(), 1u);
    return reports.empty() ? "" : reports[0]["id"].get<std::string>();
}

CleanedHome::CleanedHome() {
    CliRun clean = run({"clean", "--yes", cache});
    EXPECT_EQ(clean.exitCode, 0) << clean.err;
    id = onlyReportId();
}

TmpfsMount::TmpfsMount(const std::string& folder, const std::string& size)
    : folder_(folder), size_(size) {
    std::string options = "size=" + size + ",mode=0755";
    mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

TmpfsMount::~TmpfsMount() {
    if (mounted_) {
        ::umount2(folder_.c_str(), MNT_DETACH);
    }
}

bool TmpfsMount::setReadOnly(bool readOnly) {
    std::string options = "size=" + size_ + ",mode=0755";
    unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    return ::mount("tmpfs", folder_.c_str(), "tmpfs", flags, options.c_str()) == 0;
}

void TmpfsMount::fill(const std::string& name) {
    std::string path = folder_ + "/" + name;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    std::vector<char> block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    // Byte by byte for the last partial page.
    while (::write(fd, block.data(), 1) > 0) {
    }
    ::close(fd);
}

CommandResult runShell(const std::string& command, const std::string& input) {
    std::string full = "printf '%s' \"$OMBRELO_TEST_INPUT\" | (" + command + ") 2>&1";
    ::setenv("OMBRELO_TEST_INPUT", input.c_str(), 1);
    CommandResult result;
    FILE* pipe = ::popen(full.c_str(), "r");
    ::unsetenv("OMBRELO_TEST_INPUT");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    while (size_t count = std::fread(buffer, 1, sizeof buffer, pipe)) {
        result.output.append(buffer, count);
    }
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace varnok::testing
