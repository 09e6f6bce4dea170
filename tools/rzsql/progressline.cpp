#include "progressline.h"

#include "console.h"

#include <chrono>

namespace rzsql {

namespace {
const auto quietTime = std::chrono::milliseconds(1000);
}

ProgressLine::ProgressLine(bool enabled)
    : terminal(stderrIsTerminal())
{
    if (enabled)
        watcher = std::thread([this] { watch(); });
    else
        stopped = true;
}

ProgressLine::~ProgressLine()
{
    stop();
}

void ProgressLine::stop()
{
    if (stopped)
        return;
    stopped = true;
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    wake.notify_one();
    watcher.join();
    if (shown && terminal)
        writeErr(QStringLiteral("\r\x1b[K"));
}

void ProgressLine::watch()
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    // A terminal line can follow the count closely; a log gets one a second.
    const auto interval = terminal ? std::chrono::milliseconds(200) : std::chrono::milliseconds(1000);
    Clock::time_point next = start + quietTime;
    std::unique_lock<std::mutex> lock(mutex);
    while (!wake.wait_until(lock, next, [this] { return finished; })) {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const qint64 rows = rowsRead.load(std::memory_order_relaxed);
        const QString text = rows == 0
                                 ? QStringLiteral("rzsql: waiting for rows, %1 s").arg(seconds, 0, 'f', 1)
                                 : QStringLiteral("rzsql: %1 rows read in %2 s").arg(rows).arg(seconds, 0, 'f', 1);
        writeErr(terminal ? QStringLiteral("\r") + text + QStringLiteral("\x1b[K") : text + QLatin1Char('\n'));
        shown = true;
        next += interval;
    }
}

} // namespace rzsql
