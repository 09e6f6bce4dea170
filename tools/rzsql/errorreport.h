#pragma once
// Failures as the driver reports them: its driver text, database text and
// error type, each on its own line, on standard error.

#include <QtSql/QSqlError>

namespace rzsql {

QString errorTypeName(QSqlError::ErrorType type);
void printError(const QString &what, const QSqlError &error);
void printProblem(const QString &text); // rzsql's own complaints

} // namespace rzsql
