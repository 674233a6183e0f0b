/* Keeps Wine's desktop process alive for the whole benchmark.
 *
 * Wine closes its desktop a second after the last program that uses it exits, and the next
 * one that needs it starts it again (about 300 ms). extrac32 needs it and is timed whole, so
 * whether a run paid that start depended on how long the previous run's clean-up took. Held
 * here, no timed run pays it. The benchmark ends this program by killing it. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
    (void)previous;
    (void)command;
    (void)show;
    /* A window that is never shown is enough to be one of the desktop's users. */
    if (!CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, NULL, NULL, instance, NULL))
        return 1;
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}
