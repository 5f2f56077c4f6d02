// Model of the user interface, string resources and process start-up.

#include "model/ModelControl.h"
#include "registry/MessageTemplates.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>

namespace model {
namespace {

struct UiState {
    std::deque<BoxAction> script;
    std::vector<ShownBox> shown;
    std::map<UINT, std::string> strings;
    bool dllSearchRestricted = false;
};

UiState& State() {
    static UiState state;
    return state;
}

// The model's own module handle; any value other than 0 will do.
constexpr HMODULE kProgramModule = 0x00400000u;

} // namespace

void ScriptBoxes(std::initializer_list<BoxAction> actions) {
    State().script.insert(State().script.end(), actions.begin(), actions.end());
}

const std::vector<ShownBox>& ShownBoxes() { return State().shown; }

void SetString(UINT id, std::string text) { State().strings[id] = std::move(text); }

bool DllSearchRestricted() { return State().dllSearchRestricted; }

namespace detail {
void ResetUi() {
    State() = UiState{};
    State().strings = {
        {IDS_REG_INVALID_TYPE, TEXT_REG_INVALID_TYPE},
        {IDS_REG_SET_FAILED, TEXT_REG_SET_FAILED},
        {IDS_REG_GET_FAILED, TEXT_REG_GET_FAILED},
    };
}
} // namespace detail
} // namespace model

namespace platform {

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    model::detail::Log("MessageBoxA", {model::detail::Hex(owner), model::detail::Quote(text),
                                       model::detail::Quote(caption), model::detail::Hex(type)});
    auto& state = model::State();
    model::BoxAction action = model::BoxAction::Close;
    if (!state.script.empty()) {
        action = state.script.front();
        state.script.pop_front();
    }
    const bool hasCancel = (type & 0x0F) == MB_OKCANCEL;
    int result = IDOK;
    if (action == model::BoxAction::Cancel && hasCancel) {
        result = IDCANCEL;
    } else if (action == model::BoxAction::Close) {
        // Closing a box that has a Cancel button counts as Cancel; a box
        // with only OK reports OK however it is closed.
        result = hasCancel ? IDCANCEL : IDOK;
    }
    state.shown.push_back(
        {owner, text != nullptr ? text : "", caption != nullptr ? caption : "", type, result});
    return result;
}

HMODULE GetModuleHandleA(const char* moduleName) {
    model::detail::Log("GetModuleHandleA", {model::detail::Quote(moduleName)});
    return moduleName == nullptr ? model::kProgramModule : 0;
}

int LoadStringA(HMODULE instance, UINT id, char* buffer, int bufferMax) {
    model::detail::Log("LoadStringA",
                       {model::detail::Hex(instance), std::to_string(id), std::to_string(bufferMax)});
    if (buffer == nullptr || bufferMax <= 0) {
        return 0;
    }
    const auto& strings = model::State().strings;
    const auto found = strings.find(id);
    if (instance != model::kProgramModule || found == strings.end()) {
        buffer[0] = '\0';
        return 0;
    }
    // Copies at most bufferMax - 1 characters and always ends with a NUL.
    const std::size_t count = std::min(found->second.size(), static_cast<std::size_t>(bufferMax - 1));
    std::memcpy(buffer, found->second.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

void RestrictDllSearchToSystem32() {
    model::detail::Log("RestrictDllSearchToSystem32", {});
    model::State().dllSearchRestricted = true;
}

} // namespace platform
