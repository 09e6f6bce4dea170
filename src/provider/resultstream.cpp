#include "provider/resultstream.h"

namespace rz::provider {

ResultStream::ResultStream(std::shared_ptr<ServerConnection> connection) : connection_(std::move(connection)) {}

// A backend's destructor calls close() while its wire is still there.
ResultStream::~ResultStream() { releaseConnection(); }

void ResultStream::becomeActive() { connection_->setActive(shared_from_this()); }

void ResultStream::releaseConnection()
{
    if (connection_)
        connection_->clearActive(this);
}

void ResultStream::resetDescription()
{
    columns_.clear();
    rowSize_ = 0;
    longColumnCount_ = 0;
    wireDone_ = false;
    affectedRows_ = -1;
}

void ResultStream::prepareBlock(std::shared_ptr<RowBlock> &block, size_t rows) const
{
    if (!block || block.use_count() > 1 || block->capacityRows != rows) {
        block = std::make_shared<RowBlock>();
        block->data.reset(new unsigned char[rows * rowSize_]);
        block->capacityRows = rows;
    }
    block->rowCount = 0;
}

void ResultStream::addReader(int result) { ++readers_[result]; }

void ResultStream::removeReader(int result)
{
    auto it = readers_.find(result);
    if (it != readers_.end() && --it->second == 0) {
        readers_.erase(it);
        buffered_.erase(result);
    }
}

ResultStream::Fetch ResultStream::nextBlock(int result, std::shared_ptr<RowBlock> &block)
{
    if (auto it = buffered_.find(result); it != buffered_.end()) {
        Buffered &b = it->second;
        if (!b.blocks.empty()) {
            block = std::move(b.blocks.front());
            b.blocks.pop_front();
            return Fetch::Rows;
        }
        const bool failed = !b.failure.empty();
        for (auto &d : b.failure)
            addPendingDiagnostic(std::move(d));
        buffered_.erase(it);
        return failed ? Fetch::Failed : Fetch::End;
    }
    if (result != currentResult_ || detached_ || wireDone_ || columns_.empty() || !wireOpen())
        return Fetch::End;
    return fetchFromWire(block);
}

void ResultStream::bufferCurrentResult()
{
    if (columns_.empty() || wireDone_ || detached_ || !wireOpen() || !readers_.count(currentResult_))
        return;
    Buffered &buffered = buffered_[currentResult_];
    const size_t pendingBefore = pendingDiagnostics().size();
    while (!wireDone_) {
        std::shared_ptr<RowBlock> block;
        const Fetch r = fetchFromWire(block);
        if (r == Fetch::Rows) {
            buffered.blocks.push_back(std::move(block));
            continue;
        }
        if (r == Fetch::Failed) {
            // The failure belongs to the reader of these rows, not to the caller.
            auto all = takePendingDiagnostics();
            for (size_t i = 0; i < all.size(); ++i) {
                if (i < pendingBefore)
                    addPendingDiagnostic(std::move(all[i]));
                else
                    buffered.failure.push_back(std::move(all[i]));
            }
        }
        break;
    }
    wireDone_ = true;
}

ResultStream::Next ResultStream::nextResult()
{
    if (detached_ || !wireOpen()) {
        columns_.clear();
        return Next::End;
    }
    bufferCurrentResult();
    const Next next = advanceOnWire();
    ++currentResult_;
    if (next == Next::End) {
        columns_.clear();
        affectedRows_ = -1;
        releaseConnection();
    }
    return next;
}

void ResultStream::readRemainingIntoMemory()
{
    if (detached_ || !wireOpen())
        return;
    bufferCurrentResult();
    closeWire();
    detached_ = true;
    releaseConnection();
}

void ResultStream::close()
{
    closeWire();
    detached_ = true;
    buffered_.clear();
    releaseConnection();
}

} // namespace rz::provider
