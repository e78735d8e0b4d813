#include "tests/support/CliRunner.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace varnok::testing;

namespace {

// Runs `script` in a non-interactive bash and returns what it printed.
std::string runBash(const TempDir& dir, const std::string& script) {
    return runShell("bash --norc --noprofile '" + writeFile(dir.at("script.bash"), script) + "'")
        .output;
}

// A bash with the generated completion loaded that asks it for the replies to each command line
// in `lines` (the words as typed, the last one being completed) and prints them one a line as
// printf %q writes them, each list ended by "--".
std::string bashReplies(const TempDir& dir, const std::string& folder,
                        const std::vector<std::string>& lines) {
    const CliRun completion = runCli({"--completion", "bash"});
    EXPECT_EQ(completion.exitCode, 0);
    writeFile(dir.at("completion.bash"), completion.out);
    // The ids of the default history folder are this scratch home's, never the real one's.
    std::string script = "source '" + dir.at("completion.bash") + "'\ncd '" + folder +
                         "'\nexport XDG_DATA_HOME='" + folder +
                         "/.data'\n"
                         "replies() {\n"
                         "    COMP_WORDS=(ombrelo-cli \"$@\")\n"
                         "    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                         "    COMP_LINE=\"ombrelo-cli $*\"\n"
                         "    COMP_POINT=${#COMP_LINE}\n"
                         "    _ombrelo_cli ombrelo-cli \"${COMP_WORDS[COMP_CWORD]}\" "
                         "\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
                         "    printf '%q\\n' \"${COMPREPLY[@]}\"\n"
                         "    echo --\n"
                         "}\n"
                         "complete -p ombrelo-cli\n";
    for (const auto& line : lines) {
        script += "replies " + line + "\n";
    }
    return runBash(dir, script);
}

// Reads what `fd` prints until `marker` appears or 20 seconds pass; returns all that was read.
std::string readUntil(int fd, const std::string& marker, std::string& output) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    char buffer[4096];
    while (output.find(marker) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) {
            continue;
        }
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0) {
            break;
        }
        output.append(buffer, static_cast<size_t>(count));
    }
    return output;
}

// Types `line`, a Tab and Return into an interactive `shell` on a terminal, in `folder`, after
// `setup` has run there. ombrelo-cli is a function that prints each argument it is given as
// "<argument>", so the output shows the words as the shell took them after completing.
std::string typeWithCompletion(const std::vector<std::string>& shell, const std::string& folder,
                               const std::string& setup, const std::string& line) {
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0) {
        return "forkpty failed";
    }
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0) {
            ::_exit(126);
        }
        ::setenv("TERM", "dumb", 1);
        ::setenv("PS1", "$ ", 1);
        ::setenv("INPUTRC", "/dev/null", 1);
        // Nothing of the shell's (history, completion dumps) lands in the real home.
        ::setenv("HOME", folder.c_str(), 1);
        ::setenv("HISTFILE", "/dev/null", 1);
        std::vector<char*> argv;
        std::vector<std::string> words(shell);
        for (auto& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    // The markers are computed, so the echo of the typed text does not match them.
    const std::string commands = setup +
                                 "\nombrelo-cli() { printf '<%s>\\n' \"$@\"; echo END-$((1+2)); }"
                                 "\necho READY-$((1+1))\n";
    std::string output;
    bool written = ::write(terminal, commands.data(), commands.size()) ==
                   static_cast<ssize_t>(commands.size());
    readUntil(terminal, "READY-2", output);
    const size_t start = output.size();
    const std::string typed = line + "\t\n";
    written = written &&
              ::write(terminal, typed.data(), typed.size()) == static_cast<ssize_t>(typed.size());
    readUntil(terminal, "END-3", output);
    ::kill(child, SIGKILL); // the test's own shell
    ::waitpid(child, nullptr, 0);
    ::close(terminal);
    std::string shown;
    for (size_t i = start; i < output.size(); ++i) {
        if (output[i] != '\r') {
            shown += output[i];
        }
    }
    return written ? shown : "could not type into the shell";
}

} // namespace

