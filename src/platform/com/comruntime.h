#pragma once
// The COM run-time functions the system calls: apartments, class creation,
// task memory, BSTR, VARIANT, SAFEARRAY and the per-thread error object.
// They behave as their Windows namesakes do.

#include "platform/sdk/comtypes.h"

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
HRESULT CoInitialize(LPVOID pvReserved);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID *ppv);
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);

// Task memory: what a provider hands out and the consumer frees, and back.
LPVOID CoTaskMemAlloc(SIZE_T cb);
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);

BSTR SysAllocString(const OLECHAR *psz);
BSTR SysAllocStringLen(const OLECHAR *strIn, UINT ui);
BSTR SysAllocStringByteLen(LPCSTR psz, UINT len);
void SysFreeString(BSTR bstrString);
UINT SysStringLen(BSTR pbstr);
UINT SysStringByteLen(BSTR bstr);

void VariantInit(VARIANTARG *pvarg);
HRESULT VariantClear(VARIANTARG *pvarg);
HRESULT VariantCopy(VARIANTARG *pvargDest, const VARIANTARG *pvargSrc);

SAFEARRAY *SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
HRESULT SafeArrayDestroy(SAFEARRAY *psa);

// The calling thread's error object; GetErrorInfo hands it over and clears it.
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo *perrinfo);
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo **pperrinfo);
