#include "result/rezuvedovresult.h"

#include "driver/errors.h"
#include "driver/rezuvedovdriver.h"
#include "driver/rezuvedovdriver_p.h"
#include "qtcompat/qtcompat.h"
#include "result/cisshelper.h"
#include "oledb/dbtypemapping.h"
#include "result/parametervalues.h"
#include "result/rezuvedovresult_p.h"

#include <QtSql/QSqlField>

#include <cstring>

namespace {

// The long-column threshold of result sets: ordinary large values stay in
// the row buffer, only really long ones are streamed.
constexpr DBLENGTH resultMaxBlobSize = 1000000;

void addRowsetProperty(OLEDBPropertySet &set, DBPROPID id, VARTYPE type, LONG value)
{
    if (!addProperty(set, DBPROPOPTIONS_REQUIRED))
        return;
    DBPROP &prop = set.rgProperties[set.cProperties];
    prop.dwPropertyID = id;
    prop.vValue.vt = type;
    if (type == VT_I2)
        prop.vValue.iVal = SHORT(value);
    else
        prop.vValue.lVal = value;
    ++set.cProperties;
}

void emptyPropertySet(OLEDBPropertySet &set)
{
    for (ULONG i = 0; i < set.cProperties; ++i)
        VariantClear(&set.rgProperties[i].vValue);
    CoTaskMemFree(set.rgProperties);
    set.rgProperties = static_cast<DBPROP *>(CoTaskMemAlloc(0));
    set.cProperties = 0;
}

} // namespace

REzuVEDOVResultPrivate::REzuVEDOVResultPrivate(REzuVEDOVDriverPrivate *driver)
    : driverPrivate(driver), rowsetProperties(DBPROPSET_ROWSET)
{
    command.maxBlobSize = resultMaxBlobSize;
    addRowsetProperty(rowsetProperties, DBPROP_CLIENTCURSOR, VT_I2, -1);
    addRowsetProperty(rowsetProperties, DBPROP_IRowsetChange, VT_I2, -1);
    addRowsetProperty(rowsetProperties, DBPROP_ISequentialStream, VT_I2, -1);
    addRowsetProperty(rowsetProperties, DBPROP_COMMANDTIMEOUT, VT_I4, 30);
    addRowsetProperty(rowsetProperties, DBPROP_UPDATABILITY, VT_I4,
                      DBPROPVAL_UP_CHANGE | DBPROPVAL_UP_DELETE | DBPROPVAL_UP_INSERT);
    if (driver && !driver->useRowsetProperties)
        emptyPropertySet(rowsetProperties);
}

REzuVEDOVResultPrivate::~REzuVEDOVResultPrivate()
{
    tearDownStatement();
    rowCache.clear();
    record.clear();
    // The property set, then the command's own teardown, follow as members go.
}

void REzuVEDOVResultPrivate::tearDownStatement()
{
    command.freeRecordMemory(command.rowset.get());
    command.close();
    command.multipleResults.reset();
}

REzuVEDOVResult::REzuVEDOVResult(const REzuVEDOVDriver *db, REzuVEDOVDriverPrivate *p)
    : QSqlResult(db), d(new REzuVEDOVResultPrivate(p)), driverPrivate(p)
{
}

REzuVEDOVResult::~REzuVEDOVResult()
{
    delete d;
}

QVariant REzuVEDOVResult::handle() const
{
    return QVariant();
}

void REzuVEDOVResult::virtual_hook(int, void *)
{
}

bool REzuVEDOVResult::reset(const QString &query)
{
    setActive(false);
    setAt(QSql::BeforeFirstRow);
    if (!prepare(query))
        return false;
    return exec();
}

bool REzuVEDOVResult::prepare(const QString &query)
{
    if (!driver() || !driver()->isOpen() || driver()->isOpenError())
        return false;

    d->tearDownStatement();
    setSelect(false);
    // A new statement gets its own parameter description.
    d->command.releaseCommand();
    d->command.freeParameters();

    const OLECHAR *text = reinterpret_cast<const OLECHAR *>(query.utf16());
    HRESULT hr = d->command.createCommand(d->driverPrivate ? d->driverPrivate->session.get() : nullptr,
                                          text, DBGUID_DEFAULT);
    if (hr != S_OK) {
        setLastError(qMakeError(qOLEDBErrorText(d->command.commandObject.get(), IID_ICommand),
                                QSqlError::StatementError));
        return false;
    }

    rz::ComPtr<ICommandPrepare> preparer;
    hr = d->command.commandObject.query(IID_ICommandPrepare, preparer);
    if (SUCCEEDED(hr))
        hr = preparer->Prepare(0);
    preparer.reset();
    if (hr != S_OK) {
        setLastError(qMakeError(qOLEDBErrorText(d->command.commandObject.get(), IID_ICommand),
                                QSqlError::StatementError));
        return false;
    }
    return true;
}

