#pragma once
// The payloads of client requests: SQL batches and transaction manager
// requests, each after the ALL_HEADERS block.

#include <cstdint>
#include <string_view>
#include <vector>

namespace rz::tds {

class WireWriter;

// ALL_HEADERS with the transaction descriptor header (0 outside a transaction)
// and one outstanding request.
void writeAllHeaders(WireWriter &w, uint64_t transactionDescriptor);

std::vector<uint8_t> encodeSqlBatch(std::u16string_view sql, uint64_t transactionDescriptor);

enum class TransactionRequest : uint16_t {
    Begin = 5,
    Commit = 7,
    Rollback = 8,
};

// BEGIN with the isolation level left as it is; COMMIT and ROLLBACK of the
// unnamed transaction, optionally beginning the next one at once.
std::vector<uint8_t> encodeTransactionRequest(TransactionRequest request, uint64_t transactionDescriptor,
                                              bool beginNext = false);

} // namespace rz::tds
