// Running a cabinet's folders on several lanes at once: how many lanes a run may use, how the
// embedded cabinet's folders are shared among them, and the lanes' threads.
#pragma once

#include "extractor.h"
#include "lane_tables.h"

// The lanes a run may use: ORVANTA_THREADS when it names 1 to kMaxLanes, else the processors
// the process may run on, at most kMaxLanes.
int LaneBudget();

// Shares the embedded cabinet's folders among at most lanes lanes: their count (two or more)
// with out filled, else 0 (the cabinet is extracted on one lane).
int PlanLanes(int lanes, LaneTables* out);

// Extracts the folders of tables' lanes at the same time, lane 0 on this thread; the first
// failure claimed becomes ex's.
bool ExtractLanes(CabExtractor* ex, LaneTables* tables, int count);
