#pragma once
// An in-memory ISequentialStream for long parameter values. exec() owns it
// as a local object: Release never deletes, and the provider's references
// only move the counter. Bytes are appended with Write and read back, in
// order, with Read; nothing rewinds.

#include "platform/sdk/oledb.h"

class CISSHelper : public ISequentialStream
{
public:
    CISSHelper() = default;
    virtual ~CISSHelper();
    CISSHelper(const CISSHelper &) = delete;
    CISSHelper &operator=(const CISSHelper &) = delete;

    HRESULT QueryInterface(REFIID iid, void **object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT Read(void *data, ULONG size, ULONG *read) override;
    HRESULT Write(const void *data, ULONG size, ULONG *written) override;

    // Frees the buffer and resets every field.
    virtual HRESULT Clear();

    BYTE *buffer() const { return m_buffer; }
    ULONG length() const { return m_length; }
    ULONG refCount() const { return m_refCount; }

private:
    BYTE *m_buffer = nullptr;
    ULONG m_length = 0;
    ULONG m_refCount = 0;
    ULONG m_readPosition = 0;
    ULONG m_writePosition = 0;
};
