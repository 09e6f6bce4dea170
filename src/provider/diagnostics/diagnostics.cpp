#include "provider/diagnostics/diagnostics.h"

namespace rz::provider {

namespace {

std::vector<Diagnostic> &pendingList()
{
    thread_local std::vector<Diagnostic> list;
    return list;
}

} // namespace

const std::vector<Diagnostic> &pendingDiagnostics() { return pendingList(); }

std::vector<Diagnostic> takePendingDiagnostics()
{
    std::vector<Diagnostic> taken;
    taken.swap(pendingList());
    return taken;
}

void clearPendingDiagnostics() { pendingList().clear(); }

void addPendingDiagnostic(std::u16string sqlState, std::u16string message)
{
    pendingList().push_back({std::move(sqlState), 0, std::move(message)});
}

void addPendingDiagnostic(Diagnostic diagnostic) { pendingList().push_back(std::move(diagnostic)); }

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
