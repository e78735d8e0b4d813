#include "cli/Cli.hpp"
#include "ombrelo/Version.hpp"

#include <cstdio>
#include <string>
#include <vector>

using namespace ombrelo::cli;

namespace {

void printToolHelp(std::FILE* out) {
    std::fputs(toolHelp().c_str(), out);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(usageErrorText("", "no command given", toolHelp()).c_str(), stderr);
        return exitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printToolHelp(stdout);
        return exitSuccess;
    }
    if (args[0] == "--man-page" && args.size() == 1) {
        std::fputs(manualPage().c_str(), stdout);
        return exitSuccess;
    }
    if (args[0] == "--completion") {
        std::string script = args.size() == 2 ? completionScript(args[1]) : "";
        if (script.empty()) {
            std::fputs(usageErrorText("", "--completion takes bash or zsh", toolHelp()).c_str(),
                       stderr);
            return exitUsage;
        }
        std::fputs(script.c_str(), stdout);
        return exitSuccess;
    }
    if (args[0] == "--version") {
        std::printf("ombrelo-cli %s\n", OMBRELO_VERSION);
        return exitSuccess;
    }
    for (const Command& command : registeredCommands()) {
        if (command.name != args[0]) {
            continue;
        }
        std::vector<std::string> rest(args.begin() + 1, args.end());
        for (const auto& word : rest) {
            if (word == "--") {
                break;
            }
            if (word == "--help" || word == "-h") {
                std::fputs(command.help.c_str(), stdout);
                return exitSuccess;
            }
        }
        try {
            return command.run(rest);
        } catch (const UsageError& error) {
            std::fputs(usageErrorText(command.name, error.what(), command.help).c_str(), stderr);
            return exitUsage;
        }
    }
    std::fputs(usageErrorText("", "unknown command '" + args[0] + "'", toolHelp()).c_str(), stderr);
    return exitUsage;
}
