// A failed runtime assertion: a programming error detected at run time. It
// carries the message of the failed check and unwinds like any exception, so
// that a job fails instead of the process.
#pragma once

#include <stdexcept>
#include <string>

struct EAssertionFailed : std::logic_error {
    explicit EAssertionFailed(const std::string &message) : std::logic_error(message) {}
};

// Throws EAssertionFailed with `message` when `condition` is false.
inline void Assert(bool condition, const char *message)
{
    if (!condition) throw EAssertionFailed(message);
}
