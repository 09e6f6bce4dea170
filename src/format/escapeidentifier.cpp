// Identifiers quoted for SQL Server, each dotted part on its own.

#include "driver/rezuvedovdriver.h"

QString REzuVEDOVDriver::escapeIdentifier(const QString &identifier, IdentifierType) const
{
    QString result = identifier;
    const QChar quote = QLatin1Char('"');
    // One quote at either end means the caller escaped it already.
    if (result.isEmpty() || result.startsWith(quote) || result.endsWith(quote))
        return result;
    result.replace(quote, QLatin1String("\"\""));
    result.prepend(quote);
    result.append(quote);
    // Quotes were doubled first, so the ones added here stay single.
    result.replace(QLatin1Char('.'), QLatin1String("\".\""));
    return result;
}
