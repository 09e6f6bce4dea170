// One-dimensional SAFEARRAYs: enough for VARIANTs that carry arrays of
// values, and for VariantClear to free them with their elements.

#include "platform/com/comruntime.h"

#include <cstdlib>
#include <cstring>

namespace {

ULONG elementSize(VARTYPE vt)
{
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
        return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
        return 8;
    case VT_DECIMAL:
        return sizeof(DECIMAL);
    case VT_VARIANT:
        return sizeof(VARIANT);
    default:
        return 0;
    }
}

USHORT featuresFor(VARTYPE vt)
{
    switch (vt) {
    case VT_BSTR:
        return FADF_BSTR;
    case VT_UNKNOWN:
        return FADF_UNKNOWN;
    case VT_DISPATCH:
        return FADF_DISPATCH;
    case VT_VARIANT:
        return FADF_VARIANT;
    default:
        return 0;
    }
}

} // namespace

SAFEARRAY *SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements)
{
    const ULONG size = elementSize(vt);
    if (size == 0)
        return nullptr;
    auto *array = static_cast<SAFEARRAY *>(std::calloc(1, sizeof(SAFEARRAY)));
    if (!array)
        return nullptr;
    array->pvData = std::calloc(cElements ? cElements : 1, size);
    if (!array->pvData) {
        std::free(array);
        return nullptr;
    }
    array->cDims = 1;
    array->fFeatures = featuresFor(vt);
    array->cbElements = size;
    array->rgsabound[0].cElements = cElements;
    array->rgsabound[0].lLbound = lLbound;
    return array;
}

HRESULT SafeArrayDestroy(SAFEARRAY *psa)
{
    if (!psa)
        return S_OK;
    if (psa->cLocks > 0)
        return DISP_E_ARRAYISLOCKED;
    ULONG count = 1;
    for (USHORT d = 0; d < psa->cDims; ++d)
        count *= psa->rgsabound[d].cElements;
    auto *data = static_cast<unsigned char *>(psa->pvData);
    for (ULONG i = 0; data && i < count; ++i) {
        void *element = data + static_cast<std::size_t>(i) * psa->cbElements;
        if (psa->fFeatures & FADF_BSTR) {
            BSTR s;
            std::memcpy(&s, element, sizeof s);
            SysFreeString(s);
        } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            IUnknown *u;
            std::memcpy(&u, element, sizeof u);
            if (u)
                u->Release();
        } else if (psa->fFeatures & FADF_VARIANT) {
            VariantClear(static_cast<VARIANT *>(element));
        }
    }
    std::free(psa->pvData);
    std::free(psa);
    return S_OK;
}
