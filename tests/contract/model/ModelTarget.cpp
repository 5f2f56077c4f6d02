// The contract tests' machine on the host: a fresh in-memory model.

#include "ContractTarget.h"

#include "platform/model/ModelControl.h"

namespace contract {

bool RunningOnWine() { return false; }

ScratchKey::ScratchKey() : path_("Software\\lobbyfix-contract") {
    model::Reset();
    model::CreateKey(platform::HKEY_CURRENT_USER, path_);
}

ScratchKey::~ScratchKey() = default;

void ScratchKey::DenyFullAccess(const std::string& relative) {
    model::DenyFullAccess(platform::HKEY_CURRENT_USER, path_ + "\\" + relative);
}

} // namespace contract
