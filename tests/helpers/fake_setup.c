/* Stand-in for a package's setup program: records how it was started in launched.txt next
   to itself ("<its file name>|<working folder>"), appending, so a second start shows. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    char self[MAX_PATH], cwd[MAX_PATH], log[MAX_PATH + 16];
    (void)instance; (void)previous; (void)commandLine; (void)show;
    GetModuleFileNameA(NULL, self, sizeof(self));
    GetCurrentDirectoryA(sizeof(cwd), cwd);
    char* slash = strrchr(self, '\\');
    if (!slash)
        return 1;
    *slash = '\0';
    snprintf(log, sizeof(log), "%s\\launched.txt", self);
    FILE* f = fopen(log, "a");
    if (!f)
        return 1;
    fprintf(f, "%s|%s\n", slash + 1, cwd);
    fclose(f);
    return 0;
}
