#include "core/snapshot/ScanArchive.hpp"

#include "core/common/DecodingError.hpp"
#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "core/scan/ScanEngine.hpp"
#include "tests/support/TreeFixtures.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

// Every node as one line, outermost first and children in stored order: path below the root,
// kind, sizes, counts, flags and the times and mode the file keeps.
std::vector<std::string> flatten(const FileNode& root) {
    std::vector<std::string> lines;
    std::vector<const FileNode*> pending{&root};
    const size_t below = root.id.path().size();
    while (!pending.empty()) {
        const FileNode* node = pending.back();
        pending.pop_back();
        std::string line =
            node->id.path().substr(below) + (node->isDirectory ? "/ " : " ") +
            std::to_string(node->logicalSize) + " " + std::to_string(node->allocatedSize) + " " +
            std::to_string(node->fileCount) + " " + std::to_string(node->folderCount) +
            (node->isSymbolicLink ? " link" : "") + (node->hasReadErrors ? " error" : "");
        if (node->identity) {
            line += " " + std::to_string(node->identity->modifiedSeconds) + " " +
                    std::to_string(node->identity->mode);
        }
        lines.push_back(line);
        for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) {
            pending.push_back(&*it);
        }
    }
    return lines;
}

std::string written(const ScanResult& result, std::int64_t takenAt = 1700000000) {
    std::string text;
    ScanArchive::write(result, takenAt, [&](std::string_view piece) { text += piece; });
    return text;
}

// What ncdu 1.18 (`ncdu -o`, `ncdu -e -o` for the times) and gdu 5.22 (`gdu -o`) write.
const char* const ncduSample =
    R"([1,2,{"progname":"ncdu","progver":"1.18","timestamp":1796644234},
[{"name":"/srv/t","asize":4096,"dsize":4096,"dev":65024},
{"name":"sparse","asize":10485760},
[{"name":"locked","asize":4096,"dsize":4096,"mode":16384,"mtime":1796640000,"read_error":true}],
[{"name":"empty","asize":4096,"dsize":4096}],
{"name":"link","asize":1,"notreg":true},
{"name":"caf)"
    "\xe9"
    R"(","asize":1,"dsize":4096},
[{"name":"a","asize":4096,"dsize":4096},
[{"name":"b","asize":4096,"dsize":4096},
{"name":"big","asize":100000,"dsize":102400,"ino":11069326,"hlnkc":true,"nlink":2}],
{"name":"hard","asize":100000,"dsize":102400,"ino":11069326,"hlnkc":true,"nlink":2}],
{"name":"node_modules","dev":0,"excluded":"pattern"},
{"name":"mnt","excluded":"otherfs"},
{"name":"we\"ird\\name \u00e9\ud83d\ude00","asize":1,"dsize":4096,"future":[{"x":[1,2.5e3,null]}]}],
{"later":"elements are ignored"}])";

const char* const gduSample =
    R"([1,2,{"progname":"gdu","progver":"5.22.0-1+b1","timestamp":1796644234},
[{"name":"/srv/t","mtime":1796644234},
[{"name":"a","mtime":1796644234},
{"name":"f1","asize":5,"dsize":4096,"mtime":1796644234}],
[{"name":"empty","mtime":1796644234}
]]])";

} // namespace

