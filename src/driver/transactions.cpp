#include "driver/rezuvedovdriver.h"

#include "driver/errors.h"
#include "driver/rezuvedovdriver_p.h"

namespace {

// Only S_OK counts: a positive code such as S_FALSE means the provider did
// not do what was asked.
bool isDone(HRESULT hr, const void *transaction)
{
    return hr == S_OK && transaction;
}

// The provider's text for a failed call on `transaction`; "Critical Error"
// when the interface could not even be had.
QSqlError transactionError(IUnknown *transaction)
{
    return qMakeError(qOLEDBErrorText(transaction, IID_ITransaction), QSqlError::TransactionError);
}

// Commits or aborts through the session's ITransaction; on failure `error`
// gets what to report.
template <class End>
bool endTransaction(IOpenRowset *session, QSqlError *error, End end)
{
    rz::ComPtr<ITransaction> transaction;
    HRESULT hr = session->QueryInterface(IID_ITransaction, transaction.putVoid());
    if (isDone(hr, transaction.get()))
        hr = end(transaction.get());
    if (isDone(hr, transaction.get()))
        return true;
    *error = transactionError(transaction.get());
    return false;
}

} // namespace

bool REzuVEDOVDriver::beginTransaction()
{
    if (!isOpen() || !d->session)
        return false;
    rz::ComPtr<ITransactionLocal> transaction;
    HRESULT hr = d->session.query(IID_ITransactionLocal, transaction);
    if (isDone(hr, transaction.get()))
        hr = transaction->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr);
    if (!isDone(hr, transaction.get())) {
        setLastError(transactionError(transaction.get()));
        return false;
    }
    return true;
}

bool REzuVEDOVDriver::commitTransaction()
{
    if (!isOpen())
        return false;
    if (!d->session)
        return true;
    QSqlError error;
    if (endTransaction(d->session.get(), &error, [](ITransaction *transaction) {
            return transaction->Commit(FALSE, XACTTC_SYNC, 0);
        }))
        return true;
    setLastError(error);
    return false;
}

bool REzuVEDOVDriver::rollbackTransaction()
{
    if (!isOpen())
        return false;
    if (!d->session)
        return true;
    QSqlError error;
    if (endTransaction(d->session.get(), &error, [](ITransaction *transaction) {
            return transaction->Abort(nullptr, FALSE, FALSE);
        }))
        return true;
    setLastError(error);
    return false;
}
