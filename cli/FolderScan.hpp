#pragma once

#include "core/common/Url.hpp"
#include "core/scan/ScanEngine.hpp"
#include "core/scan/ScanResult.hpp"

#include <string>
#include <vector>

namespace ombrelo::cli {

// Scans `folder` with a progress line on stderr. Throws what the scan engine throws.
varnok::ScanResult scanWithProgress(const varnok::Url& folder,
                                    const varnok::ScanOptions& options = {});

// Keeps the result until the process ends: freeing a tree of millions of nodes one by one takes
// a good part of a second, and the system takes the memory back at once when the process ends.
void keepUntilExit(varnok::ScanResult&& result);

// Sizes every node of the tree by its bytes on disk instead of its content, children re-ranked
// largest first, as du and ncdu count by default.
void sizeByDiskUsage(varnok::FileNode& node);
// Largest first by bytes on disk, ties by path.
void sortByDiskUsage(std::vector<const varnok::FileNode*>& nodes);

// "2026-12-06 09:32" in local time, "" when unknown.
std::string localDateText(std::int64_t seconds);
// "2026-12-06T09:32:15Z".
std::string isoDateText(std::int64_t seconds);

} // namespace ombrelo::cli
