#include "batchrunner.h"

#include "connection.h"
#include "console.h"
#include "errorreport.h"
#include "progressline.h"
#include "sqltext.h"

#include <QtCore/QElapsedTimer>
#include <QtSql/QSqlDriver>
#include <QtSql/QSqlQuery>
#include <QtSql/QSqlRecord>

namespace rzsql {

namespace {

QString where(const InputItem &batch)
{
    return batch.firstLine > 0 ? QStringLiteral("the batch at line %1").arg(batch.firstLine)
                               : QStringLiteral("the batch");
}

bool readRows(QSqlQuery &query, ResultWriter &writer, const InputItem &batch, ProgressLine &progress)
{
    const QSqlRecord record = query.record();
    writer.beginRows(record);
    qint64 rows = 0;
    QVector<QVariant> values(record.count());
    while (query.next()) {
        for (int i = 0; i < values.size(); ++i)
            values[i] = query.value(i);
        writer.addRow(values);
        progress.setRowsRead(++rows);
    }
    progress.stop();
    writer.endRows(rows);
    if (query.lastError().isValid()) {
        printError(QStringLiteral("reading the rows of %1 failed").arg(where(batch)), query.lastError());
        return false;
    }
    return true;
}

bool execute(QSqlQuery &query, const InputItem &batch, ShellState &state)
{
    const int placeholders = countPlaceholders(batch.text);
    const QVector<QVariant> &values = state.nextBatchBound ? state.bindForNextBatch : state.bindForEveryBatch;
    const bool bind = state.nextBatchBound || (placeholders > 0 && !values.isEmpty());
    if (!bind)
        return query.exec(batch.text);

    if (values.size() != placeholders) {
        printProblem(QStringLiteral("%1 has %2 placeholder(s) '?' but %3 value(s) are bound")
                         .arg(where(batch))
                         .arg(placeholders)
                         .arg(values.size()));
        return false;
    }
    if (!query.prepare(batch.text))
        return false;
    for (const QVariant &value : values)
        query.addBindValue(value);
    return query.exec();
}

} // namespace

bool runBatch(const InputItem &batch, ShellState &state)
{
    if (state.echo)
        writeOut(batch.text + QLatin1Char('\n'));

    QSqlDatabase db = QSqlDatabase::database(QString::fromLatin1(connectionName), false);
    const bool severalResults = db.driver()->hasFeature(QSqlDriver::MultipleResultSets);
    QElapsedTimer timer;
    timer.start();
    bool ok = true;
    for (int run = 0; ok && run < batch.repeat; ++run) {
        QSqlQuery query(db);
        // Rows are read once, front to back: no scrollable cursor is needed.
        query.setForwardOnly(true);
        // Rows written as they come to a terminal show progress themselves.
        ProgressLine progress(!(state.writer->writesRowsAtOnce() && stdoutIsTerminal()));
        if (!execute(query, batch, state)) {
            progress.stop();
            if (query.lastError().isValid())
                printError(QStringLiteral("%1 failed").arg(where(batch)), query.lastError());
            ok = false;
            break;
        }
        for (;;) {
            if (query.isSelect()) {
                if (!readRows(query, *state.writer, batch, progress)) {
                    ok = false;
                    break;
                }
            } else {
                progress.stop();
                state.writer->statementDone(query.numRowsAffected());
            }
            if (!severalResults)
                break;
            if (!query.nextResult()) {
                // A later statement of the batch can fail after earlier ones ran.
                if (query.lastError().isValid()) {
                    printError(QStringLiteral("%1 failed").arg(where(batch)), query.lastError());
                    ok = false;
                }
                break;
            }
        }
    }
    state.nextBatchBound = false;
    state.bindForNextBatch.clear();
    if (state.timing)
        writeOut(QStringLiteral("Time: %1 ms\n").arg(double(timer.nsecsElapsed()) / 1e6, 0, 'f', 3));
    if (state.echo)
        writeOut(QStringLiteral("\n"));
    return ok;
}

} // namespace rzsql
