#include "result/rezuvedovresult.h"

#include "driver/errors.h"
#include "driver/rezuvedovdriver.h"
#include "driver/rezuvedovdriver_p.h"
#include "qtcompat/qtcompat.h"
#include "result/cisshelper.h"
#include "oledb/dbtypemapping.h"
#include "result/parametervalues.h"
#include "result/rezuvedovresult_p.h"
#include "qtcompat/oletext.h"

#include <QtSql/QSqlField>


namespace {

// The long-column threshold of result sets: ordinary large values stay in
// the row buffer, only really long ones are streamed.
constexpr DBLENGTH resultMaxBlobSize = 1000000;

} // namespace

REzuVEDOVResultPrivate::REzuVEDOVResultPrivate(REzuVEDOVDriverPrivate *driver)
    : driverPrivate(driver), rowsetProperties(DBPROPSET_ROWSET)
{
    command.setMaxBlobSize(resultMaxBlobSize);
    // Asked for as required, change properties included, though no row is ever changed
    // (docs/reference.md, Moving through results: the properties a statement asks for).
    addIntegerProperty(rowsetProperties, DBPROP_CLIENTCURSOR, -1, VT_I2);
    addIntegerProperty(rowsetProperties, DBPROP_IRowsetChange, -1, VT_I2);
    addIntegerProperty(rowsetProperties, DBPROP_ISequentialStream, -1, VT_I2);
    addIntegerProperty(rowsetProperties, DBPROP_COMMANDTIMEOUT, 30);
    addIntegerProperty(rowsetProperties, DBPROP_UPDATABILITY,
                       DBPROPVAL_UP_CHANGE | DBPROPVAL_UP_DELETE | DBPROPVAL_UP_INSERT);
    if (driver && !driver->useRowsetProperties)
        rowsetProperties.clear();
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
    command.freeRecordMemory(command.rowsetInterface());
    command.close();
    command.releaseMultipleResults();
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

    const OLECHAR *text = rz::oleText(query);
    HRESULT hr = d->command.createCommand(d->driverPrivate ? d->driverPrivate->session.get() : nullptr,
                                          text, DBGUID_DEFAULT);
    if (hr != S_OK) {
        setLastError(qMakeError(qOLEDBErrorText(d->command.commandInterface(), IID_ICommand),
                                QSqlError::StatementError));
        return false;
    }

    hr = d->command.prepare();
    if (hr != S_OK) {
        setLastError(qMakeError(qOLEDBErrorText(d->command.commandInterface(), IID_ICommand),
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
        type = accessor.reportedColumnType(index);
        if (column->pwszName)
            name = rz::fromOleText(column->pwszName);
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
        reader.wideStream = position < DBORDINAL(accessor.reportedColumnTypes().size())
                            && accessor.reportedColumnTypes().at(int(position)) == DBTYPE_WSTR;
    }
    return reader;
}

bool REzuVEDOVResult::exec()
{
    setActive(false);
    setAt(QSql::BeforeFirstRow);
    OLEDBCommand<OLEDBParameterAccessor> &command = d->command;
    if (!command.hasCommand())
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
        hr = command.bindCommandParameters(&buffer, true, true);
        if (SUCCEEDED(hr)) {
            command.clearParameterBuffer();
            for (int i = 0; i < values.size(); ++i)
                bindParameterValue(command, i, values.at(i), stream);
            hr = command.bindCommandParameters(&buffer, false, false);
        }
        if (SUCCEEDED(hr))
            hr = command.executeWithParameters(buffer, &d->rowsAffected);
        command.releaseMultipleResults();
    }

    if (FAILED(hr)) {
        // docs/reference.md, Moving through results: E_FAIL is a connection error.
        if (hr == E_FAIL) {
            setLastError(QSqlError(QStringLiteral("MSSQL DB: "),
                                   qOLEDBErrorText(command.commandInterface(), IID_ICommand),
                                   QSqlError::ConnectionError, QString()));
        } else {
            command.releaseMultipleResults();
            setLastError(qMakeError(qOLEDBErrorText(command.commandInterface(), IID_ICommand),
                                    QSqlError::StatementError));
        }
        return false;
    }
    if (!command.hasRowset()) {
        setSelect(false);
        return true;
    }

    hr = command.bindColumns(command.rowsetInterface());
    if (FAILED(hr)) {
        setLastError(qMakeError(qOLEDBErrorText(command.commandInterface(), IID_ICommand),
                                QSqlError::StatementError));
        return false;
    }

    d->record.clear();
    const DBORDINAL columns = command.boundColumnCount();
    const DBORDINAL first = columns > 0 ? command.boundColumn(0).iOrdinal : 1;
    for (DBORDINAL ordinal = 1; ordinal < columns + first; ++ordinal) {
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
    if (!d->command.hasRowset() || !isSelect())
        return 0;
    DBCOUNTITEM rows = 0;
    if (FAILED(d->command.rowCount(&rows)))
        return 0;
    return int(static_cast<quint32>(rows));
}

int REzuVEDOVResult::numRowsAffected()
{
    return int(static_cast<quint32>(d->rowsAffected));
}
