#pragma once

#include "core/cleanup/CleanupCategory.hpp"
#include "core/trash/CleanupPlan.hpp"
#include "core/trash/TrashStatus.hpp"

#include <QString>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ombrelo::ui {

QString qs(std::string_view text);

// Sizes in decimal units (1000 bytes to the kilobyte), as the rest of the desktop shows them.
QString formatSize(std::int64_t bytes);

// "item" for one, "items" otherwise.
QString itemWord(std::int64_t count);

// Buttons, menu items and check boxes read "&" as a shortcut marker; this keeps it visible.
QString mnemonicSafe(QString text);

QString categoryShortLine(varnok::CleanupCategory category);

QString statusLabel(varnok::TrashStatus status);
bool statusIsPositive(varnok::TrashStatus status);

// The review check box of the confirmation sheet, by what the plan holds.
QString reviewCheckboxText(const varnok::CleanupPlan& plan);

// A typed folder path after trimming, when it is absolute or starts from the home folder ("~",
// "~/…"); nothing otherwise.
std::optional<QString> acceptedFolderPath(const QString& typed);
// The accepted path with a leading "~" replaced by `home`.
QString expandedFolderPath(const QString& accepted, const QString& home);

} // namespace ombrelo::ui
