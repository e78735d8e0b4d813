#pragma once

namespace ombrelo::ui {

// Lets screen readers see a folder map as a list of its drawn tiles. Safe to call many times.
void installFolderMapAccessibility();

} // namespace ombrelo::ui
