#include "platform/allocation_internal.h"

#include <pthread.h>

namespace genplot::detail
{

void InstallForkHandlers(void (*prepare)(), void (*parent)(), void (*child)())
{
    // Registration fails only when the C library runs out of memory; the pools then simply
    // go without the guard, as before.
    (void)pthread_atfork(prepare, parent, child);
}

} // namespace genplot::detail
