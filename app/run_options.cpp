// The switches read at start-up, the log they ask for, and the destination they choose.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "app.h"
#include "destination_rule.h"
#include "embedded_file.h"
#include "exit_codes.h"
#include "owned.h"
#include "payload_digest.h"
#include "run_log.h"
#include "wide_path.h"

RunOptions g_options;
std::atomic<uint32_t> g_exitCode{kExitSuccess};
bool g_exitFromSetup = false;

namespace {

constexpr wchar_t kSwitchList[] =
    L"/quiet\t\tsans fenêtre ni question ; attend le programme d'installation\n"
    L"/passive\tla fenêtre se déroule seule, sans question\n"
    L"/dest=DOSSIER\tle dossier d'extraction (%VARIABLES% développées)\n"
    L"/log=FICHIER\tun journal UTF-8 du déroulement\n"
    L"/extract-only\textraire sans démarrer le programme d'installation\n"
    L"-- ARGUMENTS\ttransmis tels quels au programme d'installation\n"
    L"/?\t\tcette aide";

constexpr wchar_t kExitCodeList[] =
    L"0 réussite ; sinon le code du programme d'installation, attendu\n"
    L"1602 annulé ; 87 ligne de commande incorrecte ; 13 programme endommagé ;\n"
    L"2 partie manquante ; 112 espace insuffisant ; 123 nom impossible ;\n"
    L"32 fichier utilisé ; 3 dossier impossible à créer ; 126 Cabinet.dll absente ;\n"
    L"740 élévation requise ; 1603 autre échec";

// A box owned by no window: the dialog does not exist yet.
void Say(UINT icon, const wchar_t* a, const wchar_t* b, const wchar_t* c = L"",
         const wchar_t* d = L"") {
    const wchar_t* parts[] = {a, b, c, d};
    size_t size = 1;
    for (const wchar_t* part : parts)
        size += wcslen(part);
    OwnedBlock<wchar_t> text(static_cast<wchar_t*>(malloc(size * sizeof(wchar_t))));
    if (!text)
        return;
    text.get()[0] = L'\0';
    for (const wchar_t* part : parts)
        wcscat(text.get(), part);
    MessageBoxW(nullptr, text.get(), L"" DIALOG_TITLE, MB_OK | icon);
}

// The folder a text names: %VARIABLES% expanded, made absolute from the working folder. A heap
// block; null when it cannot be had.
wchar_t* FullFolder(const wchar_t* given) {
    const DWORD expandedSize = ExpandEnvironmentStringsW(given, nullptr, 0);
    OwnedBlock<wchar_t> expanded(
        expandedSize ? static_cast<wchar_t*>(malloc(expandedSize * sizeof(wchar_t))) : nullptr);
    if (!expanded || ExpandEnvironmentStringsW(given, expanded.get(), expandedSize) == 0)
        return nullptr;
    const DWORD size = GetFullPathNameW(expanded.get(), 0, nullptr, nullptr);
    wchar_t* full = size ? static_cast<wchar_t*>(malloc(size * sizeof(wchar_t))) : nullptr;
    if (full && GetFullPathNameW(expanded.get(), size, full, nullptr) >= size) {
        free(full);
        return nullptr;
    }
    return full;
}

// The working folder, whatever its length; a heap block, null when it cannot be had.
wchar_t* WorkingFolder() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    wchar_t* folder = size ? static_cast<wchar_t*>(calloc(size, sizeof(wchar_t))) : nullptr;
    if (folder && GetCurrentDirectoryW(size, folder) >= size)
        folder[0] = L'\0';
    return folder;
}

