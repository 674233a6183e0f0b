// sfxpack: turns a package folder or cabinet into a self-extracting installer, and lists or
// checks installers.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "cli/inspect.h"
#include "cli/pack.h"
#include "cli/report.h"
#include "cli/stub_lookup.h"
#include "util/numbers.h"
#include "payload_record.h"
#include "util/text.h"

static const char kUsage[] =
    "usage: sfxpack DIR|CABINET -o INSTALLER [--stub PATH | --arch x86|x64]\n"
    "               [--icon FILE.ico] [--version-info KEY=VALUE]... [--progress-bar]\n"
    "               [--execution-level LEVEL] [--supported-os] [--dpi-aware]\n"
    "               [--long-path-aware] [--part-size BYTES]\n"
    "               [--compression none|mszip|lzx[:15..21]] [--level 1..3]\n"
    "       sfxpack --list INSTALLER\n"
    "       sfxpack --check INSTALLER\n"
    "       sfxpack --help | --version\n";

static const char kHelpHead[] =
    "\n"
    "Packs the files of DIR (or an existing CABINET, unchanged) behind the installer stub.\n"
    "\n";

static const char kHelpTail[] =
    "  --list         list an installer's branding, manifest, payload record and files\n"
    "  --check        check an installer's layout and payload; exit 0 when good\n"
    "  --version      print sfxpack's own version\n"
    "\n"
    "SOURCE_DATE_EPOCH, when set, caps file times and makes the output reproducible.\n"
    "Exit status: 0 success, 1 refused or problems found, 2 usage error.\n";

// The stub of arch for this program, at programPath: beside it or where it is installed.
static std::string DefaultStub(const std::string& programPath, const std::string& arch) {
    return FindStub(programPath, arch, [](const std::string& path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0;
    });
}

// Prints a usage error and returns the usage exit status. arg, from the command line or the
// environment, is escaped so that it cannot break the line.
static int UsageError(const char* message, const char* arg) {
    fprintf(stderr, "sfxpack: %s%s\n%s", message, EscapeText(arg ? arg : "").c_str(), kUsage);
    return kExitUsage;
}

// Runs --list or --check on their single operand.
static int RunQuery(int argc, char** argv) {
    if (argc != 3)
        return UsageError(argv[1], " takes exactly one INSTALLER");
    return strcmp(argv[1], "--list") == 0 ? List(argv[2]) : Check(argv[2]);
}

// Reports a value an option refuses, in one line, and returns the usage exit status.
static int ValueError(const char* option, const char* value, const std::string& why) {
    fprintf(stderr, "sfxpack: %s %s: %s\n", option, EscapeText(value).c_str(), why.c_str());
    return kExitUsage;
}

// Sets r->partBytes from a --part-size value: decimal bytes, from what holds a cabinet's
// tables and one block to what one cabinet may have.
static int SetPartSize(const char* value, PackRequest* r) {
    uint64_t bytes = 0;
    // Past 63 bits a size is not taken for a number, as a time is not.
    if (!ParseUnsigned(value, INT64_MAX, &bytes))
        return UsageError("--part-size takes a number of bytes, not ", value);
    if (bytes < kMinPartBytes)
        return ValueError("--part-size", value,
                          "too small for a cabinet's tables and one data block (at least " +
                              std::to_string(kMinPartBytes) + " bytes)");
    if (bytes > kMaxCabinetBytes)
        return ValueError("--part-size", value,
                          "over the " + std::to_string(kMaxCabinetBytes) +
                              " bytes one cabinet may have");
    r->partBytes = bytes;
    return 0;
}

// Adds a --version-info KEY=VALUE to r; false when there is no '='. The key and value are
// checked with the icon, before anything is written.
static bool AddVersionSetting(const char* arg, PackRequest* r) {
    const char* equals = strchr(arg, '=');
    if (!equals || equals == arg)
        return false;
    r->branding.version.push_back({std::string(arg, equals), equals + 1});
    return true;
}

// Adds the value of option to r's texts under tag; refuses it, in one line, when option is
// given twice or the value is not a text the payload record can hold.
static int AddRecordText(const char* option, uint16_t tag, const char* value, PackRequest* r) {
    for (const RecordText& t : r->texts)
        if (t.tag == tag) {
            ReportError(std::string(option) + " is given twice");
            return kExitUsage;
        }
    Problems problems;
    if (!CheckRecordText(option, value, &problems)) {
        ReportErrors(problems);
        return kExitUsage;
    }
    r->texts.push_back({tag, value});
    return 0;
}

