#pragma once

#include <chrono>

namespace varnok {

using Date = std::chrono::system_clock::time_point;

// Seconds between two dates as a fraction.
inline double secondsBetween(Date from, Date to) {
    return std::chrono::duration<double>(to - from).count();
}

} // namespace varnok
