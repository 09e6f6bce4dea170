#pragma once
// Error objects for the project's own providers: one object with a record per
// diagnostic, answering IErrorInfo (the first record) and IErrorRecords (all of
// them), the way OLE DB consumers read provider errors.

#include "platform/sdk/oledb.h"

#include <string>
#include <vector>

namespace rz {

struct ErrorRecordText {
    HRESULT hr = E_FAIL;
    std::u16string description;
    std::u16string source;
    IID iid = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};   // interface whose call failed
    DWORD minor = 0;                                 // provider-specific number
};

// Creates an error object holding the records in the given order (record 0 =
// first). *errorInfo receives IErrorInfo with one reference.
HRESULT createErrorObject(const std::vector<ErrorRecordText> &records, IErrorInfo **errorInfo);

// Creates such an object and makes it the calling thread's error object.
// Returns S_OK, or E_OUTOFMEMORY when no object could be made.
HRESULT setErrorRecords(const std::vector<ErrorRecordText> &records);

} // namespace rz
