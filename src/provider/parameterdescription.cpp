#include "provider/parameterdescription.h"
#include "provider/quoting.h"

#include "provider/odbccall.h"
#include "provider/parametermarkers.h"

namespace rz::provider {

namespace {

std::u16string quotedLiteral(std::u16string_view text)
{
    return enclosed(text, u"N'", u'\'');
}

bool readInt(SQLHSTMT stmt, SQLUSMALLINT column, long &value)
{
    SQLINTEGER v = 0;
    SQLLEN indicator = 0;
    if (!odbcSucceeded(odbcCall(SQLGetData(stmt, column, SQL_C_SLONG, &v, sizeof v, &indicator), SQL_HANDLE_STMT, stmt)))
        return false;
    value = indicator == SQL_NULL_DATA ? 0 : long(v);
    return true;
}

bool readText(SQLHSTMT stmt, SQLUSMALLINT column, std::u16string &value)
{
    SQLWCHAR buffer[300] = {};
    SQLLEN indicator = 0;
    if (!odbcSucceeded(odbcCall(SQLGetData(stmt, column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator), SQL_HANDLE_STMT, stmt)))
        return false;
    value = indicator == SQL_NULL_DATA ? std::u16string() : std::u16string(reinterpret_cast<const char16_t *>(buffer));
    return true;
}

} // namespace

bool describeParameters(const std::shared_ptr<OdbcConnection> &connection, std::u16string_view sql,
                        std::vector<DescribedParameter> &out)
{
    out.clear();
    const NumberedStatement numbered = numberParameterMarkers(sql);
    if (numbered.markerCount == 0)
        return true;
    connection->makeIdle();
    StatementHandle statement = connection->newStatement();
    if (!statement)
        return false;
    const SQLHSTMT stmt = statement.get();
    std::u16string query = u"EXEC sp_describe_undeclared_parameters " + quotedLiteral(numbered.text);
    if (!odbcSucceeded(odbcCall(SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR *>(query.data()), SQLINTEGER(query.size())),
                                statement)))
        return false;

    out.resize(size_t(numbered.markerCount));
    for (int i = 0; i < numbered.markerCount; ++i) {
        out[size_t(i)].name = u"@P";
        for (char c : std::to_string(i + 1))
            out[size_t(i)].name += char16_t(c);
        // Not reported by the server: text is the safest guess.
        out[size_t(i)].type = typeOfServerTypeName(u"nvarchar", 8000, 0, 0);
    }
    // Columns: parameter_ordinal, name, suggested_system_type_id,
    // suggested_system_type_name, suggested_max_length, suggested_precision, suggested_scale.
    for (;;) {
        const SQLRETURN rc = odbcCall(SQLFetch(stmt), statement);
        if (rc == SQL_NO_DATA)
            break;
        if (!odbcSucceeded(rc))
            return false;
        long ordinal = 0, maxLength = 0, precision = 0, scale = 0;
        std::u16string name, typeName;
        if (!readInt(stmt, 1, ordinal) || !readText(stmt, 2, name) || !readText(stmt, 4, typeName)
            || !readInt(stmt, 5, maxLength) || !readInt(stmt, 6, precision) || !readInt(stmt, 7, scale))
            return false;
        if (ordinal < 1 || ordinal > numbered.markerCount)
            continue;
        DescribedParameter &p = out[size_t(ordinal - 1)];
        if (!name.empty())
            p.name = name;
        p.type = typeOfServerTypeName(typeName, int(maxLength), int(precision), int(scale));
    }
    return true;
}

} // namespace rz::provider
