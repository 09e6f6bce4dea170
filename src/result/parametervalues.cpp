#include "result/parametervalues.h"

#include "result/cisshelper.h"
#include "result/numericconversion.h"
#include "qtcompat/oletext.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

namespace {

template <class T>
void writeValue(OLEDBParameterAccessor &accessor, DBORDINAL ordinal, T value)
{
    accessor.setParamBytes(ordinal, &value, sizeof value);
}

void writeTimestamp(OLEDBParameterAccessor &accessor, DBORDINAL ordinal, const QDateTime &value)
{
    // Nothing before or at the epoch's first second goes out as a value: that
    // is how an unset date-time reaches this point.
    const qint64 msecs = value.isValid() ? value.toMSecsSinceEpoch() : 0;
    if (value.isValid() && !(msecs >= 0 && msecs < 1000)) {
        writeValue(accessor, ordinal, toDbTimestamp(value));
    } else {
        writeValue(accessor, ordinal, toDbTimestamp(QDateTime::fromMSecsSinceEpoch(0)));
        accessor.setParamStatus(ordinal, DBSTATUS_S_ISNULL);
    }
}

// Appends the bytes of a long value to the execution's stream and points the
// parameter at it; the length part counts this parameter's bytes only.
void writeStream(OLEDBParameterAccessor &accessor, DBORDINAL ordinal, CISSHelper &stream,
                 const void *bytes, ULONG size)
{
    ULONG written = 0;
    if (bytes && size > 0 && FAILED(stream.Write(bytes, size, &written)))
        written = 0;
    ISequentialStream *pointer = &stream;
    writeValue(accessor, ordinal, pointer);
    if (DBLENGTH *length = accessor.paramLength(ordinal))
        *length = written;
}

void writeLongValue(OLEDBParameterAccessor &accessor, DBORDINAL ordinal, DBTYPE reported,
                    CISSHelper &stream, const QByteArray &narrow, const QString &wide)
{
    if (reported == DBTYPE_BYTES || reported == DBTYPE_STR)
        writeStream(accessor, ordinal, stream, narrow.constData(), ULONG(narrow.size()));
    else if (reported == DBTYPE_WSTR)
        writeStream(accessor, ordinal, stream, wide.utf16(), ULONG(wide.size()) * 2);
    else
        writeStream(accessor, ordinal, stream, nullptr, 0);
}

void bindLongParameter(OLEDBParameterAccessor &accessor, DBORDINAL ordinal, DBTYPE reported,
                       const QVariant &value, CISSHelper &stream)
{
    switch (value.userType()) {
    case QMetaType::QString: {
        const QString text = value.toString();
        writeLongValue(accessor, ordinal, reported, stream, text.toLatin1(), text);
        return;
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        writeLongValue(accessor, ordinal, reported, stream, bytes, QString::fromUtf8(bytes));
        return;
    }
    case QMetaType::LongLong: {
        const QByteArray bytes = value.toString().toLatin1();
        writeLongValue(accessor, ordinal, reported, stream, bytes, QString::fromUtf8(bytes));
        return;
    }
    case QMetaType::UnknownType:
        // No stream for no value: the provider gets a NULL.
        accessor.setParamStatus(ordinal, DBSTATUS_S_ISNULL);
        return;
    default: {
        // Any other value travels as its text; the provider never sees a
        // number where it reads a stream pointer.
        const QString text = value.toString();
        writeLongValue(accessor, ordinal, reported, stream, text.toLatin1(), text);
        return;
    }
    }
}

} // namespace

DBTIMESTAMP toDbTimestamp(const QDateTime &value)
{
    DBTIMESTAMP stamp = {};
    if (!value.isValid())
        return stamp;
    const QDate date = value.date();
    const QTime time = value.time();
    stamp.year = SHORT(date.year());
    stamp.month = USHORT(date.month());
    stamp.day = USHORT(date.day());
    stamp.hour = USHORT(time.hour());
    stamp.minute = USHORT(time.minute());
    stamp.second = USHORT(time.second());
    stamp.fraction = ULONG(time.msec()) * 1000000u;
    return stamp;
}

