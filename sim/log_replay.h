#pragma once
// The card's books at start: the snapshot with the log's records replayed over it, once the
// records prove to continue it. The counters (transaction and report numbers) of one record
// never fall below those of the record before and never rise by more than one; the first
// record continues the snapshot, or, when the log was not yet emptied after the snapshot, the
// records up to the snapshot's counters replay into exactly the snapshot. Anything else (a log
// older than the snapshot, a snapshot older than the log, records out of order) is refused.

#include <vector>

#include "common/result.h"
#include "sim/card_files.h"
#include "sim/card_state.h"
#include "sim/log_frames.h"

namespace kasse::sim {

Result<CardState> ReplayLog(const CardState& snapshot, const std::vector<LogRecord>& records,
                            const CardPaths& paths);

}  // namespace kasse::sim
