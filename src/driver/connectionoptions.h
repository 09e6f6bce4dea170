#pragma once
// The connection-options string of open() and the list of hosts one open()
// tries, kept apart from the connecting itself so both read as plain rules.

#include <QtCore/QString>
#include <QtCore/QStringList>

struct ConnectionOptions
{
    QString provider;        // lower-cased value of "provider=", or empty
    QString failoverPartner; // from "failover partner=" or any unknown item
    bool bigQuery = false;   // any "big query=" item was present
};

// Splits `options` at ";" (empty items kept) and applies each item in turn;
// keys match case-insensitively after trimming, later items win.
ConnectionOptions parseConnectionOptions(const QString &options);

// `host`, then the failover partner when there is one; with a partner, the
// host that last accepted a connection in this process is moved to the front.
QStringList hostsToTry(const QString &host, const QString &failoverPartner,
                       const QString &lastConnectedHost);
