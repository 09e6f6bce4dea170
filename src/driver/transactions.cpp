#include "driver/rezuvedovdriver.h"

#include "driver/errors.h"
#include "driver/rezuvedovdriver_p.h"

namespace {

// Runs one call on the session's transaction interface `Interface`; S_OK is
// the only success. On failure `fail` receives the provider's text, read from
// the interface the call went through ("Critical Error" if there was none).
template <class Interface, class Call, class Fail>
bool onTransaction(const rz::ComPtr<IOpenRowset> &session, REFIID iid, Call call, Fail fail)
{
    rz::ComPtr<Interface> transaction;
    HRESULT hr = session.query(iid, transaction);
    if (hr == S_OK && transaction)
        hr = call(transaction.get());
    else if (hr == S_OK)
        hr = E_NOINTERFACE;
    if (hr != S_OK)
        fail(qOLEDBErrorText(transaction.get(), IID_ITransaction));
    return hr == S_OK;
}

} // namespace

bool REzuVEDOVDriver::beginTransaction()
{
    if (!isOpen() || !d->session)
        return false;
    return onTransaction<ITransactionLocal>(
        d->session, IID_ITransactionLocal,
        [](ITransactionLocal *t) {
            return t->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr);
        },
        [this](const QString &text) { setLastError(qMakeError(text, QSqlError::TransactionError)); });
}

bool REzuVEDOVDriver::commitTransaction()
{
    if (!isOpen())
        return false;
    if (!d->session)
        return true;
    return onTransaction<ITransaction>(
        d->session, IID_ITransaction,
        [](ITransaction *t) { return t->Commit(FALSE, XACTTC_SYNC, 0); },
        [this](const QString &text) { setLastError(qMakeError(text, QSqlError::TransactionError)); });
}

bool REzuVEDOVDriver::rollbackTransaction()
{
    if (!isOpen())
        return false;
    if (!d->session)
        return true;
    return onTransaction<ITransaction>(
        d->session, IID_ITransaction,
        [](ITransaction *t) { return t->Abort(nullptr, FALSE, FALSE); },
        [this](const QString &text) { setLastError(qMakeError(text, QSqlError::TransactionError)); });
}
