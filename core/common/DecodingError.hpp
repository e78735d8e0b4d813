#pragma once

#include <stdexcept>
#include <string>

namespace varnok {

// Stored JSON that does not have the expected shape: a member missing, of the wrong type, or out
// of its field's range.
class DecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace varnok
