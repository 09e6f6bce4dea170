// Client CPU of one benchmark case: fetching every value of a 10-column
// table, or prepared single-row inserts, through REZUVEDOV, through Qt's
// QODBC driver, or straight through ODBC as the floor. One case per process,
// so each measurement starts clean; bench/run-bench runs them all against one
// test server and prints the ratios.
//
//   rzbench --host 127.0.0.60 --setup --rows 100000
//   rzbench --host 127.0.0.60 --case rz-default --rows 100000
//
// Output: one line "case=<name> rows=<n> cpu_ms=<client cpu> user_ms=<..> sys_ms=<..>
// wall_ms=<wall> maxrss_kb=<peak>".

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QElapsedTimer>
#include <QtCore/QStringList>
#include <QtCore/QVariant>
#include <QtCore/QVector>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

#include <sql.h>
#include <sqlext.h>

#include <sys/resource.h>

#include <cstdio>
#include <memory>
#include <utility>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

struct Options
{
    QString host = QStringLiteral("127.0.0.60");
    QString database = QStringLiteral("testdb");
    QString user = QStringLiteral("sa");
    QString password = QStringLiteral("Secret123");
    QString caseName;
    bool setup = false;
    int rows = 100000;
    int inserts = 5000;
};

// The first `rows` rows of the table, in no particular order.
QByteArray selectRows(int rows)
{
    return QStringLiteral("SELECT TOP %1 id, a, b, f, d, m, vc, nv, dt, bt FROM bench_rows").arg(rows).toUtf8();
}

const char *const insertOne = "INSERT INTO bench_inserts (id, a, b, f, d, m, vc, nv, dt, bt) "
                              "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
const char *const columns = "id int, a int, b bigint, f float, d decimal(12,2), m money, "
                            "vc varchar(30), nv nvarchar(30), dt datetime, bt bit";

[[noreturn]] void fail(const QString &what)
{
    std::fprintf(stderr, "rzbench: %s\n", qPrintable(what));
    std::exit(1);
}

double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// User and system CPU of this process so far, in milliseconds.
std::pair<double, double> userSystemMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return {ms(usage.ru_utime), ms(usage.ru_stime)};
}

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QString odbcConnectionString(const Options &o)
{
    return QStringLiteral("DRIVER=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so;SERVER=%1;PORT=1433;UID=%2;"
                          "PWD=%3;DATABASE=%4;TDS_Version=7.4;ClientCharset=UTF-8")
        .arg(o.host, o.user, o.password, o.database);
}

QSqlDatabase openQt(const Options &o, const QString &driver, const QString &options = QString())
{
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, QStringLiteral("bench"));
    if (driver == QLatin1String("QODBC")) {
        db.setDatabaseName(odbcConnectionString(o));
    } else {
        db.setHostName(o.host);
        db.setDatabaseName(o.database);
        db.setUserName(o.user);
        db.setPassword(o.password);
        db.setConnectOptions(options);
    }
    if (!db.open())
        fail(driver + QStringLiteral(" open: ") + db.lastError().text());
    return db;
}

void exec(QSqlDatabase db, const QString &sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        fail(sql.left(80) + QStringLiteral(": ") + query.lastError().text());
}

// The table read by every fetch case, filled in batches of 1,000 rows.
void setUp(const Options &o)
{
    QSqlDatabase db = openQt(o, QStringLiteral("REZUVEDOV"));
    exec(db, QStringLiteral("DROP TABLE IF EXISTS bench_rows"));
    exec(db, QStringLiteral("CREATE TABLE bench_rows (%1)").arg(QLatin1String(columns)));
    for (int first = 0; first < o.rows; first += 1000) {
        QStringList values;
        for (int id = first; id < qMin(o.rows, first + 1000); ++id) {
            values << QStringLiteral("(%1, %2, %3, %4, %5.%6, %7.25, 'text value %1', N'текст %1', "
                                     "'2021-%8-%9 10:%10:%11', %12)")
                          .arg(id).arg(id % 1000).arg(qlonglong(id) * 100003).arg(id * 0.5)
                          .arg(id / 7).arg(id % 100, 2, 10, QLatin1Char('0')).arg(id % 5000)
                          .arg(id % 12 + 1, 2, 10, QLatin1Char('0')).arg(id % 28 + 1, 2, 10, QLatin1Char('0'))
                          .arg(id % 60, 2, 10, QLatin1Char('0')).arg((id / 60) % 60, 2, 10, QLatin1Char('0'))
                          .arg(id % 2);
        }
        exec(db, QStringLiteral("INSERT INTO bench_rows VALUES ") + values.join(QLatin1Char(',')));
    }
}

