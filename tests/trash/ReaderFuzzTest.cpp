#include "core/common/DecodingError.hpp"
#include "core/trash/TrashService.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>

using namespace varnok;
using namespace varnok::testing;

namespace {

// OMBRELO_FUZZ_SEED replays a run; otherwise each run tries new inputs.
std::uint32_t fuzzSeed() {
    if (const char* text = std::getenv("OMBRELO_FUZZ_SEED")) {
        return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
    }
    return std::random_device{}();
}

// A report as the program writes it: one item moved, one that failed. Its Trash item does not
// exist, so a restore of any variant is refused before anything is written.
std::string validReport(const TempDir& dir) {
    TrashOutcome moved;
    moved.originalURL = Url::file(dir.at("docs/n\xC3\xA9 %41.txt"));
    moved.status = TrashStatus::moved;
    moved.trashURL = Url::file(dir.at("Trash/files/gone.txt"));
    FileIdentity identity;
    identity.device = 2049;
    identity.inode = 12345;
    identity.mode = 0100644;
    identity.linkCount = 1;
    identity.size = 8;
    identity.modifiedSeconds = 1700000000;
    moved.trashIdentity = identity;
    identity.mode = 040755;
    moved.originalParentIdentity = identity;
    TrashOutcome failed;
    failed.originalURL = Url::file(dir.at("cache"), true);
    failed.status = TrashStatus::failed;
    failed.message = "The item changed during verification.";
    TrashReport report;
    report.id = Uuid::random();
    report.startedAt = std::chrono::system_clock::now();
    report.finishedAt = report.startedAt;
    report.outcomes = {moved, failed};
    report.logWarning = "warning";
    return nlohmann::json(report).dump(2);
}

class Mutator {
public:
    explicit Mutator(std::uint32_t seed) : random_(seed) {}

    size_t below(size_t n) { return n == 0 ? 0 : random_() % n; }

    // Byte-level changes only for plain text; JSON also gets structural ones.
    std::string mutate(const std::string& text, bool json = true) {
        switch (below(json ? 6 : 3)) {
        case 0: { // a few bytes flipped
            std::string out = text;
            for (size_t i = 0, n = 1 + below(4); i < n && !out.empty(); ++i) {
                out[below(out.size())] ^= static_cast<char>(1 + below(255));
            }
            return out;
        }
        case 1:
            return text.substr(0, below(text.size()));
        case 2: { // a line repeated: in an object, a repeated key
            size_t start = text.rfind('\n', below(text.size()));
            start = start == std::string::npos ? 0 : start;
            size_t end = std::min(text.find('\n', start + 1), text.size());
            return text.substr(0, end) + text.substr(start, end - start) + text.substr(end);
        }
        default:
            return structural(text);
        }
    }

private:
    // Drops a key, or replaces a value by one of another type, a huge number or deep nesting.
    std::string structural(const std::string& text) {
        nlohmann::json document = nlohmann::json::parse(text);
        std::vector<nlohmann::json*> values;
        std::vector<nlohmann::json*> pending{&document};
        while (!pending.empty()) {
            nlohmann::json* value = pending.back();
            pending.pop_back();
            values.push_back(value);
            for (auto& child : *value) {
                if (child.is_structured()) {
                    pending.push_back(&child);
                } else {
                    values.push_back(&child);
                }
            }
        }
        nlohmann::json& target = *values[below(values.size())];
        if (target.is_object() && !target.empty() && below(2) == 0) {
            auto key = std::next(target.begin(), static_cast<long>(below(target.size()))).key();
            target.erase(key);
            return document.dump(2);
        }
        const std::vector<nlohmann::json> replacements{nullptr,
                                                       true,
                                                       -1,
                                                       0,
                                                       1e308,
                                                       -1e308,
                                                       "text",
                                                       "@@bytes@@",
                                                       nlohmann::json::array(),
                                                       nlohmann::json::object(),
                                                       std::numeric_limits<std::int64_t>::min(),
                                                       std::numeric_limits<std::uint64_t>::max(),
                                                       "@@deep@@",
                                                       "@@huge@@"};
        target = replacements[below(replacements.size())];
        std::string out = document.dump(2);
        auto splice = [&](const std::string& marker, const std::string& with) {
            size_t at = out.find("\"" + marker + "\"");
            if (at != std::string::npos) {
                out.replace(at, marker.size() + 2, with);
            }
        };
        const size_t depth = 1 + below(20000);
        splice("@@deep@@", std::string(depth, '[') + std::string(depth, ']'));
        splice("@@huge@@", "123456789012345678901234567890e99999");
        splice("@@bytes@@", "\"file:///\xff%zz\"");
        return out;
    }

    std::mt19937 random_;
};

// A decoding refusal: the JSON library's own errors or DecodingError, nothing else.
template <typename Body> std::string unexpectedFailure(Body body) {
    try {
        body();
    } catch (const nlohmann::json::exception&) {
    } catch (const DecodingError&) {
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

} // namespace

TEST(StoredFileReaders, SurviveThousandsOfMutatedInputs) {
    const std::uint32_t seed = fuzzSeed();
    SCOPED_TRACE("replay with OMBRELO_FUZZ_SEED=" + std::to_string(seed));
    Mutator mutator(seed);
    ScratchHome scratch;
    const std::string valid = validReport(scratch.dir);
    const Url history = Url::file(makeFolder(scratch.dir.at("history")), true);
    const TrashReport original = nlohmann::json::parse(valid).get<TrashReport>();
    const Url file = TrashService::reportFile(history, original.id);
    const std::string urls[] = {original.outcomes[0].originalURL.absoluteString(),
                                original.outcomes[1].originalURL.absoluteString(),
                                "varnok-group://sunburst/a%2Fb", "file:///"};

    for (int round = 0; round < 2000; ++round) {
        const std::string text = mutator.mutate(valid);
        SCOPED_TRACE("round " + std::to_string(round));
        std::string failure = unexpectedFailure([&] {
            TrashReport report = nlohmann::json::parse(text).get<TrashReport>();
            nlohmann::json again = report; // whatever was accepted can be written back
        });
        ASSERT_EQ(failure, "") << text.substr(0, 2000);

        // Now and then through the history folder and a restore, which must write nothing.
        if (round % 50 == 0) {
            writeFile(file.path(), text);
            EXPECT_LE(TrashService::history(history).size(), 1u);
            std::string refusal = problemOf([&] {
                TrashService::restore(original.id, original.outcomes[0].originalURL, history);
            });
            EXPECT_NE(refusal, "(accepted)");
            EXPECT_EQ(readText(file.path()), text);
            EXPECT_FALSE(exists(original.outcomes[0].originalURL.path()));
        }

        std::string url = urls[mutator.below(std::size(urls))];
        url = mutator.mutate(url, false);
        if (auto parsed = Url::parse(url)) {
            // Whatever parses can be taken apart and printed.
            (void)parsed->standardized().deletingLastPathComponent().lastPathComponent();
            (void)parsed->appendingPathComponent("x", false).absoluteString();
            (void)PathText::displayable(parsed->path());
        }
    }
    EXPECT_EQ(std::filesystem::exists(scratch.trash), false) << "nothing moved to the Trash";
}
