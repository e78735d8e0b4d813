#include "tests/support/CliRunner.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

using namespace varnok::testing;

namespace {

// A peer tool's output; the test fails when it does not exit 0.
std::string shell(const std::string& command) {
    CommandResult result = runShell(command);
    EXPECT_EQ(result.status, 0) << command << ": " << result.output;
    return result.output;
}

std::string shellWord(const std::string& path) {
    return "'" + path + "'";
}

// A tree with what saved scans must carry: names that are not UTF-8 or hold quotes, backslashes
// and line breaks, hard links in one folder and across folders, a sparse file, an empty folder,
// a link, and a folder only root may read.
struct OddTree {
    TempDir scratch;
    std::string root = scratch.at("tree");
    std::string out = scratch.at("out");
    OddTree() {
        writeFile(root + "/caf\xe9.txt", std::string(5000, 'c'));
        writeFile(root + "/say \"hi\" back\\slash\nline", "q");
        writeFile(root + "/docs/report.pdf", std::string(20000, 'r'));
        writeFile(root + "/docs/deep/er/notes.md", std::string(9000, 'n'));
        makeFolder(root + "/empty");
        makeFolder(root + "/other");
        EXPECT_EQ(::link((root + "/docs/report.pdf").c_str(), (root + "/docs/copy.pdf").c_str()),
                  0);
        EXPECT_EQ(::link((root + "/docs/report.pdf").c_str(), (root + "/other/r.pdf").c_str()), 0);
        makeSymlink("docs", root + "/to-docs");
        const int fd = ::open((root + "/sparse.img").c_str(), O_CREAT | O_WRONLY, 0644);
        EXPECT_EQ(::ftruncate(fd, 30'000'000), 0);
        EXPECT_EQ(::pwrite(fd, "x", 1, 12'000'000), 1);
        ::close(fd);
        writeFile(root + "/private/secret", std::string(7000, 's'));
        setMode(root + "/private", 0);
        makeFolder(out);
        setMode(out, 0777);
    }
};

struct Entry {
    bool isDirectory;
    std::int64_t logical;
    std::int64_t allocated;
    bool errors;
    std::int64_t links;
};

// The tree of `scan --load FILE --json`, by path below its root.
std::map<std::string, Entry> loadedTree(const std::string& file,
                                        nlohmann::json* document = nullptr) {
    CliRun run = runCli({"scan", "--load", file, "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json json = nlohmann::json::parse(run.out);
    if (document) {
        *document = json;
    }
    std::map<std::string, Entry> tree;
    const std::string rootId = json["root"]["id"];
    std::vector<const nlohmann::json*> pending{&json["root"]};
    while (!pending.empty()) {
        const nlohmann::json& node = *pending.back();
        pending.pop_back();
        tree[node["id"].get<std::string>().substr(rootId.size())] = {
            node["isDirectory"], node["logicalSize"], node["allocatedSize"], node["hasReadErrors"],
            node.contains("identity") ? node["identity"]["linkCount"].get<std::int64_t>() : 1};
        for (const auto& child : node["children"]) {
            pending.push_back(&child);
        }
    }
    return tree;
}

// One line per entry. Which folder holds the blocks of a file linked from several depends on
// the path a reader meets first, so on disk only the total and the unlinked files are compared.
std::string shape(const std::map<std::string, Entry>& tree,
                  const std::map<std::string, Entry>& linksFrom) {
    std::string out;
    for (const auto& [path, entry] : tree) {
        const auto linked = linksFrom.find(path);
        const bool counted = path.empty() || (!entry.isDirectory && linked != linksFrom.end() &&
                                              linked->second.links < 2);
        out += path + " " + std::to_string(entry.logical) +
               (counted ? " " + std::to_string(entry.allocated) : "") +
               (entry.errors ? " error\n" : "\n");
    }
    return out;
}

std::int64_t firstNumber(const std::string& text) {
    return std::stoll(text);
}

} // namespace

TEST(SavedScanCommand, OurFileLoadsInNcduAndComesBackTheSame) {
    OddTree t;
    const std::string ours = t.out + "/ours.json";
    // Saved by an unprivileged user, so that the private folder really cannot be read.
    auto saved = runUnprivileged([&] {
        CliRun run = runCli({"scan", t.root, "--save", ours, "--quiet"});
        return std::to_string(run.exitCode) + " " + run.err;
    });
    ASSERT_TRUE(saved.succeeded) << saved.output;
    ASSERT_EQ(saved.output.substr(0, 2), "0 ") << saved.output;

    const std::string back = t.out + "/back.json";
    shell("ncdu --ignore-config -f " + shellWord(ours) + " -o " + shellWord(back) + " 2>/dev/null");
    nlohmann::json document;
    const auto before = loadedTree(ours, &document);
    EXPECT_EQ(shape(loadedTree(back), before), shape(before, before))
        << "sizes, kinds and read errors survive ncdu";
    EXPECT_TRUE(before.count("caf%E9.txt")) << "a name that is not UTF-8 keeps its bytes";
    EXPECT_TRUE(before.at("private/").errors);
    EXPECT_EQ(document["skippedCount"], 1);
    EXPECT_EQ(document["savedScan"]["writer"].get<std::string>().substr(0, 8), "ombrelo ");
    EXPECT_NE(document["savedScan"]["takenAt"], nullptr);

    // Hard-linked files count once on disk, whichever of the two files is read.
    const std::int64_t report = before.at("docs/report.pdf").allocated +
                                before.at("docs/copy.pdf").allocated +
                                before.at("other/r.pdf").allocated;
    EXPECT_GE(report, 20000);
    EXPECT_LT(report, 40000);
}

TEST(SavedScanCommand, FilesOfNcduAndGduLoadWithTheTotalsTheyShow) {
    OddTree t;
    setMode(t.root + "/private", 0755); // du, ncdu and gdu all read everything here
    const std::string ncdu = t.out + "/ncdu.json";
    const std::string gdu = t.out + "/gdu.json";
    shell("ncdu --ignore-config -o " + shellWord(ncdu) + " " + shellWord(t.root) + " 2>/dev/null");
    shell("HOME=" + shellWord(t.scratch.path()) + " gdu -o " + shellWord(gdu) + " " +
          shellWord(t.root) + " >/dev/null 2>&1");

    nlohmann::json fromNcdu;
    const auto tree = loadedTree(ncdu, &fromNcdu);
    const nlohmann::json& root = fromNcdu["root"];
    EXPECT_EQ(root["allocatedSize"], firstNumber(shell("du -sB1 " + shellWord(t.root))))
        << "ncdu shows what du counts";
    EXPECT_EQ(root["fileCount"],
              firstNumber(shell("find " + shellWord(t.root) + " ! -type d -printf . | wc -c")));
    EXPECT_EQ(root["folderCount"].get<std::int64_t>() + 1,
              firstNumber(shell("find " + shellWord(t.root) + " -type d -printf . | wc -c")));
    EXPECT_TRUE(tree.count("caf%E9.txt"));
    EXPECT_EQ(fromNcdu["savedScan"]["writer"], "ncdu 1.18");

    nlohmann::json fromGdu;
    loadedTree(gdu, &fromGdu);
    EXPECT_EQ(fromGdu["root"]["allocatedSize"],
              firstNumber(shell("HOME=" + shellWord(t.scratch.path()) +
                                " gdu -n -s --no-prefix -f " + shellWord(gdu))));
    EXPECT_EQ(fromGdu["root"]["fileCount"], root["fileCount"]);
}

TEST(SavedScanCommand, ScanFindAndMapReadASavedScanAsTheyReadTheFolder) {
    OddTree t;
    const std::string saved = t.out + "/scan.json.gz";
    CliRun run = runCli({"scan", t.root, "--save", saved});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    CliRun loaded = runCli({"scan", "--load", saved});
    ASSERT_EQ(loaded.exitCode, 0) << loaded.err;
    EXPECT_NE(loaded.out.find("Saved scan: "), std::string::npos) << loaded.out;
    EXPECT_NE(loaded.out.find(" by ombrelo "), std::string::npos) << loaded.out;
    EXPECT_EQ(shell("gzip -dc " + shellWord(saved) + " | " OMBRELO_CLI_PATH " scan --load -"),
              loaded.out)
        << "a scan piped in reads as the file";

    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"find", "--json", "--sort", "largest", "--limit", "0"},
          std::vector<std::string>{"map", "--json", "--mode", "treemap", "--depth", "3"}}) {
        std::vector<std::string> fromFolder = command;
        fromFolder.push_back(t.root);
        std::vector<std::string> fromFile = command;
        fromFile.insert(fromFile.end(), {"--load", saved});
        CliRun live = runCli(fromFolder);
        CliRun read = runCli(fromFile);
        ASSERT_EQ(live.exitCode, 0) << live.err;
        ASSERT_EQ(read.exitCode, 0) << read.err;
        auto a = nlohmann::json::parse(live.out);
        auto b = nlohmann::json::parse(read.out);
        if (command[0] == "find") {
            // Sizes, names and dates of every item; a hard-linked file counts on disk where
            // the file says, so only the content sizes are compared item by item.
            ASSERT_EQ(a["items"].size(), b["items"].size());
            for (size_t i = 0; i < a["items"].size(); ++i) {
                EXPECT_EQ(a["items"][i]["path"], b["items"][i]["path"]);
                EXPECT_EQ(a["items"][i]["logicalSize"], b["items"][i]["logicalSize"]);
                EXPECT_EQ(a["items"][i]["modified"], b["items"][i]["modified"]);
            }
            EXPECT_EQ(b["savedScan"]["writer"].get<std::string>().substr(0, 8), "ombrelo ");
        } else {
            EXPECT_GT(a["placements"].size(), 5u);
            EXPECT_EQ(a["placements"], b["placements"]) << "the same map, tile by tile";
            EXPECT_EQ(b["savedScan"]["file"], saved);
        }
    }

    struct Refusal {
        std::vector<std::string> args;
        int code;
        std::string message;
    };
    writeFile(t.out + "/notes.txt", "not a scan");
    for (const Refusal& r : std::vector<Refusal>{
             {{"scan", "--load", saved, t.root}, 2, "not both"},
             {{"find", "--load", saved, "-x"}, 2, "applies to scanning"},
             {{"map", "--load="}, 2, "needs a file"},
             {{"scan", t.root, "--save="}, 2, "needs a file"},
             {{"scan", "--load", t.out + "/missing.json"}, 1, "missing.json"},
             {{"find", "--load", t.out + "/notes.txt"}, 1, "is not a scan saved in ncdu's JSON"},
             {{"scan", t.root, "--save", t.out + "/no/such/folder.json"}, 1, "folder.json"},
         }) {
        CliRun refused = runCli(r.args);
        EXPECT_EQ(refused.exitCode, r.code) << r.args[1] << " " << refused.err;
        EXPECT_NE(refused.err.find(r.message), std::string::npos) << refused.err;
    }
}

