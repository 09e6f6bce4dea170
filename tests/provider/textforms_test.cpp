// The provider's pure text handling: server names, connection strings,
// parameter markers, call escapes and exact decimals.

#include "provider/connectionstring.h"
#include "provider/odbc/odbccall.h"
#include "provider/sql/callescape.h"
#include "provider/sql/parametermarkers.h"
#include "provider/sql/tablename.h"
#include "provider/values/decimaltext.h"

#include <gtest/gtest.h>

#include <string>

using namespace rz::provider;

namespace {

std::string narrow(const std::u16string &s) { return std::string(s.begin(), s.end()); }

} // namespace

TEST(ServerAddress, ReadsHostPortAndInstanceFormsAsSqlServerClientsWriteThem)
{
    // An instance without a port is found through the browser service (port 0).
    const struct { const char16_t *text; const char *host; int port; const char *instance; } cases[] = {
        {u"10.0.0.1", "10.0.0.1", 1433, ""},
        {u"tcp:db.example , 14330", "db.example", 14330, ""},
        {u"host\\SQLEXPRESS", "host", 0, "SQLEXPRESS"},
        {u"(local)", "127.0.0.1", 1433, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.host);
        const auto address = parseServerAddress(c.text);
        ASSERT_TRUE(address);
        EXPECT_EQ(narrow(address->host), c.host);
        EXPECT_EQ(address->port, c.port);
        EXPECT_EQ(narrow(address->instance), c.instance);
    }
    for (const char16_t *bad : {u"host,", u"host,70000", u"host,12a", u"host\\"})
        EXPECT_FALSE(parseServerAddress(bad)) << narrow(bad);
}

TEST(ConnectionString, FreeTdsGetsServerPortProtocolAndCredentials)
{
    ConnectionSettings s;
    s.dataSource = u"127.0.0.20,1500";
    s.catalog = u"testdb";
    s.userId = u"sa";
    s.password = u"pa;ss}";
    const std::string text = narrow(buildConnectionString(s, OdbcDriverKind::FreeTds, u"{FreeTDS}"));
    EXPECT_NE(text.find("DRIVER={FreeTDS};"), std::string::npos) << text;
    EXPECT_NE(text.find("SERVER=127.0.0.20;PORT=1500;"), std::string::npos) << text;
    EXPECT_NE(text.find("TDS_Version=7.4;"), std::string::npos) << text;
    EXPECT_NE(text.find("DATABASE=testdb;"), std::string::npos) << text;
    EXPECT_NE(text.find("PWD={pa;ss}}};"), std::string::npos) << "separators in values are braced: " << text;
    EXPECT_NE(text.find("Encryption=off;"), std::string::npos) << text;
}

TEST(ConnectionString, EncryptionAndIntegratedSecurityFollowTheDriver)
{
    ConnectionSettings s;
    s.dataSource = u"h\\inst";
    s.integratedSecurity = true;
    s.encrypt = u"Mandatory";
    const std::string tds = narrow(buildConnectionString(s, OdbcDriverKind::FreeTds, u"x"));
    EXPECT_NE(tds.find("SERVER=h\\inst;"), std::string::npos) << tds;
    EXPECT_EQ(tds.find("PORT="), std::string::npos) << "the instance decides the port: " << tds;
    EXPECT_NE(tds.find("Encryption=require;"), std::string::npos) << tds;
    EXPECT_EQ(tds.find("UID="), std::string::npos) << tds;

    s.encrypt = u"Optional";
    const std::string ms18 = narrow(buildConnectionString(s, OdbcDriverKind::Microsoft18, u"{ODBC Driver 18 for SQL Server}"));
    EXPECT_NE(ms18.find("Encrypt=Optional;"), std::string::npos) << ms18;
    EXPECT_NE(ms18.find("Trusted_Connection=yes;"), std::string::npos) << ms18;
    const std::string ms17 = narrow(buildConnectionString(s, OdbcDriverKind::Microsoft17, u"x"));
    EXPECT_NE(ms17.find("Encrypt=no;"), std::string::npos) << ms17;

    s.dataSource = u"bad,port";
    EXPECT_TRUE(buildConnectionString(s, OdbcDriverKind::FreeTds, u"x").empty());
}

