/* The demo package's own setup program: says in French that the installation has finished
   and writes install.log beside itself. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    char self[MAX_PATH], cwd[MAX_PATH], log[MAX_PATH + 16];
    SYSTEMTIME now;
    (void)instance; (void)previous; (void)commandLine; (void)show;
    GetModuleFileNameA(NULL, self, sizeof(self));
    GetCurrentDirectoryA(sizeof(cwd), cwd);
    char* slash = strrchr(self, '\\');
    if (slash)
        *slash = '\0';
    snprintf(log, sizeof(log), "%s\\install.log", self);
    GetLocalTime(&now);
    FILE* f = fopen(log, "a");
    if (f) {
        fprintf(f, "%04u-%02u-%02u %02u:%02u:%02u installation finished in %s (working folder %s)\n",
                now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, self, cwd);
        fclose(f);
    }
    MessageBoxW(NULL, L"L'installation de la démo Orvanta est terminée.", L"Démo Orvanta",
                MB_OK | MB_ICONINFORMATION);
    return 0;
}
