// The history of a run as a crash leaves it: a report and the journal of its transitions.
#include "core/common/Task.hpp"
#include "core/trash/RecoveryAvailability.hpp"
#include "platform/Platform.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

using State = RecoveryAvailability::State;
using Files = std::map<std::string, std::string>;

// Duplicate files under a scan root, each with its own content so that it can be found again
// wherever it went.
struct Photos : ScratchHome {
    std::string root = makeFolder(dir.at("photos"));
    Url history = Url::file(dir.at("history"), true);
    int made = 0;

    CleanupPlan plan(size_t count) {
        CleanupPlan plan{
            Uuid::random(), std::chrono::system_clock::now(), {}, Url::file(root, true)};
        for (size_t i = 0; i < count; ++i) {
            const std::string name = std::to_string(++made) + ".jpg";
            const std::string body = "picture " + std::to_string(made);
            std::string kept = writeFile(root + "/keep/" + name, body);
            plan.items.emplace_back(fileNode(writeFile(root + "/copies/" + name, body)),
                                    CleanupCategory::duplicates, root, "", false, fileNode(kept));
        }
        return plan;
    }

    // Every file of the history folder with its bytes.
    Files historyFiles() const {
        Files files;
        if (exists(history.path())) {
            for (const auto& entry : std::filesystem::directory_iterator(history.path())) {
                files[entry.path().filename()] = readText(entry.path());
            }
        }
        return files;
    }

    // How many copies of each body the Trash holds.
    std::map<std::string, int> inTrash() const {
        std::map<std::string, int> bodies;
        if (exists(trash + "/files")) {
            for (const auto& entry : std::filesystem::directory_iterator(trash + "/files")) {
                ++bodies[readText(entry.path())];
            }
        }
        return bodies;
    }

    // The report of `id` as readers see it, after checking that reading wrote nothing.
    std::optional<TrashReport> read(const Uuid& id) const {
        const Files before = historyFiles();
        std::optional<TrashReport> found;
        for (TrashReport& report : TrashService::history(history)) {
            if (report.id == id) {
                found = std::move(report);
            }
        }
        EXPECT_EQ(historyFiles(), before) << "reading the history wrote to it";
        return found;
    }

    std::string journalPath(const Uuid& id) const {
        return history.path() + "/" + id.uuidString() + ".journal";
    }
};

nlohmann::json asJson(const TrashReport& report) {
    return report;
}

// Runs `body` in a child process and kills it with SIGKILL after `delay`, or lets it finish.
void runAndKill(const std::function<void()>& body, std::chrono::microseconds delay) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        try {
            body();
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + delay;
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (ended == 0) {
        ::kill(child, SIGKILL);
        ended = ::waitpid(child, &status, 0);
    }
    ASSERT_EQ(ended, child);
    ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
}

std::chrono::microseconds timeOf(const std::function<void()>& body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

// Checks that each item of `plan` is in exactly one place and that the report read back says
// where, as a report rewritten after every step would.
void expectAgreement(const Photos& photos, const CleanupPlan& plan,
                     const std::optional<TrashReport>& report, bool restoring) {
    const auto trashed = photos.inTrash();
    for (size_t i = 0; i < plan.items.size(); ++i) {
        const std::string path = plan.items[i].node.id.path();
        const std::string body = readText(plan.items[i].keeper->id.path());
        const bool atHome = exists(path);
        const int inTrash = trashed.count(body) != 0 ? trashed.at(body) : 0;
        ASSERT_EQ(int(atHome) + inTrash, 1) << path;
        if (!report) {
            // Killed before the first version of the report was whole: nothing moved.
            EXPECT_TRUE(atHome) << path;
            continue;
        }
        const TrashOutcome& outcome = report->outcomes.at(i);
        const State state = RecoveryAvailability::inspect(outcome).state;
        switch (outcome.status) {
        case TrashStatus::notAttempted:
            EXPECT_FALSE(restoring);
            EXPECT_TRUE(atHome) << path;
            break;
        case TrashStatus::moved:
            EXPECT_EQ(inTrash, 1) << path;
            EXPECT_EQ(state, State::available) << path;
            break;
        case TrashStatus::restored:
            EXPECT_TRUE(atHome) << path;
            EXPECT_EQ(state, State::alreadyRestored) << path;
            break;
        case TrashStatus::moving:
        case TrashStatus::restoring:
            // Either place: the kill came between the record and the move.
            EXPECT_EQ(state, State::interrupted) << path;
            break;
        case TrashStatus::failed:
            ADD_FAILURE() << "nothing fails here: " << path;
            break;
        }
    }
}

// The statuses in order, one letter each.
std::string statuses(const TrashReport& report) {
    std::string letters;
    for (const auto& outcome : report.outcomes) {
        letters += std::string("NmMfrR").at(static_cast<size_t>(outcome.status));
    }
    return letters;
}

} // namespace

