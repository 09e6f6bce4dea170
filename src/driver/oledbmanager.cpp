#include "driver/oledbmanager.h"

#include "platform/sdk/winsock.h"

#include <QtCore/QMutexLocker>

Q_GLOBAL_STATIC(OLEDBManager, globalManager)

OLEDBManager *OLEDBManager::instance()
{
    return globalManager();
}

OLEDBManager::OLEDBManager()
{
    WSADATA data;
    WSAStartup(0x0202, &data);
}

OLEDBManager::~OLEDBManager()
{
    WSACleanup();
}

QString OLEDBManager::providerName() const
{
    QMutexLocker lock(&mutex);
    return provider;
}

void OLEDBManager::setProviderName(const QString &name)
{
    QMutexLocker lock(&mutex);
    provider = name;
}

QString OLEDBManager::lastConnectedHost() const
{
    QMutexLocker lock(&mutex);
    return lastHost;
}

void OLEDBManager::setLastConnectedHost(const QString &host)
{
    QMutexLocker lock(&mutex);
    lastHost = host;
}
