#include "connection.h"

#include "errorreport.h"

#include <QtCore/QFileInfo>
#include <QtCore/QStringList>
#include <QtSql/QSqlError>

namespace rzsql {

const char *const connectionName = "rzsql";

namespace {

const char *const freetdsLibrary = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";

QString hostOrLocal(const ShellOptions &options)
{
    return options.host.isEmpty() ? QStringLiteral("127.0.0.1") : options.host;
}

// ODBC wants braces around values holding separators or outer blanks.
QString odbcValue(const QString &value)
{
    const bool plain = !value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('{'))
                       && !value.contains(QLatin1Char('}')) && value.trimmed() == value;
    if (plain)
        return value;
    QString escaped = value;
    escaped.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QLatin1Char('{') + escaped + QLatin1Char('}');
}

bool isServerDriver(const QString &driver)
{
    return driver == QLatin1String("REZUVEDOV") || driver == QLatin1String("QODBC")
           || driver == QLatin1String("QTDS");
}

} // namespace

QString odbcConnectionString(const ShellOptions &options)
{
    if (options.database.contains(QLatin1String("DRIVER="), Qt::CaseInsensitive)
        || options.database.contains(QLatin1String("DSN="), Qt::CaseInsensitive))
        return options.database;

    const QString driver = QFileInfo::exists(QString::fromLatin1(freetdsLibrary))
                               ? QString::fromLatin1(freetdsLibrary)
                               : QStringLiteral("{FreeTDS}");
    QStringList parts;
    parts << QStringLiteral("DRIVER=") + driver
          << QStringLiteral("SERVER=") + odbcValue(hostOrLocal(options))
          << QStringLiteral("PORT=%1").arg(options.port > 0 ? options.port : 1433);
    if (!options.database.isEmpty())
        parts << QStringLiteral("DATABASE=") + odbcValue(options.database);
    if (!options.user.isEmpty())
        parts << QStringLiteral("UID=") + odbcValue(options.user)
              << QStringLiteral("PWD=") + odbcValue(options.password);
    parts << QStringLiteral("TDS_Version=7.4") << QStringLiteral("ClientCharset=UTF-8");
    return parts.join(QLatin1Char(';'));
}

QString connectionLabel(const ShellOptions &options)
{
    if (!isServerDriver(options.driver) && options.host.isEmpty())
        return options.database;
    QString label = hostOrLocal(options);
    if (!options.database.isEmpty() && !options.database.contains(QLatin1Char('=')))
        label += QStringLiteral(", database ") + options.database;
    return label;
}

bool openConnection(const ShellOptions &options)
{
    if (!QSqlDatabase::isDriverAvailable(options.driver)) {
        printProblem(QStringLiteral("the Qt SQL driver \"%1\" cannot be loaded (available: %2)")
                         .arg(options.driver, QSqlDatabase::drivers().join(QStringLiteral(", "))));
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(options.driver, QString::fromLatin1(connectionName));
    if (options.driver == QLatin1String("QODBC")) {
        db.setDatabaseName(odbcConnectionString(options));
    } else if (options.driver == QLatin1String("QTDS")) {
        // db-lib reads the protocol version from the environment; FreeTDS
        // takes "host:port" as a server name.
        if (qEnvironmentVariableIsEmpty("TDSVER"))
            qputenv("TDSVER", "7.4");
        QString server = hostOrLocal(options);
        if (options.port > 0)
            server += QStringLiteral(":%1").arg(options.port);
        db.setHostName(server);
        db.setDatabaseName(options.database);
        db.setUserName(options.user);
        db.setPassword(options.password);
    } else {
        db.setHostName(isServerDriver(options.driver) ? hostOrLocal(options) : options.host);
        if (options.port > 0)
            db.setPort(options.port);
        db.setDatabaseName(options.database);
        db.setUserName(options.user);
        db.setPassword(options.password);
    }
    if (!options.connectOptions.isEmpty())
        db.setConnectOptions(options.connectOptions);

    if (!db.open()) {
        printError(QStringLiteral("cannot connect"), db.lastError());
        return false;
    }
    return true;
}

} // namespace rzsql
