#pragma once

#include "core/common/Url.hpp"
#include "core/scan/ScanResult.hpp"

#include <string>

namespace ombrelo::cli {

// The folder an operand names, made absolute against the current folder. UsageError when empty.
varnok::Url folderFromOperand(const std::string& operand);

// Says plainly on stderr why `folder` cannot be scanned (missing, not a folder, unreadable) and
// returns true; false when it looks scannable.
bool reportUnscannable(const varnok::Url& folder);

// Scans `folder` with a progress line on stderr. Throws what the scan engine throws.
varnok::ScanResult scanWithProgress(const varnok::Url& folder);

// "2026-12-06 09:32" in local time, "" when unknown.
std::string localDateText(std::int64_t seconds);
// "2026-12-06T09:32:15Z".
std::string isoDateText(std::int64_t seconds);

} // namespace ombrelo::cli
