#include "provider/objects/multipleresults.h"

#include "platform/com/comobject.h"
#include "provider/diagnostics/errors.h"
#include "provider/objects/supporterrorinfo.h"

namespace rz::provider {

namespace {

class MultipleResults final : public rz::ComObject<IMultipleResults, ISupportErrorInfo> {
public:
    MultipleResults(std::shared_ptr<ResultStream> stream, rz::ComPtr<IUnknown> command, const RowsetOptions &options,
                    Reexecute reexecute)
        : stream_(std::move(stream)), command_(std::move(command)), options_(options), reexecute_(std::move(reexecute))
    {
    }

    HRESULT GetResult(IUnknown *outer, DBRESULTFLAG flag, REFIID iid, DBROWCOUNT *rowsAffected, IUnknown **rowset) override
    {
        beginCall();
        if (rowset)
            *rowset = nullptr;
        if (rowsAffected)
            *rowsAffected = -1; // DB_COUNTUNAVAILABLE
        if (outer && iid != IID_IUnknown)
            return DB_E_NOAGGREGATION;
        if (flag != DBRESULTFLAG_DEFAULT && flag != DBRESULTFLAG_ROWSET)
            return E_INVALIDARG;
        if (!first_) {
            switch (stream_->nextResult()) {
            case ResultStream::Next::Result: break;
            case ResultStream::Next::End: return DB_S_NORESULT;
            case ResultStream::Next::Failed: return reportFailure(executionFailureCode(), IID_IMultipleResults);
            }
        }
        first_ = false;
        if (rowsAffected)
            *rowsAffected = stream_->affectedRows();
        if (!stream_->hasColumns() || iid == IID_NULL || !rowset)
            return S_OK;
        // Only the first result can be produced again by running the statement.
        Reexecute again = stream_->currentResult() == 0 ? reexecute_ : Reexecute();
        const HRESULT hr = openRowset(stream_, command_, options_, std::move(again), iid, rowset);
        return FAILED(hr) ? passOnFailure(hr, IID_IMultipleResults) : S_OK;
    }

    HRESULT InterfaceSupportsErrorInfo(REFIID iid) override { return supportsErrorInfo(iid, {&IID_IMultipleResults}); }

private:
    std::shared_ptr<ResultStream> stream_;
    rz::ComPtr<IUnknown> command_;
    RowsetOptions options_;
    Reexecute reexecute_;
    bool first_ = true;
};

} // namespace

HRESULT createMultipleResults(std::shared_ptr<ResultStream> stream, rz::ComPtr<IUnknown> command,
                              const RowsetOptions &options, Reexecute reexecute, IUnknown **object)
{
    auto results = rz::ComPtr<IMultipleResults>::adopt(
        new (std::nothrow) MultipleResults(std::move(stream), std::move(command), options, std::move(reexecute)));
    if (!results)
        return E_OUTOFMEMORY;
    *object = results.detach();
    return S_OK;
}

} // namespace rz::provider
