// Text to number conversions with the runtime's rules and messages.
//
// Integers: optional leading blanks, an optional sign, then decimal digits,
// or hexadecimal digits after "$", "x", "X", "0x" or "0X"; nothing may follow.
// Decimal values must fit the type; hexadecimal ones may use all its bits
// ("$FFFFFFFF" is -1 as a 32-bit value). Floats: a decimal number with the
// decimal separator of the C library's current locale and an optional
// exponent, blanks allowed around it. Failures raise EConvertError with
// "'%s' is not a valid integer value" or "'%s' is not a valid floating point
// value". Thread-safe.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

struct EConvertError : std::runtime_error {
    explicit EConvertError(const std::string &message) : std::runtime_error(message) {}
};

bool TryStrToInt(const std::string &text, int32_t &value);
bool TryStrToInt64(const std::string &text, int64_t &value);
bool TryStrToFloat(const std::string &text, double &value);
int32_t StrToInt(const std::string &text);
int64_t StrToInt64(const std::string &text);
double StrToFloat(const std::string &text);
