#include "platform/allocation_internal.h"

namespace genplot::detail
{

// Windows processes do not fork: a new process starts with nothing of this one's memory.
void InstallForkHandlers(void (*)(), void (*)(), void (*)())
{
}

} // namespace genplot::detail
