#include "tests/support/TestSupport.hpp"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace varnok::testing;

namespace {

// The runs of printable text in a program: bytes as they are, and UTF-16 (QStringLiteral) with
// its zero bytes taken out.
std::vector<std::string> textsIn(const std::string& program) {
    std::ifstream in(program, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto printable = [](char c) { return (c >= 0x20 && c < 0x7f) || c == '\n' || c == '\t'; };
    std::vector<std::string> texts;
    for (size_t step : {1, 2}) {
        for (size_t start = 0; start < step; ++start) {
            std::string run;
            for (size_t i = start; i + step - 1 < bytes.size(); i += step) {
                const bool ok = printable(bytes[i]) && (step == 1 || bytes[i + 1] == '\0');
                if (ok) {
                    run += bytes[i];
                    continue;
                }
                if (run.size() >= 4) {
                    texts.push_back(run);
                }
                run.clear();
            }
        }
    }
    return texts;
}

// The texts of a program that name the other system's file browser, computer or access setting.
std::vector<std::string> otherSystemWords(const std::string& program) {
    const std::regex words(R"(\bFinder\b|\bMac\b|Full Disk Access)");
    std::vector<std::string> found;
    for (const std::string& text : textsIn(program)) {
        const bool mayName = text.find("Finder") != std::string::npos ||
                             text.find("Mac") != std::string::npos ||
                             text.find("Full Disk Access") != std::string::npos;
        if (mayName && std::regex_search(text, words)) {
            found.push_back(text);
        }
    }
    return found;
}

TEST(LinuxWords, NoTextOfTheProgramsNamesFinderAMacOrFullDiskAccess) {
    std::vector<std::string> programs = {OMBRELO_CLI_PATH};
#ifdef OMBRELO_APP_PATH
    // The window, when this build has one.
    struct stat info {};
    if (::stat(OMBRELO_APP_PATH, &info) == 0) {
        programs.push_back(OMBRELO_APP_PATH);
    }
#endif
    for (const std::string& program : programs) {
        const std::vector<std::string> texts = textsIn(program);
        // The Linux words are there (the history's messages, which both programs show), so the
        // scan finds what it looks for.
        EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](const std::string& text) {
            return text.find("Restore manually in your file manager.") != std::string::npos;
        })) << program;
        EXPECT_EQ(otherSystemWords(program), std::vector<std::string>{}) << program;
    }
}

} // namespace
