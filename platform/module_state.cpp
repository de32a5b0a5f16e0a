#include "platform/module_state.h"

namespace
{

AFX_MODULE_STATE hostModuleState = {"host"};
AFX_MODULE_STATE libraryModuleState = {"genplot"};

// Per thread, as in the framework: a call on one thread never switches another's resources.
// Null means the host's state.
thread_local AFX_MODULE_STATE* currentModuleState = nullptr;

} // namespace

AFX_MODULE_STATE* AfxGetModuleState()
{
    return currentModuleState != nullptr ? currentModuleState : &hostModuleState;
}

AFX_MODULE_STATE* AfxGetStaticModuleState()
{
    return &libraryModuleState;
}

AFX_MAINTAIN_STATE2::AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* state) noexcept
    : previous_(currentModuleState)
{
    if (state != nullptr)
        currentModuleState = state;
}

AFX_MAINTAIN_STATE2::~AFX_MAINTAIN_STATE2()
{
    currentModuleState = previous_;
}
