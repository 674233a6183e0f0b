// The progress bar an author asks for at pack time (the payload record's mark): made when
// "Extraire" starts the job, moved by the bytes written against the payload's total, and shown
// on the taskbar button where Windows has one (7 and later).
#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>

#include "app.h"
#include "owned.h"
#include "payload_digest.h"
#include "stream_callbacks.h"

std::atomic<uint32_t> g_payloadKiB{0};

namespace {

constexpr int kBarRange = 10000;
// Where the bar goes, in dialog units: under the progress text, above the brand line.
constexpr RECT kBarPlace = {7, 90, 7 + 306, 90 + 10};
// Between records, a file of hundreds of megabytes would leave the bar still. Each move
// repaints the bar, which under Wine slowed runs by 3 to 4% at 20 moves a second and a
// 32-bit one still measurably at ten: four are enough for an eye on a bar.
constexpr UINT kBarTimerMs = 250;

// How long a run goes before its taskbar button shows the progress too.
constexpr DWORD kTaskbarAfterMs = 1000;

HWND s_bar = nullptr;
DWORD s_createdAt = 0;
OwnedCom<ITaskbarList3> s_taskbar;
int s_shown = 0;
// The shell's word that the dialog's taskbar button exists: no call before it (ITaskbarList3).
UINT s_buttonCreatedMessage = 0;
bool s_buttonCreated = false;

} // namespace

void WatchTaskbarButton(HWND dialog) {
    s_buttonCreatedMessage = RegisterWindowMessageW(L"TaskbarButtonCreated");
    // An elevated program does not get the shell's messages unless it lets them through
    // (Windows 7 and later; found at run time, as Vista has the older, process-wide filter).
    using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    const auto filter = reinterpret_cast<FilterFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx")));
    if (filter && s_buttonCreatedMessage)
        filter(dialog, s_buttonCreatedMessage, 1 /* MSGFLT_ALLOW */, nullptr);
}

bool IsTaskbarButtonCreated(UINT message) {
    if (!s_buttonCreatedMessage || message != s_buttonCreatedMessage)
        return false;
    s_buttonCreated = true;
    return true;
}

void SetTaskbarState(HWND dialog, int state) {
    if (s_taskbar)
        s_taskbar->SetProgressState(dialog, static_cast<TBPFLAG>(state));
}

void CreateProgressBar(HWND dialog) {
    PayloadRecord record;
    if (!FindPayloadRecord(&record) || !(record.flags & kRecordProgressBar))
        return; // the dialog stays exactly as designed
    RECT place = kBarPlace;
    MapDialogRect(dialog, &place);
    s_bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, place.left, place.top,
                            place.right - place.left, place.bottom - place.top, dialog,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS_BAR)),
                            GetModuleHandleW(nullptr), nullptr);
    if (!s_bar)
        return;
    SendMessageW(s_bar, PBM_SETRANGE32, 0, kBarRange);
    SetTimer(dialog, IDT_PROGRESS_BAR, kBarTimerMs, nullptr);
    s_createdAt = GetTickCount();
}

// The taskbar button's progress, for a run long enough that the user may look away: asked for
// only once the bar has moved for a while, as loading the shell's object costs a run of a few
// hundred milliseconds more than the bar itself. Where the interface is missing (before
// Windows 7) the bar goes without it.
static void ConnectTaskbar() {
    static bool s_asked = false;
    if (s_asked || !s_buttonCreated || GetTickCount() - s_createdAt < kTaskbarAfterMs)
        return;
    s_asked = true;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ITaskbarList3, s_taskbar.out())) &&
        FAILED(s_taskbar->HrInit()))
        s_taskbar.reset();
}

void ReleaseProgressBar() {
    s_taskbar.reset();
}

void UpdateProgressBar(HWND dialog, bool last) {
    if (!s_bar)
        return;
    // Takes of progress records come a frame apart: the bar moves no more often than the timer.
    static DWORD s_movedAt = 0;
    const DWORD now = GetTickCount();
    if (!last && s_movedAt != 0 && now - s_movedAt < kBarTimerMs)
        return;
    const uint32_t total = g_payloadKiB.load(std::memory_order_relaxed);
    uint32_t done = g_writtenKiB.load(std::memory_order_relaxed);
    if (done > total)
        done = total; // files that start in a later part were not counted
    const int position =
        total ? static_cast<int>(static_cast<uint64_t>(done) * kBarRange / total) : 0;
    if (position <= s_shown)
        return; // forward only, and no repaint for nothing
    s_shown = position;
    s_movedAt = now;
    SendMessageW(s_bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    ConnectTaskbar();
    if (s_taskbar)
        s_taskbar->SetProgressValue(dialog, static_cast<ULONGLONG>(position), kBarRange);
}