// Reads every value of every row; returns the rows seen.
long fetchThroughQt(QSqlQuery &query, int limit)
{
    if (!query.exec(QString::fromUtf8(selectRows(limit))))
        fail(QStringLiteral("select: ") + query.lastError().text());
    long rows = 0;
    long checksum = 0;
    while (query.next()) {
        for (int i = 0; i < 10; ++i) {
            const QVariant value = query.value(i);
            checksum += value.userType() + (value.isNull() ? 1 : 0);
        }
        ++rows;
    }
    if (query.lastError().isValid())
        fail(QStringLiteral("fetch: ") + query.lastError().text());
    if (checksum == 0)
        fail(QStringLiteral("no values read"));
    return rows;
}

// What Qt itself costs per row, whatever the driver: the ten values of a
// bench row made as any driver must hand them over (a QVariant each; text
// from 8-bit and UTF-16; the datetime as a QDateTime in local time), kept in
// a row cache and read back as fetchThroughQt reads them. No server.
long buildQtValues(int limit)
{
    static const char16_t wide[] = u"текст 12345";
    QVector<QVariant> cache(10);
    long checksum = 0;
    for (int row = 0; row < limit; ++row) {
        char narrow[32];
        std::snprintf(narrow, sizeof narrow, "text value %d", row);
        cache[0] = QVariant(row);
        cache[1] = QVariant(row % 1000);
        cache[2] = QVariant(qlonglong(row) * 100003);
        cache[3] = QVariant(row * 0.5);
        cache[4] = QVariant(row * 1.25);
        cache[5] = QVariant(row * 2.0);
        cache[6] = QVariant(QString::fromLocal8Bit(narrow, -1));
        cache[7] = QVariant(QString::fromUtf16(wide, 11));
        cache[8] = QVariant(QDateTime(QDate(2024, 1 + row % 12, 1 + row % 28), QTime(row % 24, row % 60, row % 60)));
        cache[9] = QVariant(row % 2 == 1);
        for (int i = 0; i < 10; ++i) {
            const QVariant value = cache.at(i);
            checksum += value.userType() + (value.isNull() ? 1 : 0);
        }
        cache.fill(QVariant());
    }
    if (checksum == 0)
        fail(QStringLiteral("no values made"));
    return limit;
}

long insertThroughQt(QSqlDatabase db, int count)
{
    QSqlQuery insert(db);
    if (!insert.prepare(QLatin1String(insertOne)))
        fail(QStringLiteral("prepare: ") + insert.lastError().text());
    const QDateTime when(QDate(2021, 3, 4), QTime(5, 6, 7));
    for (int id = 0; id < count; ++id) {
        insert.bindValue(0, id);
        insert.bindValue(1, id % 1000);
        insert.bindValue(2, qlonglong(id) * 100003);
        insert.bindValue(3, id * 0.5);
        insert.bindValue(4, id);
        insert.bindValue(5, qlonglong(id) * 10000);
        insert.bindValue(6, QStringLiteral("text value %1").arg(id));
        insert.bindValue(7, QStringLiteral("текст %1").arg(id));
        insert.bindValue(8, when);
        insert.bindValue(9, id % 2 == 1);
        if (!insert.exec())
            fail(QStringLiteral("insert: ") + insert.lastError().text());
    }
    return count;
}

// The floor: the same rows through ODBC with column-wise block fetch.
class RawOdbc
{
public:
    explicit RawOdbc(const Options &o)
    {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        const QByteArray text = odbcConnectionString(o).toUtf8();
        check(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR *>(const_cast<char *>(text.constData())),
                               SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
              SQL_HANDLE_DBC, dbc, "connect");
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    }
    ~RawOdbc()
    {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }

    long fetch(int limit)
    {
        constexpr SQLULEN block = 1000;
        struct Column { SQLSMALLINT type; SQLLEN width; };
        const Column layout[10] = {
            {SQL_C_SLONG, 4}, {SQL_C_SLONG, 4}, {SQL_C_SBIGINT, 8}, {SQL_C_DOUBLE, 8},
            {SQL_C_CHAR, 24}, {SQL_C_CHAR, 24}, {SQL_C_CHAR, 31}, {SQL_C_WCHAR, 62},
            {SQL_C_TYPE_TIMESTAMP, SQLLEN(sizeof(SQL_TIMESTAMP_STRUCT))}, {SQL_C_BIT, 1}};
        std::vector<std::vector<char>> data(10);
        std::vector<std::vector<SQLLEN>> lengths(10, std::vector<SQLLEN>(block));
        SQLULEN fetched = 0;
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
        QByteArray sql = selectRows(limit);
        check(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR *>(sql.data()), SQL_NTS),
              SQL_HANDLE_STMT, stmt, "select");
        for (int i = 0; i < 10; ++i) {
            data[i].resize(size_t(layout[i].width) * block);
            SQLBindCol(stmt, SQLUSMALLINT(i + 1), layout[i].type, data[i].data(), layout[i].width,
                       lengths[i].data());
        }
        long rows = 0;
        long checksum = 0;
        SQLRETURN rc;
        while ((rc = SQLFetch(stmt)) == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
            for (SQLULEN r = 0; r < fetched; ++r) {
                for (int i = 0; i < 10; ++i)
                    checksum += lengths[i][r] + data[i][r * size_t(layout[i].width)];
            }
            rows += long(fetched);
        }
        if (rc != SQL_NO_DATA)
            check(rc, SQL_HANDLE_STMT, stmt, "fetch");
        SQLCloseCursor(stmt);
        if (checksum == 0)
            fail(QStringLiteral("no values read"));
        return rows;
    }

