#include "provider/diagnostics/errors.h"

#include "platform/com/comerror.h"
#include "platform/com/comptr.h"
#include "platform/services/errorobject.h"
#include "provider/diagnostics/diagnostics.h"

namespace rz::provider {

namespace {

const std::u16string kSource = u"REZUVEDOV OLE DB Provider for SQL Server";

} // namespace

HRESULT reportFailure(HRESULT hr, REFIID failingInterface)
{
    auto diagnostics = takePendingDiagnostics();
    std::vector<rz::ErrorRecordText> records;
    records.reserve(diagnostics.size());
    for (auto &d : diagnostics) {
        rz::ErrorRecordText r;
        r.hr = hr;
        r.description = std::move(d.message);
        r.source = kSource;
        r.iid = failingInterface;
        r.minor = DWORD(d.nativeError);
        records.push_back(std::move(r));
    }
    if (records.empty()) {
        rz::ErrorRecordText r;
        r.hr = hr;
        r.description = rz::systemMessage(hr);
        r.source = kSource;
        r.iid = failingInterface;
        records.push_back(std::move(r));
    }
    rz::setErrorRecords(records);
    return hr;
}

HRESULT passOnFailure(HRESULT hr, REFIID failingInterface)
{
    rz::ComPtr<IErrorInfo> reported;
    if (pendingDiagnostics().empty() && GetErrorInfo(0, reported.put()) == S_OK && reported) {
        SetErrorInfo(0, reported.get());
        return hr;
    }
    return reportFailure(hr, failingInterface);
}

HRESULT reportFailure(HRESULT hr, REFIID failingInterface, std::u16string description)
{
    addPendingDiagnostic(u"HY000", std::move(description));
    return reportFailure(hr, failingInterface);
}

HRESULT executionFailureCode()
{
    for (const auto &d : pendingDiagnostics())
        if (isConnectionLost(d.sqlState))
            return E_FAIL;
    return DB_E_ERRORSINCOMMAND;
}

HRESULT loginFailureCode()
{
    // 18456: the server's "Login failed for user" (FreeTDS reports it as 42000).
    for (const auto &d : pendingDiagnostics())
        if (d.sqlState == u"28000" || d.nativeError == 18456)
            return DB_SEC_E_AUTH_FAILED;
    return E_FAIL;
}

void dropGenericConnectFailure()
{
    auto records = takePendingDiagnostics();
    bool serverSpoke = false;
    for (const auto &d : records)
        serverSpoke = serverSpoke || d.nativeError != 0;
    for (auto &d : records)
        if (!serverSpoke || !(d.sqlState == u"08001" && d.nativeError == 0))
            addPendingDiagnostic(std::move(d));
}

} // namespace rz::provider
