#include "cli/HistoryFolder.hpp"

#include "cli/Cli.hpp"
#include "core/common/FileError.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace ombrelo::cli {

std::optional<varnok::Url> historyFolder(const std::optional<std::string>& given) {
    if (!given) {
        return varnok::TrashService::defaultHistoryFolder();
    }
    varnok::Url folder = folderArgument(*given, "the history folder");
    // A mistyped folder is not an empty history.
    if (reportUnusableFolder(folder.path())) {
        return std::nullopt;
    }
    return folder;
}

HistoryListing readHistory(const varnok::Url& folder) {
    HistoryListing listing;
    listing.reports = varnok::TrashService::history(folder);
    varnok::Platform& platform = varnok::Platform::current();
    if (!platform.fileExists(folder)) {
        return listing;
    }
    std::vector<varnok::Url> entries = platform.contentsOfDirectory(folder);
    std::sort(entries.begin(), entries.end(),
              [](const varnok::Url& a, const varnok::Url& b) { return a.path() < b.path(); });
    for (const varnok::Url& entry : entries) {
        const std::string name = entry.lastPathComponent();
        if (name.size() <= 5 || name.compare(name.size() - 5, 5, ".json") != 0) {
            continue;
        }
        const std::string path = entry.withDirectoryForm(false).path();
        try {
            auto report =
                nlohmann::json::parse(platform.readFile(entry)).get<varnok::TrashReport>();
            listing.filesByID[report.id.uuidString()].push_back(path);
        } catch (const nlohmann::json::parse_error&) {
            listing.unreadable.push_back({path, "not JSON, or cut short"});
        } catch (const varnok::FileError& error) {
            listing.unreadable.push_back({path, error.what()});
        } catch (const std::exception& error) {
            listing.unreadable.push_back(
                {path, std::string("not a cleanup report (") + error.what() + ")"});
        }
    }
    return listing;
}

bool reportUnreadable(const HistoryListing& listing) {
    for (const auto& file : listing.unreadable) {
        std::fprintf(stderr, "ombrelo-cli: could not read the cleanup report %s: %s\n",
                     pastablePath(file.path).c_str(),
                     varnok::PathText::displayable(file.reason).c_str());
    }
    return !listing.unreadable.empty();
}

} // namespace ombrelo::cli
