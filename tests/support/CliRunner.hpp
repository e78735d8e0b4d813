#pragma once

#include <string>
#include <vector>

namespace varnok::testing {

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs ombrelo-cli with `args` and the extra environment `environment` ("NAME=value"), capturing
// both output streams; in `workingFolder` when one is given.
CliRun runCli(const std::vector<std::string>& args,
              const std::vector<std::string>& environment = {},
              const std::string& workingFolder = "");

} // namespace varnok::testing
