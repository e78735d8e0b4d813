#include "cli/Cli.hpp"

#include <cstdio>
#include <string>
#include <vector>

using namespace ombrelo::cli;

namespace {

void printToolHelp(std::FILE* out) {
    std::fprintf(out, "Usage: ombrelo-cli COMMAND [OPTIONS]\n\n"
                      "Ombrelo finds disk space in a home folder that can be given back safely.\n"
                      "It never deletes anything: items only move to the Trash.\n\n"
                      "Commands:\n");
    for (const Command& command : registeredCommands()) {
        std::fprintf(out, "  %-14s %s\n", command.name.c_str(), command.summary.c_str());
    }
    std::fprintf(out, "\nRun 'ombrelo-cli COMMAND --help' for a command's options.\n"
                      "Exit status: 0 success, 1 refused or failed, 2 usage error,\n"
                      "130 interrupted.\n");
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        printToolHelp(stderr);
        return exitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printToolHelp(stdout);
        return exitSuccess;
    }
    if (args[0] == "--version") {
        std::printf("ombrelo-cli 0.1.0\n");
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
            std::fprintf(stderr, "ombrelo-cli %s: %s\n\n%s", command.name.c_str(), error.what(),
                         command.help.c_str());
            return exitUsage;
        }
    }
    std::fprintf(stderr, "ombrelo-cli: unknown command '%s'\n\n", args[0].c_str());
    printToolHelp(stderr);
    return exitUsage;
}
