#include "registry/RegistryErrors.h"

#include "registry/ERegistryException.h"
#include "registry/MessageTemplates.h"

#include <algorithm>
#include <array>

namespace {

// Room for a template of up to 1023 characters and its terminator.
constexpr int kTemplateBufferSize = 1024;

const char* CompiledInTemplate(platform::UINT id) {
    switch (id) {
    case IDS_REG_INVALID_TYPE:
        return TEXT_REG_INVALID_TYPE;
    case IDS_REG_SET_FAILED:
        return TEXT_REG_SET_FAILED;
    case IDS_REG_GET_FAILED:
        return TEXT_REG_GET_FAILED;
    default:
        return "";
    }
}

} // namespace

AnsiString FillTemplate(const AnsiString& pattern, const AnsiString& valueName) {
    const auto slot = pattern.find("%s");
    if (slot == AnsiString::npos) {
        return pattern;
    }
    AnsiString message;
    message.reserve(pattern.size() + valueName.size());
    message.append(pattern, 0, slot);
    message.append(valueName);
    message.append(pattern, slot + 2, AnsiString::npos);
    return message;
}

AnsiString LoadMessageTemplate(platform::UINT id) {
    std::array<char, kTemplateBufferSize> buffer{};
    const int length =
        platform::LoadStringA(platform::GetModuleHandleA(nullptr), id, buffer.data(), kTemplateBufferSize);
    if (length <= 0) {
        return CompiledInTemplate(id);
    }
    const auto count = std::min(static_cast<std::size_t>(length), buffer.size() - 1);
    return {buffer.data(), count};
}

void RaiseRegistryError(platform::UINT id, const AnsiString& valueName) {
    throw ERegistryException(FillTemplate(LoadMessageTemplate(id), valueName));
}

void RaiseOnFailure(platform::LSTATUS status, platform::UINT id, const AnsiString& valueName) {
    if (!Succeeded(status)) {
        RaiseRegistryError(id, valueName);
    }
}