TEST(Completion, BashCompletesNamesWithSpacesQuotesAndNewlinesWhole) {
    TempDir dir;
    const std::string home = dir.at("home");
    makeFolder(home + "/Slack/Code Cache");
    makeFolder(home + "/Slack/Cache");
    makeFolder(home + "/Slack/Local Storage");
    writeFile(home + "/Slack/a file", "x");
    makeFolder(home + "/it's");
    makeFolder(home + "/new\nline");
    makeFolder(home + "/say \"hi\"");
    makeFolder(home + "/[glob]*");
    makeFolder(home + "/[glob]x");
    makeFolder(home + "/x:y folder");
    writeFile(home + "/old history/5D0C2F3A-0000-4000-8000-000000000001.json", "{}");
    writeFile(home + "/.data/Varnok/cleanup-history/5D0C2F3A-0000-4000-8000-000000000002.json",
              "{}");

    const std::string out = bashReplies(
        dir, home,
        {
            "scan Slack/",                          // only the folders, with spaces in their names
            "scan 'Slack/Code\\ C'",                // typed with a backslash
            "scan '\"Slack/Local S'",               // inside an open double quote
            "scan \"'Slack/Lo\"",                   // inside an open single quote
            "scan \"it\\\\'\"",                     // a quote in the name
            "scan \"\\$'new\\\\nl'\"",              // a newline typed as $'...'
            "scan new",                             // a newline in the offered name
            "scan 'say\\ \\\"'",                    // double quotes in the name
            "scan '\\[glob\\]'",                    // glob characters are taken literally
            "scan x:",                              // readline replaces only what follows the colon
            "restore ABCD1234 'Slack/a\\ '",        // the original path of restore is any file
            "cleanup-scan --home Sla",              // an option's folder value
            "restore --history 'old\\ history' 5D", // the ids of the history folder given
            "restore 5D",                           // ... or of the default one
            "res",                                  // a command
            "map --mode s",                         // an option's values
            "scan --one",                           // an option
        });
    EXPECT_EQ(out, "complete -o filenames -F _ombrelo_cli ombrelo-cli\n"
                   "Slack/Cache\nSlack/Code\\ Cache\nSlack/Local\\ Storage\n--\n"
                   "Slack/Code\\ Cache\n--\n"
                   "Slack/Local\\ Storage\n--\n"
                   "Slack/Local\\ Storage\n--\n"
                   "it\\'s\n--\n"
                   "$'new\\nline'\n--\n"
                   "$'new\\nline'\n--\n"
                   "say\\ \\\"hi\\\"\n--\n"
                   "\\[glob\\]\\*\n\\[glob\\]x\n--\n"
                   "y\\ folder\n--\n"
                   "Slack/a\\ file\n--\n"
                   "Slack\n--\n"
                   "5D0C2F3A-0000-4000-8000-000000000001\n--\n"
                   "5D0C2F3A-0000-4000-8000-000000000002\n--\n"
                   "restore\n--\n"
                   "sunburst\n--\n"
                   "--one-file-system\n--\n");
}

TEST(Completion, BashAndZshInsertOddNamesQuotedOnATerminal) {
    ASSERT_EQ(std::system("command -v zsh >/dev/null"), 0)
        << "zsh is not installed; scripts/ombrelo installs it";
    TempDir dir;
    const std::string home = dir.at("home");
    makeFolder(home + "/Slack/Code Cache");
    makeFolder(home + "/it's");
    makeFolder(home + "/new\nline");
    makeFolder(home + "/x:y folder");
    writeFile(home + "/say \"hi\"", "x");
    writeFile(home + "/old history/5D0C2F3A-0000-4000-8000-000000000001.json", "{}");
    const CliRun bash = runCli({"--completion", "bash"});
    writeFile(dir.at("completion.bash"), bash.out);
    const CliRun zsh = runCli({"--completion", "zsh"});
    writeFile(dir.at("zsh/_ombrelo-cli"), zsh.out);

    const std::string bashSetup = "source '" + dir.at("completion.bash") + "'";
    const std::string zshSetup =
        "fpath=('" + dir.at("zsh") + "' $fpath); autoload -U compinit; compinit -u -D";
    struct Shell {
        std::vector<std::string> command;
        std::string setup;
    };
    for (const Shell& shell : {Shell{{"bash", "--norc", "--noprofile", "-i"}, bashSetup},
                               Shell{{"zsh", "-f", "-i"}, zshSetup}}) {
        for (const auto& [line, word] : std::vector<std::pair<std::string, std::string>>{
                 {"ombrelo-cli scan Slack/Co", "<Slack/Code Cache"},
                 {"ombrelo-cli scan it", "<it's"},
                 {"ombrelo-cli scan new", "<new\nline"},
                 {"ombrelo-cli scan x:", "<x:y folder"},
                 {"ombrelo-cli restore --history 'old history' 5D",
                  "<5D0C2F3A-0000-4000-8000-000000000001>"},
                 {"ombrelo-cli restore ABCD1234 sa", "<say \"hi\">"},
             }) {
            const std::string out = typeWithCompletion(shell.command, home, shell.setup, line);
            EXPECT_NE(out.find(word), std::string::npos) << shell.command[0] << ": " << line << "\n"
                                                         << out;
        }
    }
}
