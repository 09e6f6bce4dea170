#pragma once
// A backend that answers from a script instead of a server, so that the
// OLE DB objects and the result stream's buffering can be tested on their
// own, failures a real server rarely gives included. Rows travel in blocks
// of a few, in the forms the TDS client decodes into.

#include "provider/resultstream.h"
#include "provider/serverconnection.h"
#include "provider/diagnostics/diagnostics.h"

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace providertest {

using rz::provider::Diagnostic;

// A column of the type SQL Server names so; maxLength in bytes, -1 for max.
rz::provider::ColumnDescription memoryColumn(std::u16string name, std::u16string_view typeName, int maxLength = 0);

// A value as its column's form holds it; nullopt for NULL.
using MemoryValue = std::optional<std::string>;
template <class T>
MemoryValue bytesOf(T value)
{
    std::string bytes(sizeof value, '\0');
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}
MemoryValue utf16Value(std::u16string_view text);

// A bound parameter's value in the provider's neutral form.
template <class T>
rz::provider::ParameterValue parameterOf(DBTYPE type, T value)
{
    rz::provider::ParameterValue p;
    p.type = type;
    p.bytes = *bytesOf(value);
    return p;
}
// A NUMERIC parameter from its text, with the digits and places it is bound with.
rz::provider::ParameterValue decimalParameter(const char *text, BYTE precision, BYTE scale);

// One result of a statement. With columns: its rows, then, when `failure`
// is set, reading on fails with it. Without columns: an affected-row count,
// or with `failure` an error the statement meets there (on the first result:
// the execution fails).
struct MemoryResult {
    std::vector<rz::provider::ColumnDescription> columns;
    std::vector<std::vector<MemoryValue>> rows;
    int64_t affectedRows = -1;
    std::vector<Diagnostic> failure;
};

struct MemoryExecution {
    std::u16string text;
    std::vector<rz::provider::ParameterValue> parameters;
};

// What the backend answers, and what it was asked. Transactions are logged
// among the executions as "BEGIN", "COMMIT", "ROLLBACK".
struct MemoryScript {
    std::map<std::u16string, std::vector<MemoryResult>> answers; // by statement text
    std::vector<Diagnostic> connectFailure;
    std::vector<Diagnostic> transactionFailure; // begin and end fail with these
    size_t blockRows = 3;

    std::vector<MemoryExecution> executions;

    // How often `text` ran.
    size_t runs(std::u16string_view text) const;
};

std::shared_ptr<rz::provider::Backend> makeMemoryBackend(std::shared_ptr<MemoryScript> script);

} // namespace providertest
