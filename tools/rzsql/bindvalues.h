#pragma once
// Values for "?" placeholders as a user writes them: plain text, or
// TYPE:VALUE (int, float, str, bool, date, time, datetime, hex) or the word
// null; and the splitting of a "\bind" line into values.

#include <QtCore/QStringList>
#include <QtCore/QVariant>

namespace rzsql {

// Returns false and sets problem when a typed value does not parse.
bool parseBindValue(const QString &text, QVariant &value, QString &problem);

// Splits at blanks; 'single' or "double" quotes keep blanks (a doubled quote
// inside stands for itself). Returns false on an unclosed quote.
bool splitWords(const QString &line, QStringList &words);

} // namespace rzsql
