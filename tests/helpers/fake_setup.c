/* Stand-in for a package's setup program: records how it was started in launched.txt next
   to itself ("<its file name>|<working folder>", UTF-8), appending, so a second start shows,
   and its whole command line in args.txt. Given "/exit=N" it ends with code N (32 bits).
   Wide calls throughout: its folder may hold characters outside the ANSI code page. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    wchar_t self[4096], cwd[4096], log[4096 + 16];
    char name[4 * 4096], folder[4 * 4096];
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    GetModuleFileNameW(NULL, self, 4096);
    GetCurrentDirectoryW(4096, cwd);
    wchar_t* slash = wcsrchr(self, L'\\');
    if (!slash)
        return 1;
    *slash = L'\0';
    _snwprintf(log, sizeof(log) / sizeof(log[0]), L"%ls\\launched.txt", self);
    WideCharToMultiByte(CP_UTF8, 0, slash + 1, -1, name, sizeof(name), NULL, NULL);
    WideCharToMultiByte(CP_UTF8, 0, cwd, -1, folder, sizeof(folder), NULL, NULL);
    FILE* f = _wfopen(log, L"a");
    if (!f)
        return 1;
    fprintf(f, "%s|%s\n", name, folder);
    fclose(f);
    static char line[4 * 8192];
    WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof(line), NULL, NULL);
    _snwprintf(log, sizeof(log) / sizeof(log[0]), L"%ls\\args.txt", self);
    f = _wfopen(log, L"wb");
    if (f) {
        fputs(line, f);
        fclose(f);
    }
    const wchar_t* code = wcsstr(GetCommandLineW(), L"/exit=");
    return code ? (int)wcstoul(code + 6, NULL, 10) : 0;
}
