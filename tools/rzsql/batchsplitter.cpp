#include "batchsplitter.h"

#include "sqltext.h"

#include <QtCore/QRegularExpression>

namespace rzsql {

namespace {

// -1 when the line is not a batch separator, else how often to run the batch.
int separatorRepeat(const QString &line)
{
    static const QRegularExpression go(QStringLiteral("^\\s*go(?:\\s+(\\d+))?\\s*$"),
                                       QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = go.match(line);
    if (!m.hasMatch())
        return -1;
    if (m.capturedLength(1) == 0)
        return 1;
    bool ok = false;
    const int n = m.captured(1).toInt(&ok);
    return ok ? n : -1;
}

} // namespace

BatchSplitter::BatchSplitter(bool semicolonEndsBatch)
    : semicolonEndsBatch(semicolonEndsBatch)
{
}

void BatchSplitter::discardPending()
{
    pending.clear();
    pendingLineCount = 0;
}

bool BatchSplitter::takePending(InputItem &item, int repeat)
{
    const bool blank = pending.trimmed().isEmpty();
    item.kind = InputItem::Kind::Sql;
    item.text = pending;
    item.repeat = repeat;
    item.firstLine = pendingFirstLine;
    discardPending();
    return !blank;
}

QVector<InputItem> BatchSplitter::addLine(const QString &line)
{
    ++lineNumber;
    QVector<InputItem> done;
    InputItem item;

    const int repeat = separatorRepeat(line);
    if (repeat >= 0) {
        if (takePending(item, repeat) && repeat > 0)
            done.append(item);
        return done;
    }
    // Commands run as soon as they are read, even between the lines of a
    // batch (no T-SQL line starts with a backslash).
    if (line.trimmed().startsWith(QLatin1Char('\\'))) {
        item.kind = InputItem::Kind::Command;
        item.text = line.trimmed();
        item.firstLine = lineNumber;
        done.append(item);
        return done;
    }
    if (!hasPending()) {
        if (line.trimmed().isEmpty())
            return done; // blank lines between batches belong to no batch
        pendingFirstLine = lineNumber;
    } else {
        pending += QLatin1Char('\n');
    }
    pending += line;
    ++pendingLineCount;
    if (semicolonEndsBatch && endsWithTerminator(pending) && takePending(item, 1))
        done.append(item);
    return done;
}

QVector<InputItem> BatchSplitter::finish()
{
    QVector<InputItem> done;
    InputItem item;
    if (takePending(item, 1))
        done.append(item);
    return done;
}

} // namespace rzsql
