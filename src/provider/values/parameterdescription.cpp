#include "provider/values/parameterdescription.h"

#include "provider/objects/errors.h"
#include "provider/resultstream.h"
#include "provider/sql/callescape.h"
#include "provider/sql/parametermarkers.h"
#include "provider/sql/quoting.h"
#include "provider/values/columnconversion.h"

#include <cstring>
#include <string>

namespace rz::provider {

namespace {

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
        int32_t v = 0;
        std::memcpy(&v, buffer, sizeof v);
        return status == DBSTATUS_S_OK ? long(v) : 0;
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

} // namespace

bool describeParameters(const std::shared_ptr<ServerConnection> &connection, std::u16string_view sql,
                        std::vector<DescribedParameter> &out)
{
    out.clear();
    const NumberedStatement numbered = numberParameterMarkers(translateCallEscape(sql));
    if (numbered.markerCount == 0)
        return true;
    std::shared_ptr<ResultStream> stream;
    const std::u16string query = u"EXEC sp_describe_undeclared_parameters " + quotedLiteral(numbered.text);
    if (FAILED(connection->execute(query, nullptr, 0, stream)))
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
            DescribedParameter &p = out[size_t(ordinal - 1)];
            const std::u16string name = cells.text(1);
            if (!name.empty())
                p.name = name;
            p.type = typeOfServerTypeName(cells.text(3), int(cells.integer(4)), int(cells.integer(5)),
                                          int(cells.integer(6)));
        }
    }
    stream->removeReader(result);
    stream->close();
    return ok;
}

} // namespace rz::provider
