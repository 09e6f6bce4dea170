#include "provider/odbc/odbccall.h"

#include <algorithm>

namespace rz::provider {

SQLRETURN odbcCall(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle)
{
    if (rc == SQL_ERROR || rc == SQL_INVALID_HANDLE) {
        auto records = readDiagnostics(handleType, handle);
        if (records.empty())
            records.push_back({u"HY000", 0,
                               rc == SQL_INVALID_HANDLE ? u"Invalid ODBC handle." : u"The ODBC driver reported an error without a description."});
        for (auto &r : records)
            addPendingDiagnostic(std::move(r));
    }
    return rc;
}

std::vector<Diagnostic> readDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle)
{
    std::vector<Diagnostic> records;
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
        Diagnostic d;
        d.sqlState.assign(reinterpret_cast<const char16_t *>(state), 5);
        d.nativeError = native;
        d.message = withoutVendorPrefixes(text);
        // FreeTDS says only "Timeout expired"; the TDS backend and Microsoft's driver name the query.
        if (d.sqlState == u"HYT00" && d.message == u"Timeout expired")
            d.message = u"Query timeout expired";
        records.push_back(std::move(d));
    }
    return records;
}

} // namespace rz::provider
