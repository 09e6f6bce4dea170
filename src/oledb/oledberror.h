#pragma once
// How the consumer layer fails: HRESULTs for everything a provider refuses,
// the one exception for memory that cannot be had, and the provider's own
// description of its last failure.

#include "platform/sdk/oledb.h"

#include <QtCore/QString>

// Carries the HRESULT of a failure that the consumer layer does not report
// through return values (in practice: memory that could not be had).
class CAtlException
{
public:
    explicit CAtlException(HRESULT hr) noexcept : m_hr(hr) {}
    operator HRESULT() const noexcept { return m_hr; }

    HRESULT m_hr;
};

[[noreturn]] void throwHResult(HRESULT hr);

// The descriptions of the error records that the last failed call on
// `object` (made through `interfaceId`) left on this thread, joined by single
// blanks; "Critical Error" when there is nothing to read. Call it right after
// the failed call, before anything else touches the object.
QString qOLEDBErrorText(IUnknown *object, REFIID interfaceId);