static QSqlField makeField(const OLEDBParameterAccessor &accessor, DBORDINAL ordinal)
{
    DBORDINAL index = 0;
    const OLEDBColumnBinding *column = accessor.findColumn(ordinal, &index);
    DBTYPE type = DBTYPE_EMPTY;
    QString name;
    if (column) {
        type = index < DBORDINAL(accessor.columnTypes.size()) ? accessor.columnTypes.at(int(index))
                                                              : column->wType;
        if (column->pwszName)
            name = QString::fromUtf16(column->pwszName);
    }
    QSqlField field = rz::makeField(name, qVariantTypeForDbType(type));
    field.setSqlType(type);
    return field;
}

static REzuVEDOVColumnReader makeColumnReader(const OLEDBParameterAccessor &accessor, DBORDINAL ordinal,
                                              int fieldType)
{
    REzuVEDOVColumnReader reader;
    reader.fieldType = fieldType;
    DBORDINAL position = 0;
    reader.column = accessor.findColumn(ordinal, &position);
    if (reader.column) {
        reader.valueOffset = columnValueOffset(*reader.column);
        reader.statusOffset = columnPartsAt(reader.valueOffset, reader.column->ulColumnSize).status;
        reader.wideStream = position < DBORDINAL(accessor.columnTypes.size())
                            && accessor.columnTypes.at(int(position)) == DBTYPE_WSTR;
    }
    return reader;
}

bool REzuVEDOVResult::exec()
{
    setActive(false);
    setAt(QSql::BeforeFirstRow);
    OLEDBCommand<OLEDBParameterAccessor> &command = d->command;
    if (!command.commandObject)
        return false;

    d->tearDownStatement();
    d->columnReaders.clear();
    d->rowsAffected = 0;

    const QVector<QVariant> values = boundValues();
    CISSHelper stream;
    HRESULT hr;
    if (values.isEmpty()) {
        if (d->driverPrivate && d->driverPrivate->useRowsetProperties)
            hr = command.execute(nullptr, &d->rowsAffected, false, &d->rowsetProperties, 1);
        else
            hr = command.execute(nullptr, &d->rowsAffected, false);
    } else {
        void *buffer = nullptr;
        hr = command.bindParameters(&command.paramAccessor, command.commandObject.get(), &buffer,
                                    true, true);
        if (SUCCEEDED(hr)) {
            if (command.paramBuffer)
                std::memset(command.paramBuffer, 0, command.paramBufferSize);
            for (int i = 0; i < values.size(); ++i)
                bindParameterValue(command, i, values.at(i), stream);
            hr = command.bindParameters(&command.paramAccessor, command.commandObject.get(), &buffer,
                                        false, false);
        }
        if (SUCCEEDED(hr)) {
            DBPARAMS params;
            params.pData = buffer;
            params.cParamSets = 1;
            params.hAccessor = command.paramAccessor;
            hr = command.execute(&params, &d->rowsAffected, false);
        }
        command.multipleResults.reset();
    }

    if (FAILED(hr)) {
        if (hr == E_FAIL) {
            setLastError(QSqlError(QStringLiteral("MSSQL DB: "),
                                   qOLEDBErrorText(command.commandObject.get(), IID_ICommand),
                                   QSqlError::ConnectionError, QString()));
        } else {
            command.multipleResults.reset();
            setLastError(qMakeError(qOLEDBErrorText(command.commandObject.get(), IID_ICommand),
                                    QSqlError::StatementError));
        }
        return false;
    }
    if (!command.rowset) {
        setSelect(false);
        return true;
    }

    hr = command.bindColumns(command.rowset.get());
    if (FAILED(hr)) {
        setLastError(qMakeError(qOLEDBErrorText(command.commandObject.get(), IID_ICommand),
                                QSqlError::StatementError));
        return false;
    }

    d->record.clear();
    const DBORDINAL first = command.columnCount > 0 ? command.columnInfo[0].iOrdinal : 1;
    for (DBORDINAL ordinal = 1; ordinal < command.columnCount + first; ++ordinal) {
        const QSqlField field = makeField(command, ordinal);
        d->record.append(field);
        d->columnReaders.push_back(makeColumnReader(command, ordinal, rz::typeId(field)));
    }
    d->rowCache.fill(QVariant(), d->record.count());
    d->cachedColumnCount = 0;

    setSelect(true);
    setActive(true);
    return true;
}

QSqlRecord REzuVEDOVResult::record() const
{
    if (isActive() && isSelect())
        return d->record;
    return QSqlRecord();
}

int REzuVEDOVResult::size()
{
    if (!d->command.rowset || !isSelect())
        return 0;
    rz::ComPtr<IRowsetScroll> scroll;
    if (FAILED(d->command.rowset.query(IID_IRowsetScroll, scroll)))
        return 0;
    DBCOUNTITEM rows = 0;
    if (FAILED(scroll->GetApproximatePosition(DB_NULL_HCHAPTER, 0, nullptr, nullptr, &rows)))
        return 0;
    return int(static_cast<quint32>(rows));
}

int REzuVEDOVResult::numRowsAffected()
{
    return int(static_cast<quint32>(d->rowsAffected));
}
