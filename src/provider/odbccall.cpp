#include "provider/odbccall.h"

#include <algorithm>

namespace rz::provider {

namespace {

std::vector<OdbcDiagnostic> &pendingList()
{
    thread_local std::vector<OdbcDiagnostic> list;
    return list;
}

} // namespace

SQLRETURN odbcCall(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle)
{
    if (rc == SQL_ERROR || rc == SQL_INVALID_HANDLE) {
        auto records = readDiagnostics(handleType, handle);
        if (records.empty())
            records.push_back({u"HY000", 0,
                               rc == SQL_INVALID_HANDLE ? u"Invalid ODBC handle." : u"The ODBC driver reported an error without a description."});
        auto &list = pendingList();
        for (auto &r : records)
            list.push_back(std::move(r));
    }
    return rc;
}

std::vector<OdbcDiagnostic> readDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle)
{
    std::vector<OdbcDiagnostic> records;
    if (handle == SQL_NULL_HANDLE)
        return records;
    for (SQLSMALLINT index = 1;; ++index) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        std::u16string text(512, u'\0');
        SQLRETURN rc = SQLGetDiagRecW(handleType, handle, index, state, &native,
                                      reinterpret_cast<SQLWCHAR *>(text.data()),
                                      SQLSMALLINT(text.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= SQLSMALLINT(text.size())) {
            text.assign(size_t(length) + 1, u'\0');
            rc = SQLGetDiagRecW(handleType, handle, index, state, &native,
                                reinterpret_cast<SQLWCHAR *>(text.data()),
                                SQLSMALLINT(text.size()), &length);
        }
        if (!odbcSucceeded(rc))
            break;
        text.resize(size_t(std::max<SQLSMALLINT>(0, std::min<SQLSMALLINT>(length, SQLSMALLINT(text.size() - 1)))));
        OdbcDiagnostic d;
        d.sqlState.assign(reinterpret_cast<const char16_t *>(state), 5);
        d.nativeError = native;
        d.message = withoutVendorPrefixes(text);
        records.push_back(std::move(d));
    }
    return records;
}

const std::vector<OdbcDiagnostic> &pendingDiagnostics() { return pendingList(); }

std::vector<OdbcDiagnostic> takePendingDiagnostics()
{
    std::vector<OdbcDiagnostic> taken;
    taken.swap(pendingList());
    return taken;
}

void clearPendingDiagnostics() { pendingList().clear(); }

void addPendingDiagnostic(std::u16string sqlState, std::u16string message)
{
    pendingList().push_back({std::move(sqlState), 0, std::move(message)});
}

void addPendingDiagnostic(OdbcDiagnostic diagnostic) { pendingList().push_back(std::move(diagnostic)); }

std::u16string withoutVendorPrefixes(std::u16string_view message)
{
    size_t pos = 0;
    while (pos < message.size() && message[pos] == u'[') {
        const size_t close = message.find(u']', pos);
        if (close == std::u16string_view::npos)
            break;
        pos = close + 1;
    }
    // Drivers sometimes end their texts with a line break; the error object wants none.
    size_t end = message.size();
    while (end > pos && (message[end - 1] == u'\n' || message[end - 1] == u'\r'))
        --end;
    return std::u16string(message.substr(pos, end - pos));
}

bool isConnectionLost(std::u16string_view sqlState)
{
    return (sqlState.size() >= 2 && sqlState.substr(0, 2) == u"08") || sqlState == u"HYT01";
}

} // namespace rz::provider
