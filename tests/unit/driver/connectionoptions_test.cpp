// How open() reads its options string and orders the hosts it tries.

#include "driver/connectionoptions.h"

#include <gtest/gtest.h>

namespace {

TEST(ConnectionOptions, ProviderAndPartnerValuesArriveLowerCasedAndTrimmedAtTheEnds)
{
    const ConnectionOptions options =
        parseConnectionOptions(QStringLiteral("Provider=MSOLEDBSQL;Failover Partner=10.0.0.2"));
    EXPECT_EQ(options.provider, QStringLiteral("msoledbsql"));
    EXPECT_EQ(options.failoverPartner, QStringLiteral("10.0.0.2"));
    EXPECT_FALSE(options.bigQuery);

    // Blanks after the "=" belong to the value; blanks around the item do not.
    const ConnectionOptions spaced =
        parseConnectionOptions(QStringLiteral("  PROVIDER= SQLOLEDB  ; failover partner=Host "));
    EXPECT_EQ(spaced.provider, QStringLiteral(" sqloledb"));
    EXPECT_EQ(spaced.failoverPartner, QStringLiteral("host"));
}

TEST(ConnectionOptions, BigQueryInAnyCaseAndSpacingIsSeenWhateverItsValue)
{
    for (const char *text : {"big query=1", " BIG QUERY= ", "Big Query=no", "x;bIG qUERY=;y"})
        EXPECT_TRUE(parseConnectionOptions(QString::fromLatin1(text)).bigQuery) << text;
    for (const char *text : {"", "bigquery=1", "big query =1", "big  query=1"})
        EXPECT_FALSE(parseConnectionOptions(QString::fromLatin1(text)).bigQuery) << text;
}

TEST(ConnectionOptions, UnknownItemsBecomeThePartnerExactlyAsWritten)
{
    EXPECT_EQ(parseConnectionOptions(QStringLiteral("10.0.0.3")).failoverPartner,
              QStringLiteral("10.0.0.3"));
    // A blank before "=" is no key at all.
    EXPECT_EQ(parseConnectionOptions(QStringLiteral("provider = X")).failoverPartner,
              QStringLiteral("provider = X"));
    const ConnectionOptions bare = parseConnectionOptions(QStringLiteral("provider = X"));
    EXPECT_TRUE(bare.provider.isEmpty());
    // A trailing ";" is an empty item and empties an earlier partner.
    EXPECT_EQ(parseConnectionOptions(QStringLiteral("Failover Partner=10.0.0.2;")).failoverPartner,
              QString());
    // Mirroring is accepted and changes nothing.
    const ConnectionOptions mirroring =
        parseConnectionOptions(QStringLiteral("failover partner=a;Enable Mirroring=yes"));
    EXPECT_EQ(mirroring.failoverPartner, QStringLiteral("a"));
}

TEST(ConnectionOptions, LaterItemsOverrideEarlierOnes)
{
    const ConnectionOptions options = parseConnectionOptions(
        QStringLiteral("provider=a;failover partner=b;provider=c;  Bare Host  "));
    EXPECT_EQ(options.provider, QStringLiteral("c"));
    EXPECT_EQ(options.failoverPartner, QStringLiteral("  Bare Host  "));
}

TEST(HostOrder, WithoutPartnerOnlyTheHostIsTriedWhateverConnectedLast)
{
    EXPECT_EQ(hostsToTry(QStringLiteral("10.0.0.1"), QString(), QStringLiteral("10.0.0.2")),
              QStringList{QStringLiteral("10.0.0.1")});
    EXPECT_EQ(hostsToTry(QString(), QString(), QString()), QStringList{QString()});
}

TEST(HostOrder, TheHostThatConnectedLastGoesFirst)
{
    const QString primary = QStringLiteral("10.0.0.1"), partner = QStringLiteral("10.0.0.2");
    EXPECT_EQ(hostsToTry(primary, partner, QString()), (QStringList{primary, partner}));
    EXPECT_EQ(hostsToTry(primary, partner, primary), (QStringList{primary, partner}));
    EXPECT_EQ(hostsToTry(primary, partner, partner), (QStringList{partner, primary}));
    EXPECT_EQ(hostsToTry(primary, partner, QStringLiteral("10.0.0.9")), (QStringList{primary, partner}));
}

TEST(HostOrder, APartnerEqualToTheHostIsTriedTwiceUnlessItConnectedLast)
{
    const QString host = QStringLiteral("10.0.0.1");
    EXPECT_EQ(hostsToTry(host, host, QString()), (QStringList{host, host}));
    EXPECT_EQ(hostsToTry(host, host, host), QStringList{host});
}

} // namespace
