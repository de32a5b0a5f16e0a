#pragma once

#include "platform/ob_list.h"

namespace genplot::detail
{

/// Deletes every element of `list` in list order (null entries are skipped), then unlinks all
/// nodes at once and frees the node blocks: afterwards the list is empty and owns nothing.
/// Allocates nothing, so no allocation failure can ever see the list holding a deleted
/// element; unlinking node by node instead would cost more than the elements themselves
/// where this runs for every point of a plot.
void DeleteAllAndRemove(CObList& list) noexcept;

/// As above, with `dispose(element)` in place of `delete element` for each element that is
/// not null: for a list whose elements are freed by a cheaper path than their destructor.
/// `dispose` must free the element exactly as `delete` would and must not throw.
template <class Dispose> void DeleteAllAndRemove(CObList& list, Dispose dispose) noexcept
{
    for (POSITION position = list.GetHeadPosition(); position != nullptr;)
    {
        CObject* element = list.GetNext(position);
        if (element != nullptr)
            dispose(element);
    }
    list.RemoveAll();
}

} // namespace genplot::detail
