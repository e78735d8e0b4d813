#pragma once

#include <exception>
#include <string>

namespace varnok {

// The error of every expected refusal. Its description is exactly the message, so screens and the
// command line can show it unchanged.
class CleanupProblem : public std::exception {
public:
    explicit CleanupProblem(std::string message) : message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }

    std::string message;
};

} // namespace varnok
