/* Test helper: reads an executable's branding the way Windows shows it and prints one
   tab-separated line per finding:
     fixed     FILEVERSION PRODUCTVERSION       from the fixed file information
     string    TABLE KEY VALUE                  each known key, UTF-8
     icon      SIZE WIDTHxHEIGHT RRGGBB         the first icon group loaded at SIZE pixels, and
                                                the colour of its centre pixel
     shell     large|small WIDTHxHEIGHT RRGGBB  what ExtractIconExW gives for icon 0
     resource  TYPE NAME LANGUAGE SIZE HASH     every resource (numeric ids), FNV-1a of its data
     relocations SIZE HASH                      the base relocation table the header points at
     checksum  HEADER COMPUTED                  from MapFileAndCheckSumW

   Usage: brandread FILE SIZE... */
#include <windows.h>
#include <imagehlp.h>
#include <stdio.h>
#include <stdlib.h>

static const wchar_t* const kKeys[] = {L"FileVersion",      L"ProductVersion", L"ProductName",
                                       L"FileDescription",  L"CompanyName",    L"LegalCopyright",
                                       L"OriginalFilename", L"InternalName",   L"Comments"};

static void PrintUtf8(const wchar_t* text) {
    char utf8[4096];
    if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), NULL, NULL))
        utf8[0] = '\0';
    fputs(utf8, stdout);
}

static void PrintVersion(const wchar_t* path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    BYTE* block = size ? malloc(size) : NULL;
    VS_FIXEDFILEINFO* fixed = NULL;
    WORD* translation = NULL;
    UINT n = 0;
    if (!block || !GetFileVersionInfoW(path, 0, size, block)) {
        printf("version\tnone\n");
        free(block);
        return;
    }
    if (VerQueryValueW(block, L"\\", (void**)&fixed, &n) && n >= sizeof(*fixed))
        printf("fixed\t%lu.%lu.%lu.%lu\t%lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16,
               fixed->dwFileVersionMS & 0xffff, fixed->dwFileVersionLS >> 16,
               fixed->dwFileVersionLS & 0xffff, fixed->dwProductVersionMS >> 16,
               fixed->dwProductVersionMS & 0xffff, fixed->dwProductVersionLS >> 16,
               fixed->dwProductVersionLS & 0xffff);
    if (VerQueryValueW(block, L"\\VarFileInfo\\Translation", (void**)&translation, &n) && n >= 4) {
        for (size_t i = 0; i < sizeof(kKeys) / sizeof(kKeys[0]); ++i) {
            wchar_t query[128];
            wchar_t* value = NULL;
            swprintf(query, 128, L"\\StringFileInfo\\%04X%04X\\%ls", translation[0], translation[1],
                     kKeys[i]);
            if (!VerQueryValueW(block, query, (void**)&value, &n) || !value)
                continue;
            printf("string\t%04X%04X\t", translation[0], translation[1]);
            PrintUtf8(kKeys[i]);
            putchar('\t');
            PrintUtf8(value);
            putchar('\n');
        }
    }
    free(block);
}

/* Prints the size and the centre pixel of icon. */
static void PrintIcon(const char* label, HICON icon) {
    ICONINFO info;
    BITMAP bm;
    if (!icon || !GetIconInfo(icon, &info) || !GetObjectW(info.hbmColor, sizeof(bm), &bm)) {
        printf("%s\tnone\n", label);
        return;
    }
    BITMAPINFO bi = {0};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = bm.bmWidth;
    bi.bmiHeader.biHeight = -bm.bmHeight; /* top-down */
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    DWORD* pixels = calloc((size_t)bm.bmWidth * bm.bmHeight, 4);
    HDC dc = GetDC(NULL);
    GetDIBits(dc, info.hbmColor, 0, bm.bmHeight, pixels, &bi, DIB_RGB_COLORS);
    ReleaseDC(NULL, dc);
    printf("%s\t%ldx%ld\t%06lX\n", label, bm.bmWidth, bm.bmHeight,
           pixels[bm.bmHeight / 2 * bm.bmWidth + bm.bmWidth / 2] & 0xffffff);
    free(pixels);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

static unsigned Hash(const BYTE* data, DWORD size) {
    unsigned hash = 2166136261u;
    for (DWORD i = 0; data && i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

static LPWSTR s_group;

static BOOL CALLBACK FirstGroup(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
    (void)module, (void)type, (void)param;
    s_group = IS_INTRESOURCE(name) ? name : _wcsdup(name);
    return FALSE;
}

static BOOL CALLBACK EachLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language,
                                  LONG_PTR param) {
    (void)param;
    HRSRC found = FindResourceExW(module, type, name, language);
    const BYTE* data = found ? LockResource(LoadResource(module, found)) : NULL;
    const DWORD size = found ? SizeofResource(module, found) : 0;
    if (IS_INTRESOURCE(type) && IS_INTRESOURCE(name))
        printf("resource\t%u\t%u\t%u\t%lu\t%08x\n", (unsigned)(ULONG_PTR)type,
               (unsigned)(ULONG_PTR)name, language, size, Hash(data, size));
    return TRUE;
}

static BOOL CALLBACK EachName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
    return EnumResourceLanguagesW(module, type, name, EachLanguage, param) || TRUE;
}

static BOOL CALLBACK EachType(HMODULE module, LPWSTR type, LONG_PTR param) {
    return EnumResourceNamesW(module, type, EachName, param) || TRUE;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: brandread FILE SIZE...\n");
        return 2;
    }
    PrintVersion(argv[1]);
    HMODULE module = LoadLibraryExW(argv[1], NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (module)
        EnumResourceNamesW(module, (LPCWSTR)RT_GROUP_ICON, FirstGroup, 0);
    for (int i = 2; i < argc && s_group; ++i) {
        const int size = _wtoi(argv[i]);
        char label[32];
        snprintf(label, sizeof(label), "icon\t%d", size);
        HICON icon = LoadImageW(module, s_group, IMAGE_ICON, size, size, LR_DEFAULTCOLOR);
        PrintIcon(label, icon);
        DestroyIcon(icon);
    }
    /* One size a call: asked for both at once, Wine makes the small icon from the large
       image. */
    HICON large = NULL, small = NULL;
    ExtractIconExW(argv[1], 0, &large, NULL, 1);
    ExtractIconExW(argv[1], 0, NULL, &small, 1);
    PrintIcon("shell\tlarge", large);
    PrintIcon("shell\tsmall", small);
    if (module) {
        EnumResourceTypesW(module, EachType, 0);
        /* A data file's handle is its flat mapping with the low bits set. */
        ULONG size = 0;
        const BYTE* relocations =
            ImageDirectoryEntryToData((void*)((ULONG_PTR)module & ~(ULONG_PTR)3), FALSE,
                                      IMAGE_DIRECTORY_ENTRY_BASERELOC, &size);
        printf("relocations\t%lu\t%08x\n", size, Hash(relocations, size));
        FreeLibrary(module);
    }
    DWORD header = 0, computed = 0;
    if (MapFileAndCheckSumW(argv[1], &header, &computed) == CHECKSUM_SUCCESS)
        printf("checksum\t%08lx\t%08lx\n", header, computed);
    fflush(stdout);
    return 0;
}
