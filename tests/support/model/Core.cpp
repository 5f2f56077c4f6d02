#include "model/ModelControl.h"

#include <cstdio>

namespace model {
namespace {
std::vector<std::string>& CallLog() {
    static std::vector<std::string> log;
    return log;
}
} // namespace

void Reset() {
    CallLog().clear();
    detail::ResetRegistry();
    detail::ResetFiles();
    detail::ResetUi();
}

const std::vector<std::string>& Calls() { return CallLog(); }

namespace detail {

void Log(const char* name, std::initializer_list<std::string> args) {
    std::string line = name;
    line += '(';
    bool first = true;
    for (const auto& arg : args) {
        if (!first) {
            line += ", ";
        }
        line += arg;
        first = false;
    }
    line += ')';
    CallLog().push_back(std::move(line));
}

std::string Hex(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%X", static_cast<unsigned>(value));
    return buffer;
}

std::string Quote(const char* text) {
    if (text == nullptr) {
        return "null";
    }
    return std::string("\"") + text + "\"";
}

} // namespace detail
} // namespace model
