// What a result gives back, in which order, and the last inserted identity
// read beside a statement without disturbing it.

#include "resultfixture.h"

#include <algorithm>

namespace {

using namespace rztest;

class Release : public ResultTest
{
};

// The calls of `log` from the first one starting with each prefix, in the
// order they happened.
std::vector<std::string> firstOf(const StatementLog &log, std::initializer_list<const char *> prefixes)
{
    std::vector<std::pair<int, std::string>> found;
    for (const char *p : prefixes)
        found.emplace_back(log.indexOf(p), p);
    std::sort(found.begin(), found.end());
    std::vector<std::string> order;
    for (const auto &f : found)
        order.push_back(f.first < 0 ? std::string("missing ") + f.second : f.second);
    return order;
}

TEST_F(Release, DestroyingAQueryOnARowReleasesRowValuesAccessorsRowsetResultsThenCommand)
{
    rowset().columns = {{"id", DBTYPE_I4, 4}, {"t", DBTYPE_WSTR, ~DBLENGTH(0), DBCOLUMNFLAGS_ISLONG}};
    rowset().rows = {{cell<qint32>(1), wideText(u"long")}};
    {
        QSqlQuery q = query();
        ASSERT_TRUE(q.exec("SELECT id, t"));
        ASSERT_TRUE(q.next());
        log().clear();
    }
    EXPECT_EQ(firstOf(log(), {"~Stream", "Rowset.ReleaseAccessor", "Rowset.ReleaseRows", "~Rowset",
                              "~MultipleResults", "~Command"}),
              (std::vector<std::string>{"~Stream", "Rowset.ReleaseAccessor", "Rowset.ReleaseRows",
                                        "~Rowset", "~MultipleResults", "~Command"}));
    EXPECT_EQ(log().liveAccessors, 0);
}

TEST_F(Release, TheParameterAccessorGoesBeforeItsCommand)
{
    command().parameters = {{"@P1", DBTYPE_I4, 4}};
    {
        QSqlQuery q = query();
        ASSERT_TRUE(q.prepare("SELECT id FROM t WHERE id = ?"));
        q.addBindValue(1);
        ASSERT_TRUE(q.exec());
        log().clear();
    }
    EXPECT_EQ(firstOf(log(), {"Rowset.ReleaseAccessor", "~Rowset", "Command.ReleaseAccessor", "~Command"}),
              (std::vector<std::string>{"Rowset.ReleaseAccessor", "~Rowset", "Command.ReleaseAccessor",
                                        "~Command"}));
    EXPECT_EQ(log().count("~MultipleResults"), 0) << "already gone right after the execution";
    EXPECT_EQ(log().liveAccessors, 0);
}

TEST_F(Release, ANewPrepareGivesUpTheWholePreviousStatement)
{
    rowset().rows = {{cell<qint32>(1)}};
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT id"));
    ASSERT_TRUE(q.next());
    ASSERT_TRUE(q.prepare("SELECT id"));
    EXPECT_EQ(log().liveRowsets, 0);
    EXPECT_EQ(log().liveRows, 0);
    EXPECT_EQ(log().liveCommands, 1);
    EXPECT_EQ(log().count("~Command"), 1);
}

TEST_F(Release, LastInsertIdReadsTheIdentityAsADoubleBesideTheOpenResult)
{
    DB_NUMERIC fortyTwo = {};
    fortyTwo.precision = 38;
    fortyTwo.sign = 1;
    fortyTwo.val[0] = 42;
    rowset().columns = {{"LASTID", DBTYPE_NUMERIC, 19, 0, 38, 0}};
    rowset().rows = {{cell(fortyTwo)}, {cell(fortyTwo)}};
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT LASTID FROM t"));
    ASSERT_TRUE(q.next());
    const QVariant id = q.lastInsertId();
    EXPECT_EQ(id.userType(), int(QMetaType::Double));
    EXPECT_EQ(id.toDouble(), 42.0);
    EXPECT_EQ(log().count("Command.SetCommandText(DBGUID_DEFAULT,SELECT  @@IDENTITY  AS LASTID )"), 1);
    // Its own command is gone; the query's row is still there.
    EXPECT_EQ(log().liveCommands, 1);
    EXPECT_EQ(log().liveRowsets, 1);
    EXPECT_EQ(q.at(), 0);
    EXPECT_TRUE(q.isActive());
    EXPECT_TRUE(q.next());
}

TEST_F(Release, LastInsertIdIsInvalidForNullOrAnotherColumnOrAFailure)
{
    rowset().columns = {{"LASTID", DBTYPE_NUMERIC, 19, 0, 38, 0}};
    rowset().rows = {{nullCell()}};
    QSqlQuery q = query();
    EXPECT_FALSE(q.lastInsertId().isValid());

    DB_NUMERIC one = {};
    one.sign = 1;
    one.val[0] = 1;
    rowset().columns = {{"lastid", DBTYPE_NUMERIC, 19, 0, 38, 0}};
    rowset().rows = {{cell(one)}};
    EXPECT_FALSE(q.lastInsertId().isValid()) << "the name must match exactly";

    rowset().columns = {{"LASTID", DBTYPE_NUMERIC, 19, 0, 38, 0}};
    rowset().rows.clear();
    EXPECT_FALSE(q.lastInsertId().isValid()) << "no row";

    rowset().rows = {{cell(one)}};
    command().execute = DB_E_ERRORSINCOMMAND;
    command().executeRowset = DB_E_ERRORSINCOMMAND;
    EXPECT_FALSE(q.lastInsertId().isValid());
    EXPECT_FALSE(q.lastError().isValid()) << "nothing is reported";
    EXPECT_EQ(log().liveCommands, 0);
}

} // namespace