// What the packing options fill in; --arch and --level are checked once all are read.
struct PackArgs {
    PackRequest* request;
    std::string arch;
    const char* level = nullptr;
};

// Sets r's compression from a --compression value.
static int SetCompression(const char* value, PackRequest* r) {
    Problems problems;
    if (!ParseCompression(value, &r->compression, &problems)) {
        ReportErrors(problems);
        return kExitUsage;
    }
    r->compressionGiven = true;
    return 0;
}

// Sets r's LZX level from a --level value, once the compression is known.
static int SetLevel(const char* value, PackRequest* r) {
    uint64_t level = 0;
    if (!ParseUnsigned(value, kLzxMaxLevel, &level) || level < kLzxMinLevel)
        return ValueError("--level", value, "takes 1, 2 or 3");
    if (r->compression.kind != CompressionKind::Lzx)
        return ValueError("--level", value, "applies to --compression lzx only");
    r->compression.level = static_cast<int>(level);
    r->compressionGiven = true;
    return 0;
}

// A packing option: apply stores its value (the next argument, or null for an option that
// takes none) and returns 0, or reports a usage error and returns its exit status.
struct PackOption {
    const char* name;
    bool takesValue;
    int (*apply)(const char* value, PackArgs* args);
    const char* help; // its lines of --help
};

static const PackOption kPackOptions[] = {
    {"-o", true,
     [](const char* v, PackArgs* a) {
         a->request->output = v;
         return 0;
     },
     "  -o INSTALLER   the installer to write (replaced only once complete)\n"},
    {"--stub", true,
     [](const char* v, PackArgs* a) {
         a->request->stub = v;
         return 0;
     },
     "  --stub PATH    the stub executable (PE32 i386 or PE32+ x86-64)\n"},
    {"--arch", true,
     [](const char* v, PackArgs* a) {
         a->arch = v;
         return 0;
     },
     "  --arch ARCH    the stub beside sfxpack, else in ../share/orvanta/ from its folder:\n"
     "                 x86 (OrvantaSfx.exe, the default, runs on 32- and 64-bit Windows)\n"
     "                 or x64 (x64/OrvantaSfx.exe)\n"},
    {"--icon", true,
     [](const char* v, PackArgs* a) {
         a->request->branding.iconPath = v;
         return 0;
     },
     "  --icon FILE    the installer's icon: every image of FILE.ico (PNG ones too)\n"},
    {"--version-info", true,
     [](const char* v, PackArgs* a) {
         return AddVersionSetting(v, a->request)
                    ? 0
                    : UsageError("--version-info takes KEY=VALUE, not ", v);
     },
     "  --version-info KEY=VALUE\n"
     "                 a version string Windows shows, repeatable: FileVersion and\n"
     "                 ProductVersion (a.b.c.d), ProductName, FileDescription,\n"
     "                 CompanyName, LegalCopyright, OriginalFilename, InternalName\n"},
    {"--progress-bar", false,
     [](const char*, PackArgs* a) {
         a->request->recordFlags |= kRecordProgressBar;
         return 0;
     },
     "  --progress-bar the installer shows a progress bar while it extracts\n"},
    {"--destination", true,
     [](const char* v, PackArgs* a) {
         return AddRecordText("--destination", kTextDestination, v, a->request);
     },
     "  --destination PATH\n"
     "                 the folder the installer proposes and its quiet runs use, stored as\n"
     "                 given: %VARIABLES% such as %LOCALAPPDATA% are expanded when it runs\n"},
    {"--setup-args", true,
     [](const char* v, PackArgs* a) {
         return AddRecordText("--setup-args", kTextSetupArgs, v, a->request);
     },
     "  --setup-args ARGS\n"
     "                 the setup program's default arguments; those after -- on the\n"
     "                 installer's command line replace them\n"},
    {"--execution-level", true,
     [](const char* v, PackArgs* a) {
         if (!IsExecutionLevel(v))
             return UsageError("--execution-level takes asInvoker, highestAvailable or "
                               "requireAdministrator, not ",
                               v);
         a->request->manifest.executionLevel = v;
         return 0;
     },
     "  --execution-level LEVEL\n"
     "                 the manifest's requested execution level: asInvoker (per-user\n"
     "                 packages), highestAvailable or requireAdministrator (machine-wide)\n"},
    {"--supported-os", false,
     [](const char*, PackArgs* a) {
         a->request->manifest.supportedOs = true;
         return 0;
     },
     "  --supported-os the manifest lists Windows Vista to 11 as supported\n"},
    {"--dpi-aware", false,
     [](const char*, PackArgs* a) {
         a->request->manifest.dpiAware = true;
         return 0;
     },
     "  --dpi-aware    per-monitor (v2) DPI aware, system aware where Windows lacks it\n"},
    {"--long-path-aware", false,
     [](const char*, PackArgs* a) {
         a->request->manifest.longPathAware = true;
         return 0;
     },
     "  --long-path-aware\n"
     "                 long-path aware, where Windows allows long paths\n"},
    {"--part-size", true, [](const char* v, PackArgs* a) { return SetPartSize(v, a->request); },
     "  --part-size BYTES\n"
     "                 the largest cabinet of the payload (2147483647, the most, by default);\n"
     "                 a larger payload continues in NAME-2.cab, NAME-3.cab ... beside the\n"
     "                 installer, NAME being its file name without .exe\n"},
    {"--compression", true, [](const char* v, PackArgs* a) { return SetCompression(v, a->request); },
     "  --compression none|mszip|lzx[:N]\n"
     "                 how a folder is compressed: LZX with a window of 2^N bytes (15 to\n"
     "                 21; lzx, the default, is lzx:21, the smallest), MSZIP, or none\n"},
    {"--level", true,
     [](const char* v, PackArgs* a) {
         a->level = v;
         return 0;
     },
     "  --level 1..3   how hard LZX looks for matches: 1 fast, 2 the default, 3 the\n"
     "                 smallest (a few times slower)\n"},
};

