#pragma once
// Cuts input lines into what rzsql runs: SQL batches, ended by a line holding
// only GO (optionally "GO n" to run the batch n times) as SQL Server's tools
// do, and backslash commands, which take one line of their own and run as
// soon as they are read.

#include <QtCore/QString>
#include <QtCore/QVector>

namespace rzsql {

struct InputItem {
    enum class Kind { Sql, Command };
    Kind kind = Kind::Sql;
    QString text;
    int repeat = 1;   // "GO n"
    int firstLine = 0; // 1-based line of the input where the item starts
};

class BatchSplitter {
public:
    // With semicolonEndsBatch (the interactive prompt) a line that ends with
    // ";" also runs what was typed so far.
    explicit BatchSplitter(bool semicolonEndsBatch = false);

    // One line of input without its line break; returns what it completes.
    QVector<InputItem> addLine(const QString &line);
    // End of input: the text still pending, if it holds anything but blanks.
    QVector<InputItem> finish();

    bool hasPending() const { return !pending.isEmpty(); }
    int pendingLines() const { return pendingLineCount; }
    void discardPending();

private:
    bool takePending(InputItem &item, int repeat);

    bool semicolonEndsBatch;
    QString pending;
    int pendingLineCount = 0;
    int pendingFirstLine = 0;
    int lineNumber = 0;
};

} // namespace rzsql