TEST(TrashJournal, CleanKilledAnywhereLeavesHistoryTrashAndFilesInAgreement) {
    Photos photos;
    const size_t count = 8;
    const auto full = timeOf([&] {
        CleanupPlan plan = photos.plan(count);
        runAndKill([&] { TrashService::execute(plan, photos.history); }, std::chrono::seconds(60));
    });
    std::mt19937 random(20261207);
    std::uniform_int_distribution<std::int64_t> at(0, full.count() * 11 / 10);
    std::set<std::string> shapes;
    for (int run = 0; run < 24; ++run) {
        CleanupPlan plan = photos.plan(count);
        runAndKill([&] { TrashService::execute(plan, photos.history); },
                   std::chrono::microseconds(at(random)));
        const std::optional<TrashReport> report = photos.read(plan.id);
        expectAgreement(photos, plan, report, false);
        if (!report) {
            continue;
        }
        // Moved items first, then at most one interrupted, then the untouched rest.
        const std::string shape = statuses(*report);
        const size_t firstOther = shape.find_first_not_of('M');
        if (firstOther != std::string::npos) {
            EXPECT_EQ(shape.find_first_not_of('N', firstOther + 1), std::string::npos) << shape;
            EXPECT_NE(shape[firstOther], 'f') << shape;
        }
        shapes.insert(shape);

        // The next clean writes the folded report and removes the journal.
        CleanupPlan next = photos.plan(1);
        ASSERT_EQ(TrashService::execute(next, photos.history).movedCount(), 1);
        EXPECT_FALSE(exists(photos.journalPath(plan.id)));
        const std::string file = TrashService::reportFile(photos.history, plan.id).path();
        EXPECT_EQ(asJson(TrashReport::decode(readText(file))), asJson(*report));
    }
    // The kills landed at different points of the runs.
    EXPECT_GE(shapes.size(), 3u) << ::testing::PrintToString(shapes);
}

TEST(TrashJournal, RestoreKilledAnywhereLeavesHistoryTrashAndFilesInAgreement) {
    Photos photos;
    const size_t count = 8;
    auto cleaned = [&] {
        CleanupPlan plan = photos.plan(count);
        EXPECT_EQ(TrashService::execute(plan, photos.history).movedCount(),
                  static_cast<std::int64_t>(count));
        return plan;
    };
    auto everyItem = [](const CleanupPlan& plan) {
        std::vector<Url> urls;
        for (const auto& item : plan.items) {
            urls.push_back(item.node.id);
        }
        return urls;
    };
    CleanupPlan first = cleaned();
    const auto full = timeOf([&] {
        runAndKill([&] { TrashService::restore(first.id, everyItem(first), photos.history); },
                   std::chrono::seconds(60));
    });
    std::mt19937 random(7122026);
    std::uniform_int_distribution<std::int64_t> at(0, full.count() * 11 / 10);
    std::set<std::string> shapes;
    for (int run = 0; run < 24; ++run) {
        CleanupPlan plan = cleaned();
        runAndKill([&] { TrashService::restore(plan.id, everyItem(plan), photos.history); },
                   std::chrono::microseconds(at(random)));
        const std::optional<TrashReport> report = photos.read(plan.id);
        ASSERT_TRUE(report);
        expectAgreement(photos, plan, report, true);
        shapes.insert(statuses(*report));

        // The next restore folds the journal first and puts back what is still in the Trash.
        TrashRestoreResult again = TrashService::restore(plan.id, everyItem(plan), photos.history);
        EXPECT_FALSE(exists(photos.journalPath(plan.id)));
        const std::string file = TrashService::reportFile(photos.history, plan.id).path();
        EXPECT_EQ(asJson(TrashReport::decode(readText(file))), asJson(again.report));
        for (size_t i = 0; i < count; ++i) {
            if (report->outcomes[i].status == TrashStatus::moved) {
                EXPECT_FALSE(again.problems[i]) << *again.problems[i];
                EXPECT_EQ(again.report.outcomes[i].status, TrashStatus::restored);
            }
        }
        expectAgreement(photos, plan, photos.read(plan.id), true);
    }
    EXPECT_GE(shapes.size(), 3u) << ::testing::PrintToString(shapes);
}

