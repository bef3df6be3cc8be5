// base/: the launcher's own error type.
#pragma once

#include <exception>
#include <string>
#include <utility>

// The launcher's own error. It owns a copy of its text, so a message composed
// on the spot outlives the place that composed it.
class exce : public std::exception {
public:
    explicit exce(const char* message) : message_(message) {}
    explicit exce(std::string message) : message_(std::move(message)) {}
    ~exce() override = default;

    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};
