#include "memorybackend.h"

#include "provider/diagnostics/errors.h"
#include "provider/values/decimaltext.h"

#include <algorithm>

namespace providertest {

using namespace rz::provider;

namespace {

void addPending(const std::vector<Diagnostic> &diagnostics)
{
    for (const auto &d : diagnostics)
        addPendingDiagnostic(d);
}

class MemoryResultStream final : public ResultStream {
public:
    MemoryResultStream(std::shared_ptr<ServerConnection> connection, std::vector<MemoryResult> results,
                       size_t blockRows)
        : ResultStream(std::move(connection)), results_(std::move(results)), blockRows_(std::max<size_t>(blockRows, 1))
    {
    }
    ~MemoryResultStream() override { close(); }

    // Stands on the first result; false with its failure pending.
    bool start() { return arrive() != Next::Failed; }

protected:
    Fetch fetchFromWire(std::shared_ptr<RowBlock> &block) override
    {
        const MemoryResult &result = results_[index_];
        if (nextRow_ == result.rows.size()) {
            wireDone_ = true;
            addPending(result.failure);
            return result.failure.empty() ? Fetch::End : Fetch::Failed;
        }
        prepareBlock(block, blockRows_);
        block->longValues.assign(blockRows_ * longColumnCount_, nullptr);
        while (block->rowCount < blockRows_ && nextRow_ < result.rows.size()) {
            const auto &row = result.rows[nextRow_++];
            for (size_t c = 0; c < columns_.size(); ++c)
                writeCell(columns_[c], row.at(c), *block);
            ++block->rowCount;
        }
        block->longValues.resize(block->rowCount * longColumnCount_);
        // A failure still to come is met by the next fetch, as on the wire.
        wireDone_ = nextRow_ == result.rows.size() && result.failure.empty();
        return Fetch::Rows;
    }

    Next advanceOnWire() override
    {
        ++index_;
        return arrive();
    }
    void closeWire() override { open_ = false; }
    bool wireOpen() const override { return open_; }

private:
    Next arrive()
    {
        resetDescription();
        nextRow_ = 0;
        if (index_ >= results_.size()) {
            open_ = false;
            return Next::End;
        }
        const MemoryResult &result = results_[index_];
        if (result.columns.empty() && !result.failure.empty()) {
            addPending(result.failure);
            return Next::Failed;
        }
        affectedRows_ = result.affectedRows;
        size_t offset = 0;
        for (ColumnDescription d : result.columns) {
            if (d.type.isLong)
                d.longIndex = int(longColumnCount_++);
            else
                offset = placeInRecord(d, offset, d.type.valueBytes);
            columns_.push_back(std::move(d));
        }
        rowSize_ = std::max<size_t>(offset, 8);
        return Next::Result;
    }

    void writeCell(const ColumnDescription &column, const MemoryValue &value, RowBlock &block) const
    {
        const size_t row = block.rowCount;
        if (column.longIndex >= 0) {
            if (value)
                block.longValues[row * longColumnCount_ + size_t(column.longIndex)] =
                    std::make_shared<const std::string>(*value);
            return;
        }
        unsigned char *base = block.data.get() + row * rowSize_;
        CellStatus status = value ? CellStatus::Ok : CellStatus::Null;
        const uint64_t length = value ? value->size() : 0;
        if (value) {
            const size_t kept = std::min(value->size(), column.type.valueBytes);
            if (kept < value->size())
                status = CellStatus::Truncated;
            std::memcpy(base + column.valueOffset, value->data(), kept);
        }
        std::memcpy(base + column.lengthOffset, &length, sizeof length);
        std::memcpy(base + column.statusOffset, &status, sizeof status);
    }

    std::vector<MemoryResult> results_;
    size_t blockRows_;
    size_t index_ = 0;
    size_t nextRow_ = 0;
    bool open_ = true;
};

class MemoryConnection final : public ServerConnection, public std::enable_shared_from_this<MemoryConnection> {
public:
    explicit MemoryConnection(std::shared_ptr<MemoryScript> script) : ServerConnection(0), script_(std::move(script)) {}

    HRESULT execute(const std::u16string &text, std::vector<ParameterValue> *parameters, long,
                    std::shared_ptr<ResultStream> &stream) override
    {
        stream.reset();
        makeIdle();
        script_->executions.push_back({text, parameters ? *parameters : std::vector<ParameterValue>{}});
        const auto answer = script_->answers.find(text);
        if (answer == script_->answers.end()) {
            addPendingDiagnostic(u"42000", u"No answer is scripted for: " + text);
            return executionFailureCode();
        }
        auto fresh = std::make_shared<MemoryResultStream>(shared_from_this(), answer->second, script_->blockRows);
        if (!fresh->start()) {
            const HRESULT hr = executionFailureCode();
            fresh->close();
            return hr;
        }
        fresh->becomeActive();
        stream = std::move(fresh);
        return S_OK;
    }

    bool beginTransaction(ISOLEVEL) override
    {
        if (!request(u"BEGIN"))
            return false;
        setInTransaction(true);
        return true;
    }

    bool endTransaction(bool commit, bool retaining) override
    {
        const bool ended = request(commit ? u"COMMIT" : u"ROLLBACK");
        if (!ended || !retaining)
            setInTransaction(false);
        return ended;
    }

    void abandonTransaction() override
    {
        if (inTransaction())
            script_->executions.push_back({u"ROLLBACK", {}});
        setInTransaction(false);
    }

private:
    bool request(std::u16string text)
    {
        makeIdle();
        script_->executions.push_back({std::move(text), {}});
        addPending(script_->transactionFailure);
        return script_->transactionFailure.empty();
    }

    std::shared_ptr<MemoryScript> script_;
};

class MemoryBackend final : public Backend {
public:
    explicit MemoryBackend(std::shared_ptr<MemoryScript> script) : script_(std::move(script)) {}

    std::shared_ptr<ServerConnection> connect(const ConnectionSettings &) override
    {
        if (!script_->connectFailure.empty()) {
            addPending(script_->connectFailure);
            return nullptr;
        }
        return std::make_shared<MemoryConnection>(script_);
    }

private:
    std::shared_ptr<MemoryScript> script_;
};

} // namespace

ColumnDescription memoryColumn(std::u16string name, std::u16string_view typeName, int maxLength)
{
    ColumnDescription column;
    column.name = std::move(name);
    column.type = typeOfServerTypeName(typeName, maxLength, 0, 0);
    return column;
}

MemoryValue utf16Value(std::u16string_view text)
{
    return std::string(reinterpret_cast<const char *>(text.data()), text.size() * sizeof(char16_t));
}

ParameterValue decimalParameter(const char *text, BYTE precision, BYTE scale)
{
    ParameterValue p = parameterOf(DBTYPE_NUMERIC, *numericFromText(text, precision, scale));
    p.precision = precision;
    p.scale = scale;
    return p;
}

size_t MemoryScript::runs(std::u16string_view text) const
{
    return size_t(std::count_if(executions.begin(), executions.end(),
                                [&](const MemoryExecution &e) { return e.text == text; }));
}

std::shared_ptr<Backend> makeMemoryBackend(std::shared_ptr<MemoryScript> script)
{
    return std::make_shared<MemoryBackend>(std::move(script));
}

} // namespace providertest