private:
    static void check(SQLRETURN rc, SQLSMALLINT kind, SQLHANDLE handle, const char *what)
    {
        if (SQL_SUCCEEDED(rc))
            return;
        SQLCHAR state[6] = {}, message[512] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLGetDiagRec(kind, handle, 1, state, &native, message, sizeof message, &length);
        fail(QStringLiteral("%1: %2 %3").arg(QLatin1String(what), QLatin1String(reinterpret_cast<char *>(state)),
                                             QString::fromUtf8(reinterpret_cast<char *>(message))));
    }

    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
};

Options parse(const QStringList &args)
{
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const QString next = i + 1 < args.size() ? args.at(i + 1) : QString();
        if (arg == QLatin1String("--setup")) {
            o.setup = true;
            continue;
        }
        if (next.isEmpty())
            fail(QStringLiteral("missing value after ") + arg);
        if (arg == QLatin1String("--host")) o.host = next;
        else if (arg == QLatin1String("--database")) o.database = next;
        else if (arg == QLatin1String("--case")) o.caseName = next;
        else if (arg == QLatin1String("--rows")) o.rows = next.toInt();
        else if (arg == QLatin1String("--inserts")) o.inserts = next.toInt();
        else fail(QStringLiteral("unknown option ") + arg);
        ++i;
    }
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Options o = parse(app.arguments());
    if (o.setup) {
        setUp(o);
        // The Qt whose drivers the cases compare.
        std::printf("qt=%s\n", qVersion());
        return 0;
    }

    // Connecting and loading drivers happen before the clock starts: the
    // cases compare the work per row.
    const QString c = o.caseName;
    long rows = 0;
    double cpu = 0;
    std::pair<double, double> split;
    QElapsedTimer wall;
    {
        std::unique_ptr<RawOdbc> raw;
        QSqlDatabase db;
        if (c == QLatin1String("odbc-raw"))
            raw = std::make_unique<RawOdbc>(o);
        else if (c.startsWith(QLatin1String("qodbc")))
            db = openQt(o, QStringLiteral("QODBC"));
        else if (c == QLatin1String("rz-bigquery"))
            db = openQt(o, QStringLiteral("REZUVEDOV"), QStringLiteral("big query=1"));
        else if (c.startsWith(QLatin1String("rzodbc-")))
            db = openQt(o, QStringLiteral("REZUVEDOV"), QStringLiteral("provider=rzfreetds"));
        else if (c.startsWith(QLatin1String("rz-")))
            db = openQt(o, QStringLiteral("REZUVEDOV"));
        else if (c != QLatin1String("qt-values")) // Qt alone: no connection
            fail(QStringLiteral("unknown case ") + c);

        QSqlQuery query(db);
        if (c == QLatin1String("qodbc-forward") || c == QLatin1String("rz-forward")
            || c == QLatin1String("rzodbc-forward") || c == QLatin1String("rz-bigquery"))
            query.setForwardOnly(true);
        if (c.endsWith(QLatin1String("-insert"))) {
            exec(db, QStringLiteral("DROP TABLE IF EXISTS bench_inserts"));
            exec(db, QStringLiteral("CREATE TABLE bench_inserts (%1)").arg(QLatin1String(columns)));
        }
        const double start = processCpuMs();
        const std::pair<double, double> startSplit = userSystemMs();
        wall.start();
        if (c == QLatin1String("qt-values"))
            rows = buildQtValues(o.rows);
        else if (raw)
            rows = raw->fetch(o.rows);
        else if (c.endsWith(QLatin1String("-insert")))
            rows = insertThroughQt(db, o.inserts);
        else
            rows = fetchThroughQt(query, o.rows);
        cpu = processCpuMs() - start;
        split = userSystemMs();
        split.first -= startSplit.first;
        split.second -= startSplit.second;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench"));
    std::printf("case=%s rows=%ld cpu_ms=%.1f user_ms=%.0f sys_ms=%.0f wall_ms=%lld maxrss_kb=%ld\n",
                qPrintable(c), rows, cpu, split.first, split.second, wall.elapsed(), peakRssKb());
    return 0;
}
