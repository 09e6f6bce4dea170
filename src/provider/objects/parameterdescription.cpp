#include "provider/objects/parameterdescription.h"

#include "common/bytes.h"
#include "provider/diagnostics/diagnostics.h"
#include "provider/diagnostics/errors.h"
#include "provider/resultstream.h"
#include "provider/sql/callescape.h"
#include "provider/sql/parametermarkers.h"
#include "provider/sql/quoting.h"
#include "provider/values/columnconversion.h"

#include <optional>
#include <string>

namespace rz::provider {

namespace {

std::u16string markerNumber(int n)
{
    std::u16string out;
    for (char c : std::to_string(n))
        out += char16_t(c);
    return out;
}

std::u16string quotedLiteral(std::u16string_view text)
{
    return enclosed(text, u"N'", u'\'');
}

// One column of a result row, read through the same conversion a
// consumer's binding gets.
struct CellReader {
    const ResultStream &stream;
    const RowBlock &block;
    size_t row;

    FetchedValue value(size_t column) const
    {
        return fetchedValue(stream.columns()[column], block, row, stream.rowSize(), stream.longColumnCount());
    }

    long integer(size_t column) const
    {
        if (column >= stream.columns().size())
            return 0;
        DBBINDING b{};
        b.iOrdinal = column + 1;
        b.dwPart = DBPART_VALUE | DBPART_STATUS;
        b.obValue = 0;
        b.obStatus = 8;
        b.wType = DBTYPE_I4;
        b.cbMaxLen = 4;
        BYTE buffer[16] = {};
        const DBSTATUS status = writeColumnBinding(value(column), b, buffer);
        return status == DBSTATUS_S_OK ? long(rz::loadUnaligned<int32_t>(buffer)) : 0;
    }

    std::u16string text(size_t column) const
    {
        if (column >= stream.columns().size())
            return {};
        constexpr size_t kUnits = 300;
        DBBINDING b{};
        b.iOrdinal = column + 1;
        b.dwPart = DBPART_VALUE | DBPART_STATUS;
        b.obValue = 0;
        b.obStatus = kUnits * 2;
        b.wType = DBTYPE_WSTR;
        b.cbMaxLen = kUnits * 2;
        BYTE buffer[kUnits * 2 + 8] = {};
        const DBSTATUS status = writeColumnBinding(value(column), b, buffer);
        if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED)
            return {};
        return std::u16string(reinterpret_cast<const char16_t *>(buffer));
    }
};

std::u16string markerName(int ordinal) { return u"@P" + markerNumber(ordinal); }

// Replaces the pending diagnostics (the server's reason, if any) with one
// record that says which parameter of which statement is not described.
void reportUndescribed(std::u16string_view sql, int ordinal, int count)
{
    const std::vector<Diagnostic> reasons = takePendingDiagnostics();
    // The first reason's state and number stay: a time-out or a lost connection is still one.
    Diagnostic record = reasons.empty() ? Diagnostic{u"07002", 0, {}}
                                        : Diagnostic{reasons[0].sqlState, reasons[0].nativeError, {}};
    record.message = u"The server could not describe parameter " + markerNumber(ordinal) + u" of " +
                     markerNumber(count) + u" of the statement \"" + std::u16string(sql) + u"\"";
    for (size_t i = 0; i < reasons.size(); ++i)
        record.message += (i == 0 ? u": " : u"; ") + reasons[i].message;
    if (reasons.empty())
        record.message += u": the server gave no reason";
    if (record.message.back() != u'.') // the server's messages end in one
        record.message += u'.';
    record.message += u" Its type is not guessed; give the marker a context the server can describe "
                      u"(for example CAST(? AS int)).";
    addPendingDiagnostic(std::move(record));
}

} // namespace

bool describeParameters(const std::shared_ptr<ServerConnection> &connection, std::u16string_view sql,
                        long timeoutSeconds, std::vector<DescribedParameter> &out)
{
    out.clear();
    const NumberedStatement numbered = numberParameterMarkers(translateCallEscape(sql));
    if (numbered.markerCount == 0)
        return true;
    std::shared_ptr<ResultStream> stream;
    const std::u16string query = u"EXEC sp_describe_undeclared_parameters " + quotedLiteral(numbered.text);
    if (FAILED(connection->execute(query, nullptr, timeoutSeconds, stream))) {
        reportUndescribed(sql, 1, numbered.markerCount);
        return false;
    }

    std::vector<std::optional<DescribedParameter>> found(size_t(numbered.markerCount));
    // Columns: parameter_ordinal, name, suggested_system_type_id,
    // suggested_system_type_name, suggested_max_length, suggested_precision, suggested_scale.
    const int result = stream->currentResult();
    stream->addReader(result);
    std::shared_ptr<RowBlock> block;
    bool ok = true;
    for (;;) {
        const ResultStream::Fetch fetched = stream->nextBlock(result, block);
        if (fetched == ResultStream::Fetch::End)
            break;
        if (fetched == ResultStream::Fetch::Failed) {
            ok = false;
            break;
        }
        for (size_t row = 0; row < block->rowCount; ++row) {
            const CellReader cells{*stream, *block, row};
            const long ordinal = cells.integer(0);
            if (ordinal < 1 || ordinal > numbered.markerCount)
                continue;
            const std::u16string typeName = cells.text(3);
            if (typeName.empty())
                continue;
            DescribedParameter p;
            p.name = cells.text(1);
            p.type = typeOfServerTypeName(typeName, int(cells.integer(4)), int(cells.integer(5)),
                                          int(cells.integer(6)));
            found[size_t(ordinal - 1)] = std::move(p);
        }
    }
    stream->removeReader(result);
    stream->close();
    for (size_t i = 0; ok && i < found.size(); ++i) {
        if (!found[i]) {
            addPendingDiagnostic(u"07002", u"the server's description has no type for it");
            reportUndescribed(sql, int(i + 1), numbered.markerCount);
            return false;
        }
    }
    if (!ok) {
        reportUndescribed(sql, 1, numbered.markerCount);
        return false;
    }
    for (size_t i = 0; i < found.size(); ++i) {
        if (found[i]->name.empty())
            found[i]->name = markerName(int(i + 1));
        out.push_back(std::move(*found[i]));
    }
    return true;
}

} // namespace rz::provider
