#pragma once
// The leak checks: a workload test of this same program run alone under
// valgrind (memcheck), which must pass and lose no memory. An
// AddressSanitizer build cannot run under valgrind; LeakSanitizer checks its
// workloads instead.

#include <QtCore/QCoreApplication>
#include <QtCore/QProcess>
#include <QtCore/QProcessEnvironment>
#include <QtCore/QStandardPaths>

#include <gtest/gtest.h>

namespace rztest {

// Runs the tests `gtestFilter` selects (one workload) under valgrind with
// `env` and checks the outcome.
inline void expectNoLeakUnderValgrind(const QString &gtestFilter, const QProcessEnvironment &env)
{
    const QString valgrind = QStandardPaths::findExecutable(QStringLiteral("valgrind"));
    ASSERT_FALSE(valgrind.isEmpty()) << "valgrind is not installed";
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(valgrind, {QStringLiteral("--leak-check=full"), QStringLiteral("--errors-for-leak-kinds=definite"),
                           QStringLiteral("--error-exitcode=99"), QStringLiteral("--num-callers=30"),
                           QCoreApplication::applicationFilePath(), QStringLiteral("--gtest_filter=") + gtestFilter});
    ASSERT_TRUE(child.waitForFinished(540000)) << "valgrind did not finish";
    const QByteArray output = child.readAll();
    const bool workloadPassed = output.contains("[  PASSED  ] 1 test");
    EXPECT_TRUE(workloadPassed) << output.toStdString();
    EXPECT_TRUE(output.contains("definitely lost: 0 bytes") || output.contains("All heap blocks were freed"))
        << output.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << (workloadPassed ? output.right(20000).toStdString() : std::string());
}

} // namespace rztest
