#pragma once

#include "core/AnsiString.h"
#include "core/TObject.h"

#include <exception>
#include <utility>

// Base of the program's error objects. It is built with its finished message
// and carries it; it is also a std::exception, so a generic handler can catch
// it and read the same message through what().
class Exception : public TObject, public std::exception {
public:
    explicit Exception(AnsiString message) : message_(std::move(message)) {}

    [[nodiscard]] const AnsiString& Message() const noexcept { return message_; }
    [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }

private:
    AnsiString message_;
};
