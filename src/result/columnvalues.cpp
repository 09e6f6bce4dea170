#include "result/columnvalues.h"

#include "platform/com/comptr.h"
#include "qtcompat/oletext.h"

#include <cstring>

namespace {

constexpr int chunkSize = 65536;

bool isNullColumn(const OLEDBAccessor &accessor, DBORDINAL ordinal)
{
    const DBSTATUS *status = accessor.columnStatus(ordinal);
    if (!status)
        return true;
    DBSTATUS value;
    std::memcpy(&value, status, sizeof value);
    return value == DBSTATUS_S_ISNULL;
}

} // namespace

QString readColumnString(const OLEDBAccessor &accessor, DBORDINAL ordinal)
{
    const OLEDBColumnBinding *column = accessor.findColumn(ordinal);
    if (!column || !accessor.rowBuffer())
        return QString();
    switch (column->wType) {
    case DBTYPE_STR:
    case DBTYPE_WSTR:
    case DBTYPE_BSTR:
        if (isNullColumn(accessor, ordinal))
            return QString();
        return readColumnString(*column, accessor.valueOf(*column));
    default:
        return QString();
    }
}

QString readColumnString(const OLEDBColumnBinding &column, const BYTE *value)
{
    switch (column.wType) {
    case DBTYPE_STR: {
        const char *text = reinterpret_cast<const char *>(value);
        // Up to the terminator, and never past the value part.
        const size_t length = strnlen(text, column.ulColumnSize);
        return QString::fromLocal8Bit(text, int(length));
    }
    case DBTYPE_WSTR: {
        // Up to the terminator, and never past the value part.
        const size_t capacity = column.ulColumnSize / 2;
        size_t length = 0;
        while (length < capacity && (value[length * 2] | value[length * 2 + 1]) != 0)
            ++length;
        QString text(int(length), Qt::Uninitialized);
        std::memcpy(text.data(), value, length * 2);
        return text;
    }
    case DBTYPE_BSTR: {
        BSTR text;
        std::memcpy(&text, value, sizeof text);
        if (!text)
            return QString();
        return rz::fromOleText(text, int(SysStringLen(text)));
    }
    default:
        return QString();
    }
}

QByteArray readColumnBytes(const OLEDBAccessor &accessor, DBORDINAL ordinal)
{
    QByteArray bytes;
    BYTE *value = static_cast<BYTE *>(accessor.columnValue(ordinal));
    if (!value)
        return bytes;
    if (isNullColumn(accessor, ordinal)) {
        IUnknown *none = nullptr;
        std::memcpy(value, &none, sizeof none);
        return bytes;
    }
    IUnknown *object;
    std::memcpy(&object, value, sizeof object);
    if (!object)
        return bytes;
    rz::ComPtr<ISequentialStream> stream;
    if (FAILED(object->QueryInterface(IID_ISequentialStream, stream.putVoid())) || !stream)
        return bytes;

    int total = 0;
    bytes.resize(chunkSize);
    for (;;) {
        ULONG read = 0;
        const HRESULT hr = stream->Read(bytes.data() + total, chunkSize, &read);
        // Any answer but S_OK ends the value with the bytes read before.
        if (hr != S_OK)
            break;
        total += int(read);
        if (read < ULONG(chunkSize))
            break;
        bytes.resize(bytes.size() + chunkSize);
    }
    bytes.resize(total);
    return bytes;
}

QByteArray readColumnBufferBytes(const OLEDBAccessor &accessor, DBORDINAL ordinal)
{
    const OLEDBColumnBinding *column = accessor.findColumn(ordinal);
    if (!column || !accessor.rowBuffer() || isNullColumn(accessor, ordinal))
        return QByteArray();
    DBLENGTH length;
    std::memcpy(&length, accessor.columnLength(ordinal), sizeof length);
    if (length > column->ulColumnSize)
        length = column->ulColumnSize;
    return QByteArray(reinterpret_cast<const char *>(accessor.valueOf(*column)),
                      int(length));
}
