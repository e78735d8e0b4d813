#include "tests/support/CliRunner.hpp"
#include "tests/support/TestSupport.hpp"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace varnok::testing;

namespace {

// Runs `script` in a non-interactive bash and returns what it printed.
std::string runBash(const TempDir& dir, const std::string& script) {
    const std::string file = writeFile(dir.at("script.bash"), script);
    std::string output;
    if (std::FILE* pipe = ::popen(("bash --norc --noprofile '" + file + "' 2>&1").c_str(), "r")) {
        char buffer[4096];
        for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, count);
        }
        ::pclose(pipe);
    }
    return output;
}

// A bash with the generated completion loaded that asks it for the replies to each command line
// in `lines` (the words as typed, the last one being completed) and prints them one a line as
// printf %q writes them, each list ended by "--".
std::string bashReplies(const TempDir& dir, const std::string& folder,
                        const std::vector<std::string>& lines) {
    const CliRun completion = runCli({"--completion", "bash"});
    EXPECT_EQ(completion.exitCode, 0);
    writeFile(dir.at("completion.bash"), completion.out);
    std::string script = "source '" + dir.at("completion.bash") + "'\ncd '" + folder +
                         "'\n"
                         "replies() {\n"
                         "    COMP_WORDS=(ombrelo-cli \"$@\")\n"
                         "    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
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

    const std::string out =
        bashReplies(dir, home,
                    {
                        "scan Slack/",                   // a folder holding names with spaces
                        "scan 'Slack/Code\\ C'",         // typed with a backslash
                        "scan '\"Slack/Local S'",        // inside an open double quote
                        "scan \"'Slack/Lo\"",            // inside an open single quote
                        "scan \"it\\\\'\"",              // a quote in the name
                        "scan \"\\$'new\\\\nl'\"",       // a newline typed as $'...'
                        "scan new",                      // a newline in the offered name
                        "scan 'say\\ \\\"'",             // double quotes in the name
                        "scan '\\[glob\\]'",             // glob characters are taken literally
                        "restore ABCD1234 'Slack/a\\ '", // the original path of restore is any file
                        "cleanup-scan --home Sla",       // an option's folder value
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
                   "Slack/a\\ file\n--\n"
                   "Slack\n--\n");
}

TEST(Completion, BashOffersOnlyFoldersWhereAFolderIsAskedAndNothingForFreeText) {
    TempDir dir;
    const std::string home = dir.at("home");
    makeFolder(home + "/My Folder");
    writeFile(home + "/My File", "x");
    const std::string out = bashReplies(dir, home,
                                        {
                                            "scan My",           // scan takes a folder
                                            "detect --home My",  // so does --home
                                            "map --svg My",      // a file to write
                                            "find --exclude My", // a pattern, not a path
                                        });
    EXPECT_EQ(out, "complete -o filenames -F _ombrelo_cli ombrelo-cli\n"
                   "My\\ Folder\n--\n"
                   "My\\ Folder\n--\n"
                   "My\\ File\nMy\\ Folder\n--\n"
                   "''\n--\n");
}