// The packing option named arg, or null.
static const PackOption* FindPackOption(const char* arg) {
    for (const PackOption& option : kPackOptions)
        if (strcmp(arg, option.name) == 0)
            return &option;
    return nullptr;
}

// Prints the usage and the help, the options' lines from their table.
static void PrintHelp() {
    printf("%s%s", kUsage, kHelpHead);
    for (const PackOption& option : kPackOptions)
        fputs(option.help, stdout);
    fputs(kHelpTail, stdout);
}

// Parses the packing arguments into *r; 0 on success, else the usage exit status.
static int ParsePack(int argc, char** argv, PackRequest* r) {
    PackArgs args = {r, ""};
    for (int i = 1; i < argc; ++i) {
        const PackOption* option = FindPackOption(argv[i]);
        if (option && option->takesValue && i + 1 >= argc)
            return UsageError("missing value after ", argv[i]);
        if (option) {
            const int status = option->apply(option->takesValue ? argv[++i] : nullptr, &args);
            if (status)
                return status;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0')
            return UsageError("unknown option ", argv[i]);
        else if (r->input.empty())
            r->input = argv[i];
        else
            return UsageError("unexpected argument ", argv[i]);
    }
    const std::string& arch = args.arch;
    if (r->input.empty() || r->output.empty())
        return UsageError("need an input and -o INSTALLER", nullptr);
    if (!arch.empty() && arch != "x86" && arch != "x64")
        return UsageError("--arch takes x86 or x64, not ", arch.c_str());
    if (!arch.empty() && !r->stub.empty())
        return UsageError("--stub and --arch both choose the stub: give one", nullptr);
    if (args.level) {
        const int status = SetLevel(args.level, r);
        if (status)
            return status;
    }
    // LZX stores a block that does not compress with more around it than MSZIP does.
    if (r->partBytes < MinPartBytes(r->compression.kind))
        return ValueError("--part-size", std::to_string(r->partBytes).c_str(),
                          "too small for a cabinet's tables and one data block of " +
                              CompressionOptionName(r->compression) + " (at least " +
                              std::to_string(MinPartBytes(r->compression.kind)) + " bytes)");
    if (r->stub.empty())
        r->stub = DefaultStub(ProgramPath(argv[0]), arch);
    const char* epoch = getenv("SOURCE_DATE_EPOCH");
    r->times.hasEpoch = epoch != nullptr;
    uint64_t seconds = 0;
    if (epoch && !ParseUnsigned(epoch, INT64_MAX, &seconds))
        return UsageError("SOURCE_DATE_EPOCH is not a number of seconds: ", epoch);
    r->times.epoch = static_cast<int64_t>(seconds);
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "--help") == 0) {
        PrintHelp();
        return kExitOk;
    }
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        printf("sfxpack %s\n", SFXPACK_VERSION);
        return kExitOk;
    }
    if (argc >= 2 && (strcmp(argv[1], "--list") == 0 || strcmp(argv[1], "--check") == 0))
        return RunQuery(argc, argv);
    PackRequest r;
    const int status = ParsePack(argc, argv, &r);
    return status ? status : Pack(r);
}