TEST(TrashJournal, TornForeignAndLeftoverJournalsAreReadWithoutWriting) {
    Photos photos;
    CleanupPlan plan = photos.plan(4);
    // The history as a crash just before the third move would have left it.
    Files crashed;
    TrashService::execute(plan, photos.history, [&](const Url& url) {
        if (url == plan.items[2].node.id) {
            crashed = photos.historyFiles();
        }
        return TrashService::moveToTrash(url);
    });
    const std::string report = plan.id.uuidString() + ".json";
    const std::string journal = plan.id.uuidString() + ".journal";
    ASSERT_EQ(crashed.size(), 2u);
    ASSERT_TRUE(crashed.count(journal));
    EXPECT_EQ(photos.historyFiles().count(journal), 0u) << "a finished run leaves no journal";

    auto readWith = [&](const std::string& journalText) {
        std::filesystem::remove_all(photos.history.path());
        makeFolder(photos.history.path());
        writeFile(photos.history.path() + "/" + report, crashed.at(report));
        writeFile(photos.history.path() + "/" + journal, journalText);
        return photos.read(plan.id);
    };
    const std::string text = crashed.at(journal);
    EXPECT_EQ(statuses(*readWith(text)), "MMmN");
    // A last record cut anywhere, even before its line end, counts as never written.
    const size_t lastLine = text.rfind('\n', text.size() - 2) + 1;
    for (size_t cut = lastLine; cut < text.size(); ++cut) {
        auto torn = readWith(text.substr(0, cut));
        EXPECT_EQ(statuses(*torn), "MMNN") << cut;
        EXPECT_FALSE(torn->logWarning);
    }
    // A journal of another report, or damaged before its end, is reported and applies nothing.
    std::string other = text;
    other.replace(other.find(plan.id.uuidString()), 36, Uuid::random().uuidString());
    std::string damaged = text;
    damaged[lastLine - 2] = '#';
    for (const std::string& foreign : {other, damaged}) {
        auto read = readWith(foreign);
        EXPECT_EQ(statuses(*read), "NNNN");
        ASSERT_TRUE(read->logWarning);
        EXPECT_CONTAINS(*read->logWarning, "does not belong to this report");
        // A clean leaves it exactly as it is.
        TrashService::execute(photos.plan(1), photos.history);
        EXPECT_EQ(readText(photos.journalPath(plan.id)), foreign);
        EXPECT_EQ(readText(photos.history.path() + "/" + report), crashed.at(report));
    }

    // A leftover journal is folded by the next clean, which then writes exactly the report that
    // readers saw.
    const TrashReport seen = *readWith(text);
    TrashService::execute(photos.plan(1), photos.history);
    EXPECT_FALSE(exists(photos.journalPath(plan.id)));
    const Url file = TrashService::reportFile(photos.history, plan.id);
    const Url expected = Url::file(photos.dir.at("expected.json"));
    TrashService::save(seen, expected);
    EXPECT_EQ(readText(file.path()), readText(expected.path()));
}

TEST(TrashJournal, RestoringManyItemsAtOnceReportsEachAndWritesTheReportOnce) {
    Photos photos;
    CleanupPlan plan = photos.plan(5);
    std::vector<TrashProgress> told;
    TrashReport cleaned =
        TrashService::execute(plan, photos.history, TrashService::moveToTrash,
                              [&](const TrashProgress& step) { told.push_back(step); });
    ASSERT_EQ(told.size(), 6u);
    for (size_t i = 0; i < told.size(); ++i) {
        EXPECT_EQ(told[i].done, i);
        EXPECT_EQ(told[i].total, 5u);
        EXPECT_EQ(told[i].bytesDone, plan.items[0].node.logicalSize * static_cast<std::int64_t>(i));
        EXPECT_EQ(told[i].bytesTotal, plan.totalSize());
        EXPECT_EQ(told[i].current, i < 5 ? plan.items[i].node.id : Url());
    }

    // One item is in the way, one is not in the report: both are told, the others go back.
    writeFile(plan.items[1].node.id.path(), "someone else's");
    std::vector<Url> asked;
    for (const auto& item : plan.items) {
        asked.push_back(item.node.id);
    }
    asked.push_back(Url::file(photos.dir.at("never.jpg")));
    told.clear();
    auto token = std::make_shared<CancellationToken>();
    TrashRestoreResult result;
    {
        CancellationScope scope(token);
        result = TrashService::restore(plan.id, asked, photos.history, {},
                                       [&](const TrashProgress& step) {
                                           told.push_back(step);
                                           if (step.done == 3) {
                                               token->cancel();
                                           }
                                       });
    }
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(statuses(result.report), "RMRMM");
    EXPECT_FALSE(result.problems[0]);
    EXPECT_EQ(result.problems[1].value_or(""),
              "An item already exists at the original path. Nothing will be overwritten.");
    // Cancelled while the fourth was about to start: it and the rest are not tried.
    for (size_t i = 3; i < asked.size(); ++i) {
        EXPECT_EQ(result.problems[i].value_or(""), "Stopped before restoring this item.");
    }
    EXPECT_EQ(told.back().done, asked.size());
    EXPECT_EQ(readText(plan.items[1].node.id.path()), "someone else's");
    EXPECT_EQ(asJson(*photos.read(plan.id)), asJson(result.report));
    EXPECT_FALSE(exists(photos.journalPath(plan.id)));

    result = TrashService::restore(plan.id, {asked[3], asked[4], asked[5]}, photos.history);
    EXPECT_EQ(statuses(result.report), "RMRRR");
    EXPECT_EQ(result.problems[2].value_or(""),
              "This history entry cannot be restored automatically. Check Trash in your file manager.");
}
