#include "tds/requests.h"

#include "tds/wirewriter.h"

namespace rz::tds {

namespace {

constexpr uint32_t kAllHeadersLength = 4 + 18;
constexpr uint32_t kTransactionHeaderLength = 18;
constexpr uint16_t kTransactionDescriptorHeader = 2;

} // namespace

void writeAllHeaders(WireWriter &w, uint64_t transactionDescriptor)
{
    w.u32le(kAllHeadersLength);
    w.u32le(kTransactionHeaderLength);
    w.u16le(kTransactionDescriptorHeader);
    w.u64le(transactionDescriptor);
    w.u32le(1);   // outstanding requests
}

std::vector<uint8_t> encodeSqlBatch(std::u16string_view sql, uint64_t transactionDescriptor)
{
    std::vector<uint8_t> out;
    out.reserve(kAllHeadersLength + sql.size() * 2);
    WireWriter w(out);
    writeAllHeaders(w, transactionDescriptor);
    w.utf16(sql);
    return out;
}

std::vector<uint8_t> encodeTransactionRequest(TransactionRequest request, uint64_t transactionDescriptor,
                                              bool beginNext)
{
    std::vector<uint8_t> out;
    WireWriter w(out);
    writeAllHeaders(w, transactionDescriptor);
    w.u16le(uint16_t(request));
    if (request == TransactionRequest::Begin) {
        w.u8(0);   // isolation level: unchanged
        w.u8(0);   // no name
        return out;
    }
    w.u8(0);   // no name
    w.u8(beginNext ? 1 : 0);
    if (beginNext) {
        w.u8(0);   // isolation level of the new transaction: unchanged
        w.u8(0);   // no name
    }
    return out;
}

} // namespace rz::tds
