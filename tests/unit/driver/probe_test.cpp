// The reachability probe: a listener answers at once, anything else costs one
// half-second wait and no more.

#include "loopbacklistener.h"
#include "driver/oledbmanager.h"

#include <QtCore/QElapsedTimer>

#include <gtest/gtest.h>

namespace {

TEST(ReachabilityProbe, AListenerOnPort1433AnswersAtOnce)
{
    rztest::LoopbackListener listener("127.0.0.81");
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(OLEDBManager::instance()->isServerReachable(QStringLiteral("127.0.0.81")));
    EXPECT_LT(timer.elapsed(), 250);
}

TEST(ReachabilityProbe, ARefusedPortWaitsOutHalfASecondThenFails)
{
    // Nothing listens on 127.0.0.82: Linux refuses at once, yet the probe
    // must not report that as reachable and must wait its time-out.
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(OLEDBManager::instance()->isServerReachable(QStringLiteral("127.0.0.82")));
    const qint64 elapsed = timer.elapsed();
    EXPECT_GE(elapsed, 450);
    EXPECT_LT(elapsed, 900);
}

TEST(ReachabilityProbe, NamesAndPortSuffixesAreNeitherResolvedNorSplit)
{
    rztest::LoopbackListener listener("127.0.0.83");
    for (const char *host : {"localhost", "127.0.0.83,1433", "127.0.0.83\\SQLEXPRESS", ""}) {
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(OLEDBManager::instance()->isServerReachable(QString::fromLatin1(host))) << host;
        EXPECT_LT(timer.elapsed(), 900) << host;
    }
}

TEST(ReachabilityProbe, RepeatedProbesLeaveNoSocketOpen)
{
    rztest::LoopbackListener listener("127.0.0.84");
    const int before = rztest::openDescriptors();
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(OLEDBManager::instance()->isServerReachable(QStringLiteral("127.0.0.84")));
    EXPECT_EQ(rztest::openDescriptors(), before);
}

} // namespace
