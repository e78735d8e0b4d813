#pragma once

namespace varnok {

// How deep a listing looks below its folder.
enum class ItemScope { descendants, directChildren };

} // namespace varnok
