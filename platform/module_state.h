#pragma once

#include "platform/export.h"

/// The framework's per-module state: which module's resources, its string table above all,
/// are current on a thread. A library called by a host makes its own state current for the
/// length of each exported call and gives the host's back afterwards.
struct AFX_MODULE_STATE
{
    /// Name of the module, for diagnostics; never null.
    const char* moduleName;
};

/// The module state current on the calling thread: the host's unless a manage-state guard is
/// active.
GENPLOT_API AFX_MODULE_STATE* AfxGetModuleState();
/// This library's own module state (static; never null).
GENPLOT_API AFX_MODULE_STATE* AfxGetStaticModuleState();

/// Makes a module state current on the calling thread for the guard's lifetime and restores
/// the one before it on every way out, exceptions included.
class GENPLOT_API AFX_MAINTAIN_STATE2
{
  public:
    /// @param state the state to make current; null leaves the current one in place.
    explicit AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* state) noexcept;
    ~AFX_MAINTAIN_STATE2();
    AFX_MAINTAIN_STATE2(const AFX_MAINTAIN_STATE2&) = delete;
    AFX_MAINTAIN_STATE2& operator=(const AFX_MAINTAIN_STATE2&) = delete;

  private:
    AFX_MODULE_STATE* previous_;
};

/// First statement of an exported function: the rest of the function runs with `state`
/// current.
#define AFX_MANAGE_STATE(state) AFX_MAINTAIN_STATE2 genplotManagedState_(state)
