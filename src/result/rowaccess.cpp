// Moving through the rows of a result and turning column values into
// QVariants, one row cached at a time.

#include "result/rezuvedovresult.h"

#include "common/bytes.h"
#include "driver/errors.h"
#include "qtcompat/qtcompat.h"
#include "result/columnvalues.h"
#include "result/numericconversion.h"
#include "result/rezuvedovresult_p.h"
#include "qtcompat/oletext.h"

#include <QtCore/QDateTime>
#include <QtCore/QDebug>

namespace {

QDateTime localDateTime(const QDate &date, const QTime &time)
{
    return QDateTime(date, time, Qt::LocalTime);
}

} // namespace

void REzuVEDOVResult::reportFetchError()
{
    setLastError(qMakeError(qOLEDBErrorText(d->command.rowsetInterface(), IID_IRowset),
                            QSqlError::TransactionError));
}

void REzuVEDOVResult::clearRowCache()
{
    // Only the converted values need clearing: the rest are null already.
    QVariant *values = d->rowCache.data();
    for (int j = 0; j < d->cachedColumnCount; ++j)
        values[j].clear();
    d->cachedColumnCount = 0;
}

bool REzuVEDOVResult::fetchNext()
{
    clearRowCache();
    const HRESULT hr = d->command.moveNext(0, true);
    if (FAILED(hr)) {
        reportFetchError();
        return false;
    }
    if (hr != S_OK) {
        setAt(QSql::AfterLastRow);
        return false;
    }
    setAt(at() + 1);
    return true;
}

bool REzuVEDOVResult::fetchPrevious()
{
    clearRowCache();
    const HRESULT hr = d->command.moveNext(-2, true);
    if (FAILED(hr)) {
        reportFetchError();
        return false;
    }
    if (hr != S_OK) {
        setAt(QSql::BeforeFirstRow);
        return false;
    }
    setAt(at() - 1);
    return true;
}

bool REzuVEDOVResult::fetchFirst()
{
    clearRowCache();
    const HRESULT hr = d->command.moveFirst();
    if (FAILED(hr)) {
        reportFetchError();
        return false;
    }
    if (hr != S_OK) {
        setAt(QSql::BeforeFirstRow);
        return false;
    }
    setAt(0);
    return true;
}

bool REzuVEDOVResult::fetchLast()
{
    clearRowCache();
    OLEDBCommand<OLEDBParameterAccessor> &command = d->command;
    if (!command.hasRowset()) {
        reportFetchError();
        return false;
    }
    const HRESULT hr = command.moveLast();
    if (FAILED(hr)) {
        reportFetchError();
        return false;
    }
    if (command.currentRowHandle() == 0) {
        // The end of the rows, or a code that fetched nothing usable.
        setAt(QSql::AfterLastRow);
        return false;
    }
    int rows = size();
    if (rows <= 0) {
        // The rowset cannot tell its row count: count by walking it, then
        // stand on the last row again, so that at() names the row held.
        rows = command.countRowsByWalking();
        if (rows <= 0) {
            reportFetchError();
            return false;
        }
    }
    setAt(rows - 1);
    return true;
}

bool REzuVEDOVResult::fetch(int index)
{
    if (index == at())
        return true;
    if (!isForwardOnly()) {
        HRESULT hr = d->command.moveFirst();
        if (FAILED(hr)) {
            reportFetchError();
            return false;
        }
        if (index != 0)
            hr = d->command.moveNext(index - 1, true);
        if (hr != S_OK) {
            reportFetchError();
            clearRowCache();
            return false;
        }
        clearRowCache();
        setAt(index);
        return true;
    }
    // Forward only: step on from where the cursor stands, so the row held
    // is the one at() names.
    bool ok = true;
    while (ok && index > at())
        ok = fetchNext();
    return ok;
}

bool REzuVEDOVResult::isNull(int)
{
    // A NULL shows in value(i) instead (docs/reference.md, Qt's autotests: qsqlquery isNull).
    return false;
}

QVariant REzuVEDOVResult::data(int index)
{
    if (index < 0 || index >= d->record.count()) {
        QMessageLogger().warning() << "QLEDBResult::data: column" << index << "out of range";
        return QVariant();
    }
    if (index < d->cachedColumnCount)
        return d->rowCache.at(index);
    for (int j = d->cachedColumnCount; j <= index; ++j)
        convertColumn(j);
    d->cachedColumnCount = index + 1;
    return d->rowCache.at(index);
}

