#include "commands.h"

#include "bindvalues.h"
#include "connection.h"
#include "console.h"
#include "errorreport.h"
#include "qtcompat/qtcompat.h"

#include <QtCore/QRegularExpression>
#include <QtSql/QSqlField>
#include <QtSql/QSqlIndex>
#include <QtSql/QSqlRecord>

#include <algorithm>

namespace rzsql {

namespace {

const char *const helpText =
    "  \\tables             tables and views\n"
    "  \\d TABLE            a table's columns and primary key (\\d alone: \\tables)\n"
    "  \\bind V1 V2 ...     values for the '?' placeholders of the next batch\n"
    "  \\begin              start a transaction\n"
    "  \\commit             commit it\n"
    "  \\rollback           roll it back\n"
    "  \\timing [on|off]    time every batch\n"
    "  \\echo TEXT          print TEXT\n"
    "  \\q                  quit\n"
    "  GO [n]              (a line of its own) run the batch typed so far [n times]\n";

QSqlDatabase database()
{
    return QSqlDatabase::database(QString::fromLatin1(connectionName), false);
}

QSqlRecord textColumns(const QStringList &names)
{
    QSqlRecord record;
    for (const QString &name : names)
        record.append(rz::makeField(name, QMetaType::QString));
    return record;
}

bool listTables(ShellState &state)
{
    QSqlDatabase db = database();
    QVector<QPair<QString, QString>> entries;
    for (const QString &name : db.tables(QSql::Tables))
        entries.append({name, QStringLiteral("table")});
    for (const QString &name : db.tables(QSql::Views))
        entries.append({name, QStringLiteral("view")});
    std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) {
        const int byName = a.first.compare(b.first, Qt::CaseInsensitive);
        return byName != 0 ? byName < 0 : a.second < b.second;
    });
    state.writer->beginRows(textColumns({QStringLiteral("name"), QStringLiteral("type")}));
    for (const auto &entry : entries)
        state.writer->addRow({entry.first, entry.second});
    state.writer->endRows(entries.size());
    return true;
}

QString requiredText(QSqlField::RequiredStatus status)
{
    switch (status) {
    case QSqlField::Required: return QStringLiteral("NO");
    case QSqlField::Optional: return QStringLiteral("YES");
    case QSqlField::Unknown: break;
    }
    return QStringLiteral("?");
}

bool describeTable(const QString &table, ShellState &state)
{
    QSqlDatabase db = database();
    const QSqlRecord record = db.record(table);
    if (record.isEmpty()) {
        printProblem(QStringLiteral("no table or view named \"%1\"").arg(table));
        return false;
    }
    state.writer->beginRows(textColumns({QStringLiteral("column"), QStringLiteral("type"),
                                         QStringLiteral("length"), QStringLiteral("precision"),
                                         QStringLiteral("nullable"), QStringLiteral("identity")}));
    for (int i = 0; i < record.count(); ++i) {
        const QSqlField field = record.field(i);
        auto number = [](int n) { return n < 0 ? QVariant() : QVariant(QString::number(n)); };
        state.writer->addRow({field.name(), rz::typeName(rz::typeId(field)),
                              number(field.length()), number(field.precision()),
                              requiredText(field.requiredStatus()),
                              field.isAutoValue() ? QStringLiteral("YES") : QStringLiteral("NO")});
    }
    state.writer->endRows(record.count());

    const QSqlIndex key = db.primaryIndex(table);
    if (key.isEmpty()) {
        writeOut(QStringLiteral("No primary key.\n"));
    } else {
        QStringList columns;
        for (int i = 0; i < key.count(); ++i)
            columns << key.fieldName(i);
        // Drivers differ in what they call the index (a constraint, a column,
        // nothing), so only its columns are shown, in the driver's order.
        writeOut(QStringLiteral("Primary key: %1\n").arg(columns.join(QStringLiteral(", "))));
    }
    return true;
}

bool bindNext(const QString &arguments, ShellState &state)
{
    QStringList words;
    if (!splitWords(arguments, words)) {
        printProblem(QStringLiteral("\\bind: a quote is not closed"));
        return false;
    }
    QVector<QVariant> values;
    for (const QString &word : words) {
        QVariant value;
        QString problem;
        if (!parseBindValue(word, value, problem)) {
            printProblem(QStringLiteral("\\bind: ") + problem);
            return false;
        }
        values << value;
    }
    state.bindForNextBatch = values;
    state.nextBatchBound = true;
    return true;
}

bool transactionStep(const QString &step)
{
    QSqlDatabase db = database();
    bool ok = false;
    QString done;
    if (step == QLatin1String("begin")) {
        ok = db.transaction();
        done = QStringLiteral("Transaction started.");
    } else if (step == QLatin1String("commit")) {
        ok = db.commit();
        done = QStringLiteral("Transaction committed.");
    } else {
        ok = db.rollback();
        done = QStringLiteral("Transaction rolled back.");
    }
    if (ok)
        writeOut(done + QLatin1Char('\n'));
    else
        printError(QStringLiteral("\\%1 failed").arg(step), db.lastError());
    return ok;
}

bool setTiming(const QString &argument, ShellState &state)
{
    if (argument.isEmpty())
        state.timing = !state.timing;
    else if (argument == QLatin1String("on") || argument == QLatin1String("off"))
        state.timing = argument == QLatin1String("on");
    else {
        printProblem(QStringLiteral("\\timing takes on or off"));
        return false;
    }
    writeOut(state.timing ? QStringLiteral("Timing is on.\n") : QStringLiteral("Timing is off.\n"));
    return true;
}

} // namespace

bool runCommand(const InputItem &command, ShellState &state)
{
    const QString text = command.text.mid(1); // without the backslash
    const int blank = text.indexOf(QRegularExpression(QStringLiteral("\\s")));
    const QString name = blank < 0 ? text : text.left(blank);
    const QString arguments = blank < 0 ? QString() : text.mid(blank + 1).trimmed();

    if (name == QLatin1String("tables") || (name == QLatin1String("d") && arguments.isEmpty()))
        return listTables(state);
    if (name == QLatin1String("d"))
        return describeTable(arguments, state);
    if (name == QLatin1String("bind"))
        return bindNext(arguments, state);
    if (name == QLatin1String("begin") || name == QLatin1String("commit") || name == QLatin1String("rollback"))
        return transactionStep(name);
    if (name == QLatin1String("timing"))
        return setTiming(arguments, state);
    if (name == QLatin1String("echo")) {
        writeOut(arguments + QLatin1Char('\n'));
        return true;
    }
    if (name == QLatin1String("q") || name == QLatin1String("quit")) {
        state.quitRequested = true;
        return true;
    }
    if (name == QLatin1String("?") || name == QLatin1String("help")) {
        writeOut(QString::fromLatin1(helpText));
        return true;
    }
    printProblem(QStringLiteral("unknown command \\%1 (\\? lists the commands)").arg(name));
    return false;
}

} // namespace rzsql