TEST(ScanArchive, SavedScanReadsBackAsTheSameTreeWithNamesAsBytes) {
    TempDir dir;
    const std::string root = dir.at("tree");
    writeFile(root + "/caf\xe9", "latin-1 name");
    writeFile(root + "/new\nline \"quoted\" back\\slash\x01", "x");
    writeFile(root + "/deep/er/ünï.txt", std::string(5000, 'u'));
    writeFile(root + "/.hidden", "");
    makeFolder(root + "/empty");
    makeSymlink("deep", root + "/link");
    {
        const int fd = ::open((root + "/sparse").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_EQ(::ftruncate(fd, 50'000'000), 0);
        ::close(fd);
    }
    setModifiedSecondsAgo(root + "/deep/er/ünï.txt", 86400.0 * 400);
    const ScanResult scanned = ScanEngine::scan(Url::file(root, true), {});

    const auto takenAt = static_cast<std::int64_t>(std::time(nullptr));
    for (const std::string name : {"scan.json", "scan.json.gz"}) {
        const std::string file = dir.at("saved-" + name + "/" + name);
        writeFile(file, "an older scan that is replaced");
        ScanArchive::save(scanned, takenAt, file);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.at("saved-" + name)),
                                std::filesystem::directory_iterator()),
                  1)
            << "no partial file is left beside it";
        const bool compressed = readText(file).substr(0, 2) == "\x1f\x8b";
        EXPECT_EQ(compressed, name.ends_with(".gz"));

        const SavedScan loaded = ScanArchive::load(file);
        EXPECT_EQ(flatten(loaded.result.root), flatten(scanned.root)) << name;
        EXPECT_EQ(loaded.result.root.id, scanned.root.id);
        EXPECT_EQ(loaded.takenAt, takenAt);
        EXPECT_EQ(loaded.writer.substr(0, 8), "ombrelo ");
        EXPECT_EQ(loaded.result.ageSizes, scanned.ageSizes);
        EXPECT_EQ(loaded.result.ageSizes[3], 5000);
        EXPECT_EQ(loaded.result.typeSizes, scanned.typeSizes);
    }
    // A link keeps pointing at the saved file; a device stays a device.
    writeFile(dir.at("kept.json"), "older");
    makeSymlink("kept.json", dir.at("link.json"));
    ScanArchive::save(scanned, takenAt, dir.at("link.json"));
    struct stat status {};
    ASSERT_EQ(::lstat(dir.at("link.json").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(flatten(ScanArchive::load(dir.at("kept.json")).result.root), flatten(scanned.root));
    ScanArchive::save(scanned, takenAt, "/dev/null");
    ASSERT_EQ(::stat("/dev/null", &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
    EXPECT_THROW(ScanArchive::save(scanned, 0, dir.at("missing/scan.json")), FileError);
    EXPECT_THROW(ScanArchive::load(dir.at("missing.json")), FileError);
    EXPECT_THROW(ScanArchive::load(dir.path()), FileError);
}

TEST(ScanArchive, HardLinkedFilesKeepTheirBlocksWhereTheTreeCountedThem) {
    // A file linked from two folders, counted (as a scan counts it) at the path that a reader of
    // the file meets second: reading the file back must not move its blocks to the other path.
    FileIdentity linked;
    linked.inode = 77;
    linked.linkCount = 2;
    linked.mode = S_IFREG | 0644;
    linked.modifiedSeconds = 1690000000;
    FileNode counted = fileNode("/r/z/copy", 8192);
    counted.identity = linked;
    FileNode repeated = fileNode("/r/a/copy", 8192);
    repeated.allocatedSize = 0;
    repeated.identity = linked;
    ScanResult result;
    result.root =
        folderNode("/r", {folderNode("/r/a", {std::move(repeated)}),
                          folderNode("/r/z", {std::move(counted)}), fileNode("/r/single", 100)});
    result.otherFileSystems = {"/r/a/mnt", "/r/media"};
    const SavedScan loaded = ScanArchive::read(written(result));
    EXPECT_EQ(flatten(loaded.result.root), flatten(result.root));
    EXPECT_EQ(loaded.result.otherFileSystems, (std::vector<std::string>{"/r/a/mnt", "/r/media"}))
        << "mount points left out are marked as ncdu marks them";

    // Files of other programs count each linked file at the first path they list.
    const SavedScan ncdu = ScanArchive::read(ncduSample);
    EXPECT_EQ(ncdu.result.root.allocatedSize, 4096 * 5 + 102400 + 4096 + 4096);
    EXPECT_EQ(ncdu.result.root.logicalSize, 10485760 + 1 + 1 + 200000 + 1);
}

TEST(ScanArchive, ReadsWhatNcduAndGduWrite) {
    const SavedScan ncdu = ScanArchive::read(ncduSample);
    EXPECT_EQ(ncdu.writer, "ncdu 1.18");
    EXPECT_EQ(ncdu.takenAt, 1796644234);
    const FileNode& root = ncdu.result.root;
    EXPECT_EQ(root.id.path(), "/srv/t");
    EXPECT_EQ(root.fileCount, 6);
    EXPECT_EQ(root.folderCount, 4);
    EXPECT_TRUE(root.hasReadErrors);
    EXPECT_FALSE(root.allocatedSizeComplete);
    EXPECT_EQ(ncdu.result.skippedCount, 1);
    EXPECT_EQ(ncdu.result.inaccessiblePaths, std::vector<std::string>{"/srv/t/locked"});
    EXPECT_EQ(ncdu.result.excludedCount, 1);
    EXPECT_EQ(ncdu.result.otherFileSystems, std::vector<std::string>{"/srv/t/mnt"});
    std::vector<std::string> names;
    for (const FileNode& child : root.children) {
        names.push_back(child.name());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"sparse", "a", "caf\xe9", "link",
                                               "we\"ird\\name "
                                               "\xc3\xa9\xf0\x9f\x98\x80",
                                               "empty", "locked"}));
    EXPECT_FALSE(root.children[0].identity) << "ncdu without -e tells no times: no made-up date";
    const FileNode& locked = root.children.back();
    ASSERT_TRUE(locked.identity);
    EXPECT_EQ(locked.identity->modifiedSeconds, 1796640000);

    // gdu leaves out folders' blocks and counts 4096 for each when it reads its file back.
    const SavedScan gdu = ScanArchive::read(gduSample);
    EXPECT_EQ(gdu.writer, "gdu 5.22.0-1+b1");
    EXPECT_EQ(gdu.result.root.allocatedSize, 3 * 4096 + 4096);
    EXPECT_EQ(gdu.result.root.fileCount, 1);
}

TEST(ScanArchive, RefusesDamagedAndHostileFilesSayingWhatIsWrong) {
    const std::string head = R"([1,2,{"progname":"x"},)";
    std::string deep = head;
    for (int i = 0; i <= ScanArchive::maximumDepth; ++i) {
        deep += i == 0 ? R"([{"name":"/r"})" : R"(,[{"name":"d"})";
    }
    deep += std::string(static_cast<size_t>(ScanArchive::maximumDepth) + 1, ']') + "]";
    struct Case {
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"", "ends in the middle"},
        {"{\"not\":\"a scan\"}", "expected '[' at the start"},
        {R"([2,0,{},[{"name":"/r"}]])", "format version is 2"},
        {head + R"([{"name":"/r"},{"name":"f","asize":12)", "ends in the middle"},
        {head + R"([{"name":"/r"},{"name":"f","asize":"12"}]])", "expected a whole number"},
        {head + R"([{"name":"/r"},{"name":"f","asize":-1}]])", "of at least 0"},
        {head + R"([{"name":"/r"},{"name":"f","asize":1.5}]])", "whole number"},
        {head + R"([{"name":"/r"},{"name":"f","dsize":99999999999999999999999}]])", "too large"},
        {head + R"([{"name":"/r"},{"name":"f","asize":1000000000000000000},)" +
             R"({"name":"g","asize":1000000000000000000}]])",
         "more than can be counted"},
        {head + R"([{"name":"/r"},{"name":7}]])", "expected a string"},
        {head + R"([{"name":"/r"},{"asize":7}]])", "has no name"},
        {head + R"([{"name":"/r"},{"name":"a/b"}]])", "'/'"},
        {head + R"([{"name":"/r"},{"name":".."}]])", "\"..\""},
        {head + R"([{"name":"/r"},{"name":"a\u0000b"}]])", "zero byte"},
        {head + R"([{"name":"/r"},{"name":"\ud800"}]])", "surrogate"},
        {head + R"([{"name":"/r"},{"name":"\q"}]])", "unknown escape"},
        {head + R"([{"name":"r"}]])", "not an absolute path"},
        {head + R"([{"name":"/srv/../etc"}]])", "'..'"},
        {head + R"({"name":"/r"}])", "not a folder"},
        {head + R"([{"name":"/r"},{"name":"f","hlnkc":"yes"}]])", "true or false"},
        {head + R"([{"name":"/r"},[{"name":"d","mode":33188}]]])", "not a folder's"},
        {head + R"([{"name":"/r"},"f"]])", "expected an entry"},
        {head + R"([{"name":"/r"}]] trailing)", "text follows"},
        {deep, "nested deeper than"},
    };
    for (const Case& c : cases) {
        try {
            ScanArchive::read(c.text);
            ADD_FAILURE() << "accepted: " << c.text.substr(0, 120);
        } catch (const DecodingError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
                << error.what() << " for " << c.text.substr(0, 120);
        }
    }

    TempDir dir;
    const std::string plain = writeFile(dir.at("damaged.json"), "[1,2,{},[{\"name\":");
    try {
        ScanArchive::load(plain);
        ADD_FAILURE() << "a truncated file was accepted";
    } catch (const DecodingError& error) {
        EXPECT_EQ(std::string(error.what()).rfind(plain + " is not a scan saved in ncdu's JSON", 0),
                  0u)
            << error.what();
    }
    // Damaged compressed data, and a small file that expands to gigabytes.
    std::string gz = readText(plain);
    {
        gzFile out = ::gzopen(dir.at("damaged.json.gz").c_str(), "wb");
        ScanResult small;
        small.root = folderNode("/r", filesIn("/r", {1, 2}));
        const std::string whole = written(small);
        ::gzwrite(out, whole.data(), static_cast<unsigned>(whole.size()));
        ::gzclose(out);
        gz = readText(dir.at("damaged.json.gz"));
        gz[gz.size() / 2] ^= 0x55;
        writeFile(dir.at("damaged.json.gz"), gz);
        gzFile bomb = ::gzopen(dir.at("bomb.json.gz").c_str(), "wb9");
        const std::string spaces(1 << 20, ' ');
        ::gzwrite(bomb, "[1,2,{},", 8);
        for (int i = 0; i < 100; ++i) {
            ::gzwrite(bomb, spaces.data(), static_cast<unsigned>(spaces.size()));
        }
        ::gzclose(bomb);
    }
    EXPECT_THROW(ScanArchive::load(dir.at("damaged.json.gz")), DecodingError);
    try {
        ScanArchive::load(dir.at("bomb.json.gz"));
        ADD_FAILURE() << "a file built to fill memory was expanded";
    } catch (const DecodingError& error) {
        EXPECT_NE(std::string(error.what()).find("far more than a saved scan"), std::string::npos)
            << error.what();
    }
}

