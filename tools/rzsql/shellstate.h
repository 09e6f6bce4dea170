#pragma once
// What one rzsql session carries from one input item to the next.

#include "resultwriter.h"

#include <QtCore/QVector>
#include <QtCore/QVariant>

#include <memory>

namespace rzsql {

struct ShellState {
    std::unique_ptr<ResultWriter> writer;
    bool timing = false;
    bool echo = false;
    QVector<QVariant> bindForEveryBatch; // --bind
    QVector<QVariant> bindForNextBatch;  // \bind
    bool nextBatchBound = false;
    bool quitRequested = false;
};

} // namespace rzsql