TEST(ParameterMarkers, OnlyMarkersOutsideLiteralsNamesAndCommentsAreNumbered)
{
    const auto r = numberParameterMarkers(
        u"SELECT '?', N'it''s ?', [a?]], b], \"c?\" -- ?\n FROM t /* ? /* ? */ ? */ WHERE x = ? AND y=?");
    EXPECT_EQ(r.markerCount, 2);
    EXPECT_EQ(narrow(r.text),
              "SELECT '?', N'it''s ?', [a?]], b], \"c?\" -- ?\n FROM t /* ? /* ? */ ? */ WHERE x = @P1 AND y=@P2");
    const auto many = numberParameterMarkers(u"VALUES(?,?,?,?,?,?,?,?,?,?,?)");
    EXPECT_EQ(many.markerCount, 11);
    EXPECT_NE(narrow(many.text).find("@P10,@P11)"), std::string::npos);
    const auto open = numberParameterMarkers(u"SELECT 'unterminated ?");
    EXPECT_EQ(open.markerCount, 0);
}

TEST(CallEscape, OneCallEscapeBecomesExecAndOtherTextStaysAsItIs)
{
    EXPECT_EQ(narrow(translateCallEscape(u"{call p}")), "EXEC p");
    EXPECT_EQ(narrow(translateCallEscape(u" { CALL dbo.[my proc}](?, 'a)}', (1)) } ")),
              "EXEC dbo.[my proc}] ?, 'a)}', (1)");
    EXPECT_EQ(narrow(translateCallEscape(u"{? = call \"p\"(?)}")), "EXEC ? = \"p\" ?");
    EXPECT_EQ(narrow(translateCallEscape(u"{call p()}")), "EXEC p");
    for (const char16_t *other : {u"SELECT 1", u"{call p", u"{call p(?}", u"{call p} SELECT 1", u"{callp}",
                                  u"{? call p}", u"{fn NOW()}"})
        EXPECT_EQ(translateCallEscape(other), other);
}

TEST(DecimalText, CurrencyIsTheAmountTimesTenThousand)
{
    EXPECT_EQ(currencyFromText("12.34"), 123400);
    EXPECT_EQ(currencyFromText("-922337203685477.5808"), INT64_MIN);
    EXPECT_EQ(currencyFromText("922337203685477.5807"), INT64_MAX);
    EXPECT_FALSE(currencyFromText("922337203685477.5808"));
    EXPECT_EQ(currencyFromText("-0.00005"), -1) << "rounded half away from zero";
    EXPECT_EQ(textFromCurrency(123400), "12.3400");
    EXPECT_EQ(textFromCurrency(-5), "-0.0005");
    EXPECT_EQ(textFromCurrency(INT64_MIN), "-922337203685477.5808");
}

TEST(Diagnostics, VendorPrefixesAreDroppedFromDriverMessages)
{
    EXPECT_EQ(narrow(withoutVendorPrefixes(u"[FreeTDS][SQL Server]Login failed for user 'sa'.")),
              "Login failed for user 'sa'.");
    EXPECT_EQ(narrow(withoutVendorPrefixes(
                  u"[Microsoft][ODBC Driver 18 for SQL Server][SQL Server]Invalid object name 'x'.\r\n")),
              "Invalid object name 'x'.");
    EXPECT_EQ(narrow(withoutVendorPrefixes(u"No prefix [here]")), "No prefix [here]");
    EXPECT_EQ(narrow(withoutVendorPrefixes(u"[unterminated")), "[unterminated");
}

TEST(TableNames, EachPartIsBracketedUnlessAlreadyQuoted)
{
    EXPECT_EQ(narrow(quotedTableName(u"Orders")), "[Orders]");
    EXPECT_EQ(narrow(quotedTableName(u"dbo.Orders")), "[dbo].[Orders]");
    EXPECT_EQ(narrow(quotedTableName(u"my]table")), "[my]]table]");
    EXPECT_EQ(narrow(quotedTableName(u"[a.b].\"c.d\"")), "[a.b].\"c.d\"") << "dots inside quotes do not split";
    EXPECT_EQ(narrow(quotedTableName(u"db..T")), "[db]..[T]");
    EXPECT_TRUE(quotedTableName(u"[open").empty());
    EXPECT_TRUE(quotedTableName(u"").empty());
}
