#include "cli/SavedScans.hpp"

#include "cli/FolderScan.hpp"

namespace ombrelo::cli {

std::optional<std::string> loadArgument(const Arguments& args) {
    std::optional<std::string> file = args.value("load");
    if (!file) {
        return std::nullopt;
    }
    if (file->empty()) {
        throw UsageError("option '--load' needs a file");
    }
    if (*file == "-") {
        return "/dev/stdin"; // as ncdu -f - reads it: `ssh host ncdu -o- / | ombrelo-cli ...`
    }
    if (!args.operands().empty()) {
        throw UsageError("give either a folder or --load FILE, not both");
    }
    for (const char* option : {"one-file-system", "exclude", "jobs"}) {
        if (args.has(option)) {
            throw UsageError(std::string("--") + option +
                             " applies to scanning; a saved scan is read as it was saved");
        }
    }
    return file;
}

varnok::SavedScan loadWithProgress(const std::string& path) {
    ProgressLine line;
    line.update("Reading saved scan " + pastablePath(path));
    varnok::SavedScan saved = varnok::ScanArchive::load(path);
    line.clear();
    return saved;
}

void saveWithProgress(const varnok::ScanResult& result, std::int64_t takenAt,
                      const std::string& path) {
    ProgressLine line;
    line.update("Saving the scan to " + pastablePath(path));
    varnok::ScanArchive::save(result, takenAt, path);
    line.clear();
}

nlohmann::json savedScanJson(const std::string& file, const varnok::SavedScan& saved) {
    return {{"file", varnok::PathText::displayable(file)},
            {"takenAt", saved.takenAt > 0 ? nlohmann::json(isoDateText(saved.takenAt))
                                          : nlohmann::json(nullptr)},
            {"writer", saved.writer}};
}

varnok::SavedScan scanOrLoad(const std::optional<std::string>& file, const varnok::Url& folder,
                             const varnok::ScanOptions& options) {
    if (file) {
        return loadWithProgress(*file);
    }
    varnok::SavedScan scanned;
    scanned.result = scanWithProgress(folder, options);
    return scanned;
}

std::string takenText(const varnok::SavedScan& saved) {
    std::string text = saved.takenAt > 0 ? localDateText(saved.takenAt) : "";
    if (!saved.writer.empty()) {
        text += (text.empty() ? "by " : " by ") + saved.writer;
    }
    return text;
}

} // namespace ombrelo::cli
