// A QSqlQuery over a statement whose provider hands back the client cursor
// (as DBPROP_CLIENTCURSOR asks): size, last, seek and backward moves over
// a hundred thousand rows of a forward-only source.

#include "../result/resultfixture.h"

namespace {

using namespace rztest;

class CursorQuery : public ResultTest
{
};

TEST_F(CursorQuery, AHundredThousandRowsAnswerSizeLastSeekAndPrevious)
{
    const int n = 100000;
    rowset().scrollable = false;
    rowset().columns = {{"id", DBTYPE_I4, 4}, {"label", DBTYPE_STR, 12}};
    for (int i = 0; i < n; ++i)
        rowset().rows.push_back({cell<qint32>(i), narrowText("r" + std::to_string(i))});
    command().clientCursor = true;
    commands.statement()->quiet = true;

    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT id, label FROM big"));
    EXPECT_EQ(log().liveRowsets, 0) << "the forward-only source is gone: the connection is free";
    EXPECT_EQ(q.size(), n);
    ASSERT_TRUE(q.last());
    EXPECT_EQ(q.at(), n - 1);
    EXPECT_EQ(q.value(0).toInt(), n - 1);
    ASSERT_TRUE(q.previous());
    EXPECT_EQ(q.value(0).toInt(), n - 2);
    ASSERT_TRUE(q.seek(12345));
    EXPECT_EQ(q.value(1).toString(), "r12345");
    ASSERT_TRUE(q.previous());
    EXPECT_EQ(q.value(0).toInt(), 12344);
    ASSERT_TRUE(q.first());
    EXPECT_EQ(q.value(1).toString(), "r0");
    EXPECT_FALSE(q.previous());
    EXPECT_FALSE(q.seek(n));
    ASSERT_TRUE(q.seek(n - 1));
    EXPECT_FALSE(q.next());
    EXPECT_EQ(q.at(), int(QSql::AfterLastRow));
    EXPECT_EQ(q.size(), n);
}

} // namespace
