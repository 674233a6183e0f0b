// A one-line progress bar on stderr, shown only for large payloads on a terminal.
#pragma once

#include <cstdint>

constexpr uint64_t kProgressThreshold = 16u << 20; // smaller payloads finish before it helps

struct Progress {
    bool shown = false;
    const char* label = "";
    uint64_t total = 0;
    uint64_t done = 0;
    int lastPermille = -1;
};

// Starts a bar for total bytes under label; it is drawn only when stderr is a terminal and
// total reaches kProgressThreshold.
void StartProgress(Progress* p, const char* label, uint64_t total);

// Adds n bytes of work done to p (null: nothing) and redraws it when the shown value moves.
void AdvanceProgress(Progress* p, uint64_t n);

// Draws the bar complete and ends its line.
void FinishProgress(Progress* p);

// The bar for done of total as text: "label [#####-----]  50%", width cells of bar.
void FormatProgress(char* buf, unsigned size, const char* label, uint64_t done, uint64_t total,
                    unsigned width);
