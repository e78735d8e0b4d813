#pragma once

#include "cli/Cli.hpp"
#include "core/scan/ScanEngine.hpp"
#include "core/snapshot/ScanArchive.hpp"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace ombrelo::cli {

// The file of `--load FILE`, or nothing. Throws UsageError when a folder or an option that only
// applies to scanning comes with it.
std::optional<std::string> loadArgument(const Arguments& args);

// Reads a saved scan with a progress line on stderr. Throws what ScanArchive::load throws.
varnok::SavedScan loadWithProgress(const std::string& path);

// Writes a scan to `path` with a progress line on stderr. Throws what ScanArchive::save throws.
void saveWithProgress(const varnok::ScanResult& result, std::int64_t takenAt,
                      const std::string& path);

// "2026-12-06 09:32 by ncdu 1.18", as much of it as the file tells; "" when it tells nothing.
std::string takenText(const varnok::SavedScan& saved);

// The "savedScan" member of a command's JSON: the file, when the scan was taken and by what.
nlohmann::json savedScanJson(const std::string& file, const varnok::SavedScan& saved);

// Scans `folder`, or reads the saved scan `file` when there is one.
varnok::SavedScan scanOrLoad(const std::optional<std::string>& file, const varnok::Url& folder,
                             const varnok::ScanOptions& options);

} // namespace ombrelo::cli
