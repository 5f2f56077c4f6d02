#include "platform/model/ModelControl.h"
namespace model::detail {
void ResetRegistry() {}
} // namespace model::detail