// The design's proposal: the working folder's "Extract", unless the program was started from
// the system folder (the Run box, an elevated shortcut) or a folder too deep for it.
wchar_t* DefaultDestination() {
    wchar_t windows[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        windows[0] = L'\0';
    const OwnedBlock<wchar_t> working(WorkingFolder());
    const OwnedBlock<wchar_t> program(OwnPath());
    if (program) {
        wchar_t* slash = wcsrchr(program.get(), L'\\');
        if (slash)
            slash[slash == program.get() + 2 && program.get()[1] == L':' ? 1 : 0] = L'\0';
    }
    wchar_t profile[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile)))
        profile[0] = L'\0';
    wchar_t* proposed = static_cast<wchar_t*>(calloc(MAX_PATH, sizeof(wchar_t)));
    if (proposed)
        ProposeDestination(working ? working.get() : L"", windows, program ? program.get() : L"",
                           profile, MAX_PATH, proposed, MAX_PATH);
    return proposed;
}

// The record's text of tag as UTF-16 (heap); null when there is none.
wchar_t* RecordText(uint16_t tag) {
    PayloadRecord record;
    const char* text = nullptr;
    size_t length = 0;
    if (!FindPayloadRecord(&record) || !PayloadRecordText(record, tag, &text, &length))
        return nullptr;
    OwnedBlock<char> utf8(static_cast<char*>(malloc(length + 1)));
    if (!utf8)
        return nullptr;
    memcpy(utf8.get(), text, length);
    utf8.get()[length] = '\0';
    return Utf8ToWide(utf8.get());
}

// The program's file version, from its version resource, into the log.
void LogVersion() {
    const HRSRC found = FindResourceW(g_hInstance, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    const HGLOBAL loaded = found ? LoadResource(g_hInstance, found) : nullptr;
    const unsigned char* data =
        loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    const DWORD size = found ? SizeofResource(g_hInstance, found) : 0;
    // VS_FIXEDFILEINFO starts with its signature, 32-bit aligned, after the block's header.
    for (DWORD at = 0; data && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        memcpy(&info, data + at, sizeof(info));
        if (info.dwSignature != 0xFEEF04BD)
            continue;
        char version[64];
        wsprintfA(version, "%u.%u.%u.%u", HIWORD(info.dwFileVersionMS),
                  LOWORD(info.dwFileVersionMS), HIWORD(info.dwFileVersionLS),
                  LOWORD(info.dwFileVersionLS));
        LogLine("version: ", version);
        return;
    }
}

} // namespace

int ReadRunOptions() {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    const bool parsed =
        !args || count < 2 ||
        ParseRunOptions(const_cast<const wchar_t* const*>(args + 1), count - 1, &g_options);
    const bool noMemory = !args || (!parsed && !g_options.refused);
    if (args)
        LocalFree(args);
    // A log that cannot be made is refused before anything else happens.
    if (g_options.log && !OpenRunLog(g_options.log)) {
        if (!Unattended())
            Say(MB_ICONERROR, L"Le journal « ", g_options.log, L" » ne peut pas être créé.");
        return kExitFailure;
    }
    LogVersion();
    LogLineW("command line: ", GetCommandLineW());
    if (noMemory && !parsed)
        return kExitFailure;
    if (!parsed) {
        LogLineW("refused switch: ", g_options.refused);
        if (!Unattended())
            Say(MB_ICONERROR, L"Option incorrecte : ", g_options.refused, L"\n\nOptions :\n",
                kSwitchList);
        return kExitBadCommandLine;
    }
    if (g_options.help) {
        Say(MB_ICONINFORMATION, L"Options :\n", kSwitchList, L"\n\nCodes de sortie :\n",
            kExitCodeList);
        return kExitSuccess;
    }
    return -1;
}

wchar_t* ChooseDestination() {
    // The person's /dest= first, then the author's choice, then the design's.
    if (g_options.destination)
        return FullFolder(g_options.destination);
    const OwnedBlock<wchar_t> authored(RecordText(kTextDestination));
    if (authored)
        return FullFolder(authored.get());
    return DefaultDestination();
}

wchar_t* SetupArguments() {
    if (g_options.setupArgs) {
        const size_t n = wcslen(g_options.setupArgs) + 1;
        wchar_t* copy = static_cast<wchar_t*>(malloc(n * sizeof(wchar_t)));
        if (copy)
            wmemcpy(copy, g_options.setupArgs, n);
        return copy;
    }
    return RecordText(kTextSetupArgs);
}
