#pragma once

#include "core/Exception.h"

// Raised when a registry value cannot be read, is not text, or cannot be
// written. It carries only its finished message.
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};
