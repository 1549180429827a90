// The message of the exception being handled; call only inside a catch block.
#pragma once

#include <exception>
#include <string>

inline std::string ExceptionText()
{
    try {
        throw;
    } catch (const std::exception &e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}