void REzuVEDOVResult::convertColumn(int index)
{
    const OLEDBParameterAccessor &accessor = d->command;
    if (size_t(index) >= d->columnReaders.size())
        return;
    const REzuVEDOVColumnReader &reader = d->columnReaders[size_t(index)];
    const OLEDBColumnBinding *column = reader.column;
    const DBORDINAL ordinal = DBORDINAL(index) + 1;
    QVariant &slot = d->rowCache[index];
    const BYTE *buffer = accessor.rowBuffer();
    if (!column || !buffer)
        return;
    const BYTE *value = buffer + reader.valueOffset;
    const bool isNull = rz::loadUnaligned<DBSTATUS>(buffer + reader.statusOffset) == DBSTATUS_S_ISNULL;
    const DBTYPE bound = column->wType;

    switch (reader.fieldType) {
    case QMetaType::Bool:
        slot = QVariant(!isNull && rz::loadUnaligned<qint16>(value) == -1);
        break;
    case QMetaType::Int:
        if (isNull)
            slot = rz::nullValue(QMetaType::Int);
        else if (bound == DBTYPE_I2)
            slot = QVariant(int(rz::loadUnaligned<qint16>(value)));
        else if (bound == DBTYPE_UI1)
            slot = QVariant(int(rz::loadUnaligned<quint8>(value)));
        else
            slot = QVariant(int(rz::loadUnaligned<qint32>(value)));
        break;
    case QMetaType::UInt:
        slot = isNull ? rz::nullValue(QMetaType::UInt) : QVariant(uint(rz::loadUnaligned<quint32>(value)));
        break;
    case QMetaType::LongLong:
        if (isNull)
            slot = rz::nullValue(QMetaType::LongLong);
        else if (bound == DBTYPE_NUMERIC)
            slot = QVariant(doubleFromNumeric(rz::loadUnaligned<DB_NUMERIC>(value)));
        else
            slot = QVariant(qlonglong(rz::loadUnaligned<qint64>(value)));
        break;
    case QMetaType::ULongLong:
        slot = isNull ? rz::nullValue(QMetaType::ULongLong) : QVariant(qulonglong(rz::loadUnaligned<quint64>(value)));
        break;
    case QMetaType::Double:
        if (bound == DBTYPE_R8)
            slot = isNull ? rz::nullValue(QMetaType::Double) : QVariant(rz::loadUnaligned<double>(value));
        else if (bound == DBTYPE_R4)
            slot = isNull ? rz::nullValue(QMetaType::Double) : QVariant(rz::loadUnaligned<float>(value));
        break;
    case QMetaType::QString:
    case QMetaType::QByteArray:
        if (bound == DBTYPE_IUNKNOWN) {
            const QByteArray bytes = readColumnBytes(accessor, ordinal);
            if (reader.wideStream)
                slot = rz::textValue(rz::fromOleText(reinterpret_cast<const OLECHAR *>(bytes.constData()),
                                                       bytes.size() / 2));
            else
                slot = rz::bytesValue(bytes);
        } else if (reader.fieldType == QMetaType::QString) {
            slot = isNull ? rz::nullValue(QMetaType::QString) : rz::textValue(readColumnString(*column, value));
        } else {
            // Binary values held in the row buffer (bytes, GUIDs, ...).
            slot = isNull ? rz::nullValue(QMetaType::QByteArray)
                          : rz::bytesValue(readColumnBufferBytes(accessor, ordinal));
        }
        break;
    case QMetaType::QTime:
        if (isNull) {
            slot = rz::nullValue(QMetaType::QTime);
        } else {
            const DBTIME t = rz::loadUnaligned<DBTIME>(value);
            slot = QVariant(QTime(t.hour, t.minute, t.second, 0));
        }
        break;
    case QMetaType::QDateTime:
        if (isNull) {
            slot = rz::nullValue(QMetaType::QDateTime);
        } else if (bound == DBTYPE_DBTIMESTAMP) {
            const DBTIMESTAMP t = rz::loadUnaligned<DBTIMESTAMP>(value);
            // The epoch for anything earlier (docs/reference.md, Types: date-times before 1970).
            if (t.year < 1970)
                slot = QVariant(QDateTime::fromSecsSinceEpoch(0));
            else
                slot = QVariant(localDateTime(QDate(t.year, t.month, t.day),
                                              QTime(t.hour, t.minute, t.second, int(t.fraction / 1000000))));
        } else if (bound == DBTYPE_DBDATE) {
            const DBDATE t = rz::loadUnaligned<DBDATE>(value);
            if (t.year < 1970)
                slot = QVariant(QDateTime::fromSecsSinceEpoch(0));
            else
                slot = QVariant(localDateTime(QDate(t.year, t.month, t.day), QTime(0, 0, 0, 0)));
        }
        break;
    default:
        break;
    }
}
