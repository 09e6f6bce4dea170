#include "driver/connectionoptions.h"

ConnectionOptions parseConnectionOptions(const QString &options)
{
    ConnectionOptions result;
    const QStringList items = options.split(QLatin1Char(';'), Qt::KeepEmptyParts);
    for (const QString &item : items) {
        const QString key = item.toLower().trimmed();
        const auto valueAfterEquals = [&key] { return key.mid(key.indexOf(QLatin1Char('=')) + 1); };
        if (key.startsWith(QLatin1String("provider=")))
            result.provider = valueAfterEquals();
        else if (key.startsWith(QLatin1String("failover partner=")))
            result.failoverPartner = valueAfterEquals();
        else if (key.startsWith(QLatin1String("big query=")))
            result.bigQuery = true;
        else if (key.startsWith(QLatin1String("enable mirroring=")))
            continue;
        else
            result.failoverPartner = item; // a bare address, exactly as written
    }
    return result;
}

QStringList hostsToTry(const QString &host, const QString &failoverPartner,
                       const QString &lastConnectedHost)
{
    QStringList hosts{host};
    if (failoverPartner.isEmpty())
        return hosts;
    hosts.append(failoverPartner);
    if (hosts.contains(lastConnectedHost)) {
        hosts.removeAll(lastConnectedHost);
        hosts.prepend(lastConnectedHost);
    }
    return hosts;
}
