#pragma once
// A line on standard error for a statement whose results take more than a
// second, so that a long wait is not mistaken for a hang. A driver may read
// every row inside exec() (a client cursor), so a watcher thread writes the
// line while the shell's own thread is blocked in the driver. In a terminal
// the line is rewritten in place and wiped at the end; elsewhere it comes
// once a second.

#include <QtCore/QtGlobal>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace rzsql {

class ProgressLine {
public:
    explicit ProgressLine(bool enabled = true); // starts the clock
    ~ProgressLine(); // stop()

    // Ends the line before anything else is printed; later calls do nothing.
    void stop();
    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    void setRowsRead(qint64 rows) { rowsRead.store(rows, std::memory_order_relaxed); }

private:
    void watch();

    std::atomic<qint64> rowsRead{0};
    std::mutex mutex;
    std::condition_variable wake;
    bool finished = false; // guarded by mutex
    bool terminal;
    bool shown = false;    // only the watcher touches it until it is joined
    bool stopped = false;
    std::thread watcher;
};

} // namespace rzsql
