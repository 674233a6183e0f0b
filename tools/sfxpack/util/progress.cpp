#include "util/progress.h"

#include <cstdio>
#include <unistd.h>

constexpr unsigned kBarWidth = 30;

void FormatProgress(char* buf, unsigned size, const char* label, uint64_t done, uint64_t total,
                    unsigned width) {
    if (size == 0)
        return;
    const uint64_t clamped = done < total ? done : total;
    const unsigned filled = total ? static_cast<unsigned>(clamped * width / total) : width;
    const unsigned percent = total ? static_cast<unsigned>(clamped * 100 / total) : 100;
    char bar[128];
    unsigned i = 0;
    for (; i < width && i + 1 < sizeof(bar); ++i)
        bar[i] = i < filled ? '#' : '-';
    bar[i] = '\0';
    snprintf(buf, size, "%s [%s] %3u%%", label, bar, percent);
}

// Redraws p over the current terminal line.
static void Draw(const Progress* p) {
    char line[256];
    FormatProgress(line, sizeof(line), p->label, p->done, p->total, kBarWidth);
    fprintf(stderr, "\r%s", line);
    fflush(stderr);
}

void StartProgress(Progress* p, const char* label, uint64_t total) {
    p->label = label;
    p->total = total;
    p->done = 0;
    p->lastPermille = -1;
    p->shown = total >= kProgressThreshold && isatty(STDERR_FILENO);
    if (p->shown)
        Draw(p);
}

void AdvanceProgress(Progress* p, uint64_t n) {
    if (!p || !p->shown)
        return;
    p->done += n;
    const uint64_t clamped = p->done < p->total ? p->done : p->total;
    const int permille = p->total ? static_cast<int>(clamped * 1000 / p->total) : 1000;
    if (permille != p->lastPermille) {
        p->lastPermille = permille;
        Draw(p);
    }
}

void FinishProgress(Progress* p) {
    if (!p->shown)
        return;
    p->done = p->total;
    Draw(p);
    fputc('\n', stderr);
    p->shown = false;
}
