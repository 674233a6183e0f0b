// Times what the installer checks before its first write. Packed by sfxpack as if it were the
// stub (it carries the program's resources), it times the checks on its own payload as the
// installer makes them: the digest, begun at start-up, and what the click then costs (the
// file table with the names, the room, the digest's result). Given the
// payload's cabinet as a file too, it times the two ways of listing the files, both applying
// the name rules to every name: the cabinet library with every file skipped, and the
// program's own reader of the file table.
//   check_cost.exe RUNS [CABINET]
// Prints one line per measure: its median over RUNS, in milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "binding.h"
#include "embedded_file.h"
#include "names.h"
#include "payload_digest.h"
#include "precheck.h"
#include "wide_path.h"

namespace {

int s_files;

// Every file offered is checked as the driver would, then skipped.
INT_PTR DIAMONDAPI SkipAll(FDINOTIFICATIONTYPE type, PFDINOTIFICATION pfdin) {
    if (type != fdintCOPY_FILE)
        return 0;
    char* name = nullptr;
    if (DecodeArchivedName(pfdin->psz1, pfdin->attribs & kAttrNameIsUtf8, CP_ACP, &name) ==
        kDecoded) {
        OutputPath out = {};
        if (ComposeOutputPath("C:\\listing\\", name, &out) == kComposed)
            ++s_files;
        FreeOutputPath(&out);
    }
    free(name);
    return 0;
}

double Now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    g_hInstance = GetModuleHandleW(nullptr);
    if (argc < 2 || argc > 3 || atoi(argv[1]) < 1) {
        fprintf(stderr, "usage: check_cost RUNS [CABINET]\n");
        return 2;
    }
    const int runs = atoi(argv[1]);
    // The destination as the job hands it over (NormaliseDestination: a trailing '\\').
    const char* destination = "C:\\check-cost\\Extract\\";
    // As the program does: the digest starts with the process, the click comes later.
    double start = Now();
    StartPayloadDigest();
    {
        CabExtractor ex(nullptr);
        CheckBeforeExtracting(&ex, destination, nullptr);
    }
    printf("digest, from start-up, in the background: %.2f ms\n", Now() - start);
    std::vector<double> check;
    for (int i = 0; i < runs; ++i) {
        // One record per run, as the job makes one; made outside the timed part.
        CabExtractor ex(nullptr);
        uint64_t bytes = 0;
        const double start = Now();
        const int code = CheckBeforeExtracting(&ex, destination, &bytes);
        check.push_back(Now() - start);
        if (code != 0) {
            fprintf(stderr, "check_cost: the check failed (%d): %s\n", code, FailureText(&ex));
            return 1;
        }
    }
    printf("check after the click, the digest done: %.2f ms\n", Median(check));
    if (argc < 3)
        return 0;
    std::vector<double> library, reader;
    for (int i = 0; i < runs; ++i) {
        // The library way includes binding it, as a run would have to.
        start = Now();
        {
            CabExtractor ex(nullptr);
            if (!LoadCabinetLibrary(&ex))
                return 1;
            s_files = 0;
            char empty[] = "";
            ex.pfnFDICopy(ex.hfdi, argv[2], empty, 0, SkipAll, nullptr, &ex);
        }
        library.push_back(Now() - start);
        CabExtractor ex(nullptr);
        ex.destination = "C:\\check-cost\\";
        start = Now();
        const int code = CheckContinuation(&ex, argv[2]);
        reader.push_back(Now() - start);
        if (code != 0) {
            fprintf(stderr, "check_cost: the reader failed (%d): %s\n", code, FailureText(&ex));
            return 1;
        }
    }
    printf("listing by the library, every file skipped (%d files): %.2f ms\n", s_files,
           Median(library));
    printf("listing by the program's own reader: %.2f ms\n", Median(reader));
    return 0;
}