TEST(DiffCommand, ListsWhatChangedSinceASavedScan) {
    TempDir scratch;
    const std::string root = scratch.at("home");
    writeFile(root + "/logs/app.log", std::string(4096, 'a'));
    writeFile(root + "/logs/old.log", std::string(4096, 'o'));
    writeFile(root + "/cache/blob", std::string(40960, 'b'));
    writeFile(root + "/keep", std::string(100, 'k'));
    const std::string saved = scratch.at("before.json");
    ASSERT_EQ(runCli({"scan", root, "--save", saved, "--quiet"}).exitCode, 0);

    writeFile(root + "/logs/app.log", std::string(4096 * 5, 'a'));
    writeFile(root + "/logs/new.log", std::string(8192, 'n'));
    writeFile(root + "/videos/film.mp4", std::string(100000, 'v'));
    ASSERT_EQ(::truncate((root + "/cache/blob").c_str(), 4096), 0);
    ASSERT_EQ(::unlink((root + "/logs/old.log").c_str()), 0);

    CliRun run = runCli({"diff", saved, root, "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    std::vector<std::string> listed;
    for (const auto& change : json["changes"]) {
        listed.push_back(change["status"].get<std::string>() + " " +
                         change["path"].get<std::string>());
        EXPECT_EQ(change["change"],
                  change["newSize"].get<std::int64_t>() - change["oldSize"].get<std::int64_t>());
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"new videos", "shrank cache", "shrank cache/blob",
                                                "grew logs", "grew logs/app.log",
                                                "new logs/new.log", "gone logs/old.log"}))
        << run.out;
    EXPECT_EQ(json["old"]["source"], "saved");
    EXPECT_EQ(json["new"]["source"], "scanned");
    EXPECT_EQ(json["change"],
              json["newTotal"].get<std::int64_t>() - json["oldTotal"].get<std::int64_t>());
    const auto& logs = json["changes"][3];
    EXPECT_EQ(logs["ownChange"], logs["change"]) << "logs holds no folders";

    CliRun text = runCli({"diff", saved, root, "--depth", "1", "--min", "10k"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("Old: " + root + " (saved in " + saved), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("3 changes:"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("new     videos/"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("app.log"), std::string::npos) << "deeper than --depth";

    CliRun same = runCli({"diff", root, root});
    EXPECT_EQ(same.exitCode, 0);
    EXPECT_NE(same.out.find("No changes."), std::string::npos) << same.out;

    for (const std::vector<std::string>& args : {std::vector<std::string>{"diff", saved},
                                                 {"diff", saved, root, "--min", "5Q"},
                                                 {"diff", saved, root, "--depth", "0"},
                                                 {"diff", saved, root, root}}) {
        CliRun usage = runCli(args);
        EXPECT_EQ(usage.exitCode, 2) << usage.err;
        EXPECT_TRUE(usage.out.empty());
    }
    CliRun bad =
        runCli({"diff", writeFile(scratch.at("bad.json"), "[1,2,{},[{\"name\":\"/x\"}"), root});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("ends in the middle of the scan"), std::string::npos) << bad.err;
    EXPECT_TRUE(bad.out.empty());
}