void bindParameterValue(OLEDBParameterAccessor &accessor, int index, const QVariant &value,
                        CISSHelper &stream)
{
    const DBORDINAL ordinal = DBORDINAL(index) + 1;
    const DBBINDING *binding = accessor.findParameter(ordinal);
    if (!binding)
        return;
    accessor.setParamStatus(ordinal, DBSTATUS_S_OK);
    const DBTYPE type = binding->wType;

    if (type == DBTYPE_NUMERIC) {
        DB_NUMERIC numeric = {};
        if (toDbNumeric(value.toLongLong(), &numeric))
            writeValue(accessor, ordinal, numeric);
        return;
    }
    if (type == DBTYPE_IUNKNOWN) {
        const int position = accessor.parameterPosition(binding);
        bindLongParameter(accessor, ordinal, accessor.reportedParameterType(position), value, stream);
        return;
    }

    switch (value.userType()) {
    case QMetaType::Bool:
    case QMetaType::Int:
        if (type == DBTYPE_I2)
            writeValue(accessor, ordinal, qint16(value.toInt()));
        else if (type == DBTYPE_UI1)
            writeValue(accessor, ordinal, quint8(value.toInt()));
        else if (type == DBTYPE_BOOL)
            writeValue(accessor, ordinal, qint16(value.toBool() ? 1 : 0));
        else
            writeValue(accessor, ordinal, qint32(value.toInt()));
        break;
    case QMetaType::UInt:
        writeValue(accessor, ordinal, quint32(value.toUInt()));
        break;
    case QMetaType::LongLong:
        if (type == DBTYPE_DBTIMESTAMP) {
            writeValue(accessor, ordinal, toDbTimestamp(QDateTime::fromMSecsSinceEpoch(0)));
            accessor.setParamStatus(ordinal, DBSTATUS_S_ISNULL);
        } else {
            writeValue(accessor, ordinal, qint64(value.toLongLong()));
        }
        break;
    case QMetaType::ULongLong:
        writeValue(accessor, ordinal, quint64(value.toULongLong()));
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        if (type == DBTYPE_R4)
            writeValue(accessor, ordinal, value.toFloat());
        else if (type == DBTYPE_R8)
            writeValue(accessor, ordinal, value.toDouble());
        break;
    case QMetaType::QString:
        if (type == DBTYPE_BYTES || type == DBTYPE_STR) {
            accessor.setParamString(ordinal, value.toString().toLatin1().constData(), DBSTATUS_S_OK);
        } else if (type == DBTYPE_BOOL) {
            writeValue(accessor, ordinal, qint16(value.toBool() ? 1 : 0));
        } else if (type == DBTYPE_WSTR) {
            const QString text = value.toString();
            accessor.setParamWString(ordinal, rz::oleText(text), DBSTATUS_S_OK);
        } else if (type == DBTYPE_DBTIMESTAMP) {
            writeTimestamp(accessor, ordinal, QVariant(value.toString()).toDateTime());
        } else {
            writeValue(accessor, ordinal, quint8(value.toInt()));
        }
        break;
    case QMetaType::QByteArray:
        if (type == DBTYPE_BYTES || type == DBTYPE_STR) {
            const QByteArray bytes = value.toByteArray();
            // As text: the bytes end at the first zero (docs/reference.md, Bound values: bytes for binary).
            accessor.setParamString(ordinal, bytes.constData(), DBSTATUS_S_OK);
        } else {
            const QString text = QString::fromLatin1(value.toByteArray());
            accessor.setParamWString(ordinal, rz::oleText(text), DBSTATUS_S_OK);
        }
        break;
    case QMetaType::QTime: {
        const QTime time = value.toTime();
        DBTIME t = {};
        if (time.isValid()) {
            t.hour = USHORT(time.hour());
            t.minute = USHORT(time.minute());
            t.second = USHORT(time.second());
        }
        writeValue(accessor, ordinal, t);
        if (!time.isValid())
            accessor.setParamStatus(ordinal, DBSTATUS_S_ISNULL);
        break;
    }
    case QMetaType::QDateTime:
        writeTimestamp(accessor, ordinal, value.toDateTime());
        break;
    default:
        break;
    }
}
