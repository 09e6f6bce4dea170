#include "driver/rezuvedovdriver.h"

#include "driver/connectionoptions.h"
#include "driver/datasource.h"
#include "driver/errors.h"
#include "driver/rezuvedovdriver_p.h"
#include "driver/oledbmanager.h"

bool REzuVEDOVDriver::open(const QString &db, const QString &user, const QString &password,
                           const QString &host, int /*port: the probe and the provider use 1433*/,
                           const QString &connOpts)
{
    if (isOpen())
        close();

    const ConnectionOptions options = parseConnectionOptions(connOpts);
    if (options.bigQuery)
        d->useRowsetProperties = false;

    OLEDBManager *manager = OLEDBManager::instance();
    QString provider = options.provider;
    if (provider.isEmpty() && manager)
        provider = manager->providerName();
    if (provider.isEmpty())
        provider = QStringLiteral("SQLOLEDB");

    const QStringList hosts = hostsToTry(host, options.failoverPartner,
                                         manager ? manager->lastConnectedHost() : QString());
    for (const QString &hostText : hosts) {
        if (manager && !manager->isServerReachable(hostText)) {
            setLastError(qMakeError(tr("SQL Server might be offline"), QSqlError::ConnectionError));
            continue;
        }

        RealConnectResult attempt = realConnect(db, user, password, hostText, provider);
        if (attempt.hr < 0) {
            // Without a data source object there are no error records to read.
            const QString text = attempt.dataSource
                ? qOLEDBErrorText(attempt.dataSource.get(), IID_IDBInitialize)
                : qSystemMessage(attempt.hr);
            setLastError(qMakeError(text, QSqlError::ConnectionError));
            continue;
        }
        if (attempt.hr > 0)
            continue; // a success code other than S_OK is not a login

        d->dataSource = std::move(attempt.dataSource);
        if (manager)
            manager->setLastConnectedHost(hostText);

        rz::ComPtr<IDBCreateSession> sessionFactory;
        HRESULT hr = d->dataSource.query(IID_IDBCreateSession, sessionFactory);
        if (SUCCEEDED(hr) && sessionFactory)
            hr = sessionFactory->CreateSession(nullptr, IID_IOpenRowset, d->session.putUnknown());
        if (hr == E_FAIL || !d->session) {
            setLastError(qMakeError(qOLEDBErrorText(d->dataSource.get(), IID_IDBInitialize),
                                    QSqlError::ConnectionError));
            return false;
        }
        setOpen(true);
        setOpenError(false);
        return true;
    }
    return false;
}

void REzuVEDOVDriver::close()
{
    if (!isOpen())
        return;
    try {
        setOpen(false);
        d->session.reset();
        d->dataSource.reset();
        setOpenError(true);
    } catch (const _com_error &) {
        // Giving a connection up never fails in a way the caller could act on.
    }
}
