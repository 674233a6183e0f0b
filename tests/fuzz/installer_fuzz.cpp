// Fuzzes the --check and --list path on whole installers. Any bytes: no crash, no undefined
// behaviour, no slow input; what --check accepts, --list lists; a listing has one row per
// file, and is plain lines without a control character a terminal would act on.
#include <cstdlib>

#include "cli/inspect.h"

// Aborts, which the fuzzer reports with the input, when a property does not hold.
static void Require(bool property) {
    if (!property)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Source file = MemorySource(data, size);
    CheckReport report;
    const bool accepted = CheckInstaller(file, &report);
    Require(accepted == report.problems.errors.empty());
    std::string listing;
    Problems problems;
    const bool listed = ListInstaller(file, &listing, &problems);
    Require(!accepted || listed);
    if (!listed)
        return 0;
    size_t lines = 0;
    for (size_t i = 0; i < listing.size(); ++i) {
        const uint8_t c = static_cast<uint8_t>(listing[i]);
        lines += c == '\n';
        Require((c >= 0x20 || c == '\n') && c != 0x7f);
        // C1 controls, which some terminals take for escape sequences, in UTF-8.
        Require(!(c == 0xc2 && i + 1 < listing.size() &&
                  (static_cast<uint8_t>(listing[i + 1]) & 0xe0) == 0x80));
    }
    Require(!listing.empty() && listing.back() == '\n');
    Require(lines == report.files + 2 + report.branding.size() + report.manifest.size() +
                         report.record.size());
    return 0;
}
