#include "errorreport.h"

#include "console.h"

namespace rzsql {

QString errorTypeName(QSqlError::ErrorType type)
{
    switch (type) {
    case QSqlError::NoError: return QStringLiteral("NoError");
    case QSqlError::ConnectionError: return QStringLiteral("ConnectionError");
    case QSqlError::StatementError: return QStringLiteral("StatementError");
    case QSqlError::TransactionError: return QStringLiteral("TransactionError");
    case QSqlError::UnknownError: return QStringLiteral("UnknownError");
    }
    return QStringLiteral("error type %1").arg(int(type));
}

void printError(const QString &what, const QSqlError &error)
{
    QString text = QStringLiteral("rzsql: %1: %2\n").arg(what, errorTypeName(error.type()));
    text += QStringLiteral("  driver text:   %1\n").arg(error.driverText());
    text += QStringLiteral("  database text: %1\n").arg(error.databaseText());
    if (!error.nativeErrorCode().isEmpty())
        text += QStringLiteral("  native code:   %1\n").arg(error.nativeErrorCode());
    writeErr(text);
}

void printProblem(const QString &text)
{
    writeErr(QStringLiteral("rzsql: %1\n").arg(text));
}

} // namespace rzsql
