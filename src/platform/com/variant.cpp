// VARIANT life cycle: clearing releases what the value owns (BSTR, interface
// reference, SAFEARRAY); copying duplicates it.

#include "platform/com/comruntime.h"

#include <cstring>

namespace {

bool isValidScalar(VARTYPE vt)
{
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_ERROR:
    case VT_BOOL:
    case VT_DECIMAL:
    case VT_VARIANT:
    case VT_RECORD:
        return true;
    default:
        return false;
    }
}

bool isValid(VARTYPE vt)
{
    const VARTYPE base = vt & VT_TYPEMASK;
    if (vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF))
        return false;
    if (base == VT_VARIANT && !(vt & (VT_ARRAY | VT_BYREF)))
        return false; // a VARIANT cannot hold a VARIANT by value
    return isValidScalar(base);
}

} // namespace

void VariantInit(VARIANTARG *pvarg)
{
    if (!pvarg)
        return;
    pvarg->vt = VT_EMPTY;
    pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
}

HRESULT VariantClear(VARIANTARG *pvarg)
{
    if (!pvarg)
        return E_INVALIDARG;
    const VARTYPE vt = pvarg->vt;
    if (!isValid(vt))
        return DISP_E_BADVARTYPE;
    if (!(vt & VT_BYREF)) {
        if (vt & VT_ARRAY) {
            SAFEARRAY *array = pvarg->parray;
            pvarg->parray = nullptr;
            const HRESULT hr = SafeArrayDestroy(array);
            if (FAILED(hr))
                return hr;
        } else if (vt == VT_BSTR) {
            BSTR s = pvarg->bstrVal;
            pvarg->bstrVal = nullptr;
            SysFreeString(s);
        } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
            IUnknown *u = pvarg->punkVal;
            pvarg->punkVal = nullptr;
            if (u)
                u->Release();
        }
    }
    pvarg->vt = VT_EMPTY;
    return S_OK;
}

namespace {

HRESULT copyArray(const SAFEARRAY *source, SAFEARRAY **target)
{
    *target = nullptr;
    if (!source)
        return S_OK;
    if (source->cDims != 1)
        return E_NOTIMPL;
    VARTYPE vt = VT_UI1;
    if (source->fFeatures & FADF_BSTR)
        vt = VT_BSTR;
    else if (source->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH))
        vt = VT_UNKNOWN;
    else if (source->fFeatures & FADF_VARIANT)
        vt = VT_VARIANT;
    const ULONG count = source->rgsabound[0].cElements;
    const ULONG elementCount = vt == VT_UI1 ? count * source->cbElements : count;
    SAFEARRAY *copy = SafeArrayCreateVector(vt, source->rgsabound[0].lLbound, elementCount);
    if (!copy)
        return E_OUTOFMEMORY;
    copy->rgsabound[0].cElements = count;
    copy->cbElements = source->cbElements;
    copy->fFeatures = source->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT);
    const auto *from = static_cast<const unsigned char *>(source->pvData);
    auto *to = static_cast<unsigned char *>(copy->pvData);
    for (ULONG i = 0; i < count; ++i) {
        const unsigned char *src = from + static_cast<std::size_t>(i) * source->cbElements;
        unsigned char *dst = to + static_cast<std::size_t>(i) * source->cbElements;
        if (vt == VT_BSTR) {
            BSTR s;
            std::memcpy(&s, src, sizeof s);
            BSTR d = s ? SysAllocStringByteLen(reinterpret_cast<LPCSTR>(s), SysStringByteLen(s)) : nullptr;
            if (s && !d) {
                SafeArrayDestroy(copy);
                return E_OUTOFMEMORY;
            }
            std::memcpy(dst, &d, sizeof d);
        } else if (vt == VT_UNKNOWN) {
            IUnknown *u;
            std::memcpy(&u, src, sizeof u);
            if (u)
                u->AddRef();
            std::memcpy(dst, &u, sizeof u);
        } else if (vt == VT_VARIANT) {
            VariantInit(reinterpret_cast<VARIANT *>(dst));
            const HRESULT hr = VariantCopy(reinterpret_cast<VARIANT *>(dst),
                                           reinterpret_cast<const VARIANT *>(src));
            if (FAILED(hr)) {
                SafeArrayDestroy(copy);
                return hr;
            }
        } else {
            std::memcpy(dst, src, source->cbElements);
        }
    }
    *target = copy;
    return S_OK;
}

} // namespace

HRESULT VariantCopy(VARIANTARG *pvargDest, const VARIANTARG *pvargSrc)
{
    if (!pvargDest || !pvargSrc)
        return E_INVALIDARG;
    if (pvargDest == pvargSrc)
        return S_OK;
    if (!isValid(pvargSrc->vt))
        return DISP_E_BADVARTYPE;
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr))
        return hr;
    VARIANT copy;
    std::memcpy(static_cast<void *>(&copy), pvargSrc, sizeof copy);
    const VARTYPE vt = pvargSrc->vt;
    if (!(vt & VT_BYREF)) {
        if (vt & VT_ARRAY) {
            hr = copyArray(pvargSrc->parray, &copy.parray);
            if (FAILED(hr))
                return hr;
        } else if (vt == VT_BSTR && pvargSrc->bstrVal) {
            copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(pvargSrc->bstrVal),
                                                 SysStringByteLen(pvargSrc->bstrVal));
            if (!copy.bstrVal)
                return E_OUTOFMEMORY;
        } else if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && pvargSrc->punkVal) {
            pvargSrc->punkVal->AddRef();
        }
    }
    std::memcpy(static_cast<void *>(pvargDest), &copy, sizeof copy);
    return S_OK;
}
