// Error classes of the updater. Every error carries the text that the user sees
// (code page 1252); the application's error report shows exactly that text.
#pragma once

#include <exception>
#include <string>

// The general error: a message and nothing else.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// An operating-system error while reading or writing an open file.
class EInOutError : public Exception {
public:
    EInOutError(std::string message, unsigned long code) : Exception(std::move(message)), code_(code) {}
    unsigned long code() const noexcept { return code_; }

private:
    unsigned long code_;
};

// The silent abort: callers catch it and log it; it is never shown as a box of its own.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
};
