#pragma once
// Process-wide state of the plug-in: the OLE DB provider chosen when the
// plug-in object was created, the host that last accepted a connection, and
// Windows Sockets for the reachability probe.

#include <QtCore/QMutex>
#include <QtCore/QObject>
#include <QtCore/QString>

class OLEDBManager : public QObject
{
    Q_OBJECT
public:
    // The one manager of the process, created on first use; null once it has
    // been destroyed at process exit or library unload.
    static OLEDBManager *instance();

    OLEDBManager();
    ~OLEDBManager() override;

    // True when something accepts a TCP connection on port 1433 of the dotted
    // IPv4 address `host` within half a second (or no socket could be made).
    bool isServerReachable(const QString &host);

    // Both strings are written from whichever thread opens a connection; the
    // mutex only keeps the QString copies themselves well-defined.
    QString providerName() const;
    void setProviderName(const QString &name);
    QString lastConnectedHost() const;
    void setLastConnectedHost(const QString &host);

private:
    mutable QMutex mutex;
    QString provider;
    QString lastHost;
};
