#include "result/cisshelper.h"

#include <algorithm>
#include <cstring>

CISSHelper::~CISSHelper()
{
    Clear();
}

HRESULT CISSHelper::QueryInterface(REFIID iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_ISequentialStream) {
        *object = static_cast<ISequentialStream *>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG CISSHelper::AddRef()
{
    return ++m_refCount;
}

ULONG CISSHelper::Release()
{
    return --m_refCount;
}

HRESULT CISSHelper::Read(void *data, ULONG size, ULONG *read)
{
    if (read)
        *read = 0;
    if (!data)
        return STG_E_INVALIDPOINTER;
    if (size == 0)
        return S_OK;
    const ULONG available = m_length - m_readPosition;
    if (available == 0)
        return S_FALSE;
    const ULONG n = std::min(available, size);
    std::memcpy(data, m_buffer + m_readPosition, n);
    m_readPosition += n;
    if (read)
        *read = n;
    return n == size ? S_OK : S_FALSE;
}

HRESULT CISSHelper::Write(const void *data, ULONG size, ULONG *written)
{
    if (!data)
        return STG_E_INVALIDPOINTER;
    if (written)
        *written = 0;
    if (size == 0)
        return S_OK;
    const ULONG grownLength = m_length + size;
    if (grownLength < m_length) { // the 32-bit length would wrap
        Clear();
        return E_OUTOFMEMORY;
    }
    void *grown = CoTaskMemRealloc(m_buffer, grownLength);
    if (!grown) {
        Clear();
        return E_OUTOFMEMORY;
    }
    m_buffer = static_cast<BYTE *>(grown);
    m_length = grownLength;
    std::memcpy(m_buffer + m_writePosition, data, size);
    m_writePosition += size;
    if (written)
        *written = size;
    return S_OK;
}

HRESULT CISSHelper::Clear()
{
    CoTaskMemFree(m_buffer);
    m_buffer = nullptr;
    m_length = 0;
    m_refCount = 0;
    m_readPosition = 0;
    m_writePosition = 0;
    return S_OK;
}
