// Results as CSV: a header line of column names, then one line per row.
// NULL is an empty field; an empty string is "" so the two stay apart.
#include "resultwriter.h"

#include "console.h"
#include "valuetext.h"

namespace rzsql {

namespace {

QString csvField(const QString &text)
{
    const bool quote = text.isEmpty() || text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"'))
                       || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    if (!quote)
        return text;
    QString escaped = text;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

class CsvWriter : public ResultWriter {
public:
    bool writesRowsAtOnce() const override { return true; }

    void beginRows(const QSqlRecord &columns) override
    {
        if (resultSets++ > 0)
            writeOut(QStringLiteral("\n")); // a blank line between result sets
        QStringList names;
        for (int i = 0; i < columns.count(); ++i)
            names << csvField(columns.fieldName(i));
        writeOut(names.join(QLatin1Char(',')) + QLatin1Char('\n'));
    }

    void addRow(const QVector<QVariant> &values) override
    {
        QStringList fields;
        for (const QVariant &v : values)
            fields << (v.isNull() ? QString() : csvField(valueText(v)));
        writeOut(fields.join(QLatin1Char(',')) + QLatin1Char('\n'));
    }

    void endRows(qint64) override {}
    void statementDone(int) override {}

private:
    int resultSets = 0;
};

} // namespace

std::unique_ptr<ResultWriter> makeCsvWriter()
{
    return std::make_unique<CsvWriter>();
}

} // namespace rzsql