// Mutates valid files at random: every result is either a consistent tree or a DecodingError,
// never a crash, a hang or another error. Runs under the sanitizers with the rest of the suite.
TEST(ScanArchive, MutatedFilesAreReadOrRefusedNeverMisread) {
    std::mt19937 random(20261207);
    ScanResult ours;
    ours.root = randomTree(random, "/fuzz", 3, 5);
    const std::vector<std::string> samples = {written(ours), ncduSample, gduSample};
    const std::string tokens = "[]{}\",:\\0123456789-.eE tfnu";
    std::uniform_int_distribution<int> percent(0, 99);
    int accepted = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string text = samples[static_cast<size_t>(round) % samples.size()];
        const int edits = 1 + percent(random) % 4;
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = static_cast<size_t>(random()) % text.size();
            const int how = percent(random);
            if (how < 35) {
                text[at] = tokens[static_cast<size_t>(random()) % tokens.size()];
            } else if (how < 50) {
                text[at] = static_cast<char>(random());
            } else if (how < 65) {
                text.resize(at);
            } else if (how < 80) {
                text.erase(at, static_cast<size_t>(random()) % 16);
            } else {
                const size_t from = static_cast<size_t>(random()) % text.size();
                text.insert(at, text.substr(from, static_cast<size_t>(random()) % 64));
            }
        }
        try {
            const SavedScan loaded = ScanArchive::read(text);
            ++accepted;
            // What is accepted adds up the way every reader of a tree expects.
            std::vector<const FileNode*> pending{&loaded.result.root};
            while (!pending.empty()) {
                const FileNode* node = pending.back();
                pending.pop_back();
                std::int64_t logical = 0, allocated = 0, files = 0;
                for (const FileNode& child : node->children) {
                    ASSERT_EQ(child.name().find('/'), std::string::npos);
                    logical += child.logicalSize;
                    allocated += child.allocatedSize;
                    files += child.fileCount;
                    pending.push_back(&child);
                }
                if (node->isDirectory) {
                    ASSERT_EQ(node->logicalSize, logical) << text;
                    ASSERT_GE(node->allocatedSize, allocated) << text;
                    ASSERT_EQ(node->fileCount, files) << text;
                }
            }
        } catch (const DecodingError&) {
        }
    }
    EXPECT_GT(accepted, 50) << "some mutations (in names and numbers) still read";
}

TEST(ScanArchive, CancellingASaveLeavesNoPartialFileAndTheOldOneInPlace) {
    TempDir dir;
    ScanResult big;
    big.root = folderNode("/big", filesIn("/big", std::vector<std::int64_t>(10000, 1)));
    const std::string file = writeFile(dir.at("saved/scan.json"), "the scan saved before");
    const std::string text = written(big);
    auto token = std::make_shared<CancellationToken>();
    token->cancel();
    CancellationScope scope(token);
    EXPECT_THROW(ScanArchive::save(big, 0, file), CancellationError);
    EXPECT_THROW(ScanArchive::read(text), CancellationError);
    EXPECT_EQ(readText(file), "the scan saved before");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.at("saved")),
                            std::filesystem::directory_iterator()),
              1);
}
