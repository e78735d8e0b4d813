#include "core/kinds/MimeDatabase.hpp"
#include "tests/support/CliRunner.hpp"
#include "tests/support/TestSupport.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace varnok;
using namespace varnok::testing;

namespace {

std::string described(const MimeDatabase& database, const std::string& name) {
    FileKindName kind = database.kindOfFile(name);
    return kind.description + " | " + kind.group;
}

} // namespace

// The installed freedesktop database (shared-mime-info is one of the project's packages).
TEST(MimeDatabase, NamesKindsFromTheInstalledDatabase) {
    auto database = MimeDatabase::load({"/usr/share/mime"});
    ASSERT_TRUE(database->isInstalled()) << "shared-mime-info is not installed";
    EXPECT_EQ(described(*database, "main.cpp"), "C++ source code | Code");
    EXPECT_EQ(database->kindOfFile("clip.WEBM").group, "Video") << "case does not matter";
    EXPECT_EQ(database->kindOfFile("backup.tar.gz").mimeType, "application/x-compressed-tar")
        << "the longest pattern wins";
    EXPECT_EQ(database->kindOfFile("backup.tar.gz").group, "Archive");
    EXPECT_EQ(database->kindOfFile("Makefile").mimeType, "text/x-makefile");
    EXPECT_EQ(database->kindOfFile("x.C").mimeType, "text/x-c++src") << "a case-sensitive glob";
    EXPECT_EQ(database->kindOfFile("x.c").mimeType, "text/x-csrc");
    EXPECT_EQ(described(*database, ".xsession-errors"), "Application log | Text");
    EXPECT_EQ(database->kindOfFile("syslog.log.1").mimeType, "text/x-log");
    EXPECT_EQ(described(*database, "mystery.qqzz"), "Unknown | Other");
    EXPECT_EQ(database->kindOfFolder().description, "Folder");
}

TEST(MimeDatabase, WeightsThenLengthThenTheFirstFolderDecide) {
    TempDir dir;
    writeFile(dir.at("user/mime/globs2"), "# comment\n"
                                          "50:text/x-mine:*.note\n");
    writeFile(dir.at("user/mime/text/x-mine.xml"),
              "<?xml version=\"1.0\"?>\n<mime-type type=\"text/x-mine\">\n"
              "  <comment xml:lang=\"de\">Meine Notiz</comment>\n"
              "  <comment>my &amp; your note</comment>\n</mime-type>\n");
    writeFile(dir.at("system/mime/globs2"), "80:text/x-heavy:*.heavy\n"
                                            "50:text/x-other:*.note\n"
                                            "50:text/x-light:*.light\n"
                                            "40:text/x-weak:*.heavy\n"
                                            "50:text/x-lettered:report-*\n"
                                            "50:text/x-double:*.light.zz\n"
                                            "malformed line\n");
    auto database = MimeDatabase::load({dir.at("user/mime"), dir.at("system/mime")});
    EXPECT_EQ(described(*database, "a.note"), "My & your note | Text");
    EXPECT_EQ(database->kindOfFile("a.heavy").mimeType, "text/x-heavy");
    EXPECT_EQ(database->kindOfFile("report-2026").mimeType, "text/x-lettered");
    EXPECT_EQ(database->kindOfFile("a.light.zz").mimeType, "text/x-double");
    // No description file: the type itself.
    EXPECT_EQ(database->kindOfFile("a.light").description, "text/x-light");
}

TEST(MimeDatabase, FindNamesEachItemsKind) {
    TempDir dir;
    writeFile(dir.at("data/src/main.cpp"), std::string(300, 'c'));
    writeFile(dir.at("data/film.mkv"), std::string(200, 'v'));
    writeFile(dir.at("data/.xsession-errors"), std::string(100, 'e'));
    // Without any database the built-in table still names them, folders included.
    for (const std::string& dataDirs : {std::string("/usr/share"), dir.at("nothing")}) {
        const std::vector<std::string> environment{"XDG_DATA_DIRS=" + dataDirs,
                                                   "XDG_DATA_HOME=" + dir.at("nothing")};
        auto run = runCli({"find", dir.at("data")}, environment);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find("KIND"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("C++ source code  "), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("Application log  "), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("Folder  "), std::string::npos) << run.out;

        auto json = runCli({"find", "--json", dir.at("data")}, environment);
        ASSERT_EQ(json.exitCode, 0) << json.err;
        auto items = nlohmann::json::parse(json.out)["items"];
        ASSERT_EQ(items.size(), 4u);
        EXPECT_EQ(items[0]["name"], "src");
        EXPECT_EQ(items[0]["kindGroup"], "Folder");
        EXPECT_EQ(items[1]["kind"], "C++ source code");
        EXPECT_EQ(items[2]["kindGroup"], "Video");
        EXPECT_EQ(items[2]["mimeType"], "video/x-matroska");
    }
}
