// Results as aligned tables:
//
//    id | name
//   ----+------
//     1 | Ada
//   (1 row)
#include "resultwriter.h"

#include "console.h"
#include "qtcompat/qtcompat.h"
#include "valuetext.h"

#include <QtSql/QSqlField>

namespace rzsql {

namespace {

// A line break or tab inside a value would break the columns.
QString cellText(const QVariant &value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    QString text = valueText(value);
    text.replace(QLatin1String("\r\n"), QLatin1String("\\n"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    text.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    return text;
}

// The last column is not padded: no trailing blanks on any line.
QString tableLine(const QStringList &cells, const QString &separator)
{
    QString line = QLatin1Char(' ') + cells.join(separator);
    int end = line.size();
    while (end > 0 && line.at(end - 1) == QLatin1Char(' '))
        --end;
    line.truncate(end);
    return line + QLatin1Char('\n');
}

QString rowCountText(qint64 count)
{
    return count == 1 ? QStringLiteral("(1 row)\n") : QStringLiteral("(%1 rows)\n").arg(count);
}

class TableWriter : public ResultWriter {
public:
    bool writesRowsAtOnce() const override { return false; }

    void beginRows(const QSqlRecord &columns) override
    {
        names.clear();
        rightAligned.clear();
        rows.clear();
        for (int i = 0; i < columns.count(); ++i) {
            names << columns.fieldName(i);
            rightAligned << isNumericType(rz::typeId(columns.field(i)));
        }
    }

    void addRow(const QVector<QVariant> &values) override
    {
        QStringList cells;
        cells.reserve(values.size());
        for (const QVariant &v : values)
            cells << cellText(v);
        rows << cells;
    }

    void endRows(qint64 rowCount) override
    {
        QVector<int> widths;
        for (const QString &name : names)
            widths << name.size();
        for (const QStringList &row : rows)
            for (int i = 0; i < row.size() && i < widths.size(); ++i)
                widths[i] = qMax(widths[i], row.at(i).size());

        QString out;
        QStringList header;
        QStringList rule;
        for (int i = 0; i < names.size(); ++i) {
            header << names.at(i).leftJustified(widths.at(i));
            rule << QString(widths.at(i), QLatin1Char('-'));
        }
        out += tableLine(header, QStringLiteral(" | "));
        out += QLatin1Char('-') + rule.join(QStringLiteral("-+-")) + QStringLiteral("-\n");
        writeOut(out);
        for (const QStringList &row : rows) {
            QStringList cells;
            for (int i = 0; i < row.size(); ++i)
                cells << (rightAligned.value(i) ? row.at(i).rightJustified(widths.at(i))
                                                : row.at(i).leftJustified(widths.at(i)));
            writeOut(tableLine(cells, QStringLiteral(" | ")));
        }
        writeOut(rowCountText(rowCount));
        rows.clear();
    }

    void statementDone(int rowsAffected) override
    {
        if (rowsAffected >= 0)
            writeOut(rowsAffected == 1 ? QStringLiteral("(1 row affected)\n")
                                       : QStringLiteral("(%1 rows affected)\n").arg(rowsAffected));
        else
            writeOut(QStringLiteral("Done.\n"));
    }

private:
    QStringList names;
    QVector<bool> rightAligned;
    QVector<QStringList> rows;
};

} // namespace

std::unique_ptr<ResultWriter> makeTableWriter()
{
    return std::make_unique<TableWriter>();
}

} // namespace rzsql
