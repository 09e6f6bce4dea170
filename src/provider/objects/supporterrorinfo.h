#pragma once
// ISupportErrorInfo answers for the provider's objects.

#include "platform/sdk/oledb.h"

#include <initializer_list>

namespace rz::provider {

// S_OK when iid is one of the object's interfaces, S_FALSE otherwise.
inline HRESULT supportsErrorInfo(REFIID iid, std::initializer_list<const IID *> interfaces)
{
    for (const IID *known : interfaces)
        if (*known == iid)
            return S_OK;
    return S_FALSE;
}

} // namespace rz::provider
