#pragma once

#include "core/common/Url.hpp"
#include "core/scan/ScanResult.hpp"

#include <string>

namespace ombrelo::cli {

// Scans `folder` with a progress line on stderr. Throws what the scan engine throws.
varnok::ScanResult scanWithProgress(const varnok::Url& folder);

// "2026-12-06 09:32" in local time, "" when unknown.
std::string localDateText(std::int64_t seconds);
// "2026-12-06T09:32:15Z".
std::string isoDateText(std::int64_t seconds);

} // namespace ombrelo::cli
