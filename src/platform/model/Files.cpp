#include "platform/model/ModelControl.h"
namespace model::detail {
void ResetFiles() {}
} // namespace model::detail
