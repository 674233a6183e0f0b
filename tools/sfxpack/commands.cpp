#include "commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <vector>

#include "branding.h"
#include "cab_reader.h"
#include "file_io.h"
#include "installer_image.h"
#include "payload_digest.h"
#include "payload_rules.h"
#include "pe_image.h"
#include "progress.h"

// Prints each problem on its own line, prefixed with the file it concerns. Paths and names
// are escaped, so that none can break the line or reach the terminal as a control.
static void Report(const std::string& subject, const std::vector<std::string>& lines,
                   const char* kind = "") {
    for (const std::string& line : lines)
        fprintf(stderr, "sfxpack: %s: %s%s\n", EscapeText(subject).c_str(), kind,
                EscapeText(line).c_str());
}

// Prints a one-line error that is not about a named input.
static void ReportError(const std::string& error) {
    fprintf(stderr, "sfxpack: %s\n", EscapeText(error).c_str());
}

// Opens and checks the stub. False after reporting why it cannot be used.
static bool OpenStub(const std::string& path, Source* stub) {
    std::string error;
    if (!OpenSource(path, stub, &error)) {
        ReportError("stub: " + error);
        return false;
    }
    std::vector<std::string> problems;
    PeLayout pe;
    if (ReadPeLayout(*stub, &pe, &problems))
        CheckStubLayout(pe, stub->size, &problems);
    Report("stub " + path, problems);
    return problems.empty();
}

// Reads and checks the cabinet in cab (the whole of it). Reports errors (refusing) and
// warnings; true when there are no errors.
static bool CheckPayloadSource(const std::string& subject, const Source& cab, CabInfo* info) {
    std::vector<std::string> problems;
    if (ReadCabinet(cab, info, &problems) && info->cabinetSize < cab.size)
        problems.push_back(std::to_string(cab.size - info->cabinetSize) +
                           " bytes of unexpected data after the cabinet");
    Findings findings;
    if (problems.empty())
        CheckPayload(*info, &findings);
    problems.insert(problems.end(), findings.errors.begin(), findings.errors.end());
    Report(subject, problems);
    Report(subject, findings.warnings, "warning: ");
    return problems.empty();
}

// Refuses an installer that would reach the 2 GiB limit.
static bool CheckTotalSize(uint64_t stubSize, uint64_t cabSize) {
    if (stubSize + cabSize < kMaxInstallerSize)
        return true;
    fprintf(stderr,
            "sfxpack: payload of %llu bytes: the installer would be %llu bytes, over "
            "the 2 GiB limit\n",
            static_cast<unsigned long long>(cabSize),
            static_cast<unsigned long long>(stubSize + cabSize));
    return false;
}

// Builds the cabinet of folder dir into a temporary file beside output. False after
// reporting; *cabFile is then already discarded.
static bool BuildCabinet(const PackRequest& r, TempFile* cabFile) {
    std::vector<SourceFile> files;
    std::vector<std::string> problems;
    if (ScanFolder(r.input, &files, &problems))
        CheckCabinetCapacity(files, &problems);
    if (!problems.empty()) {
        Report(r.input, problems);
        return false;
    }
    std::string error;
    if (!CreateTempBeside(r.output, ".cab", cabFile, &error)) {
        ReportError(error);
        return false;
    }
    uint64_t total = 0;
    for (const SourceFile& f : files)
        total += f.size;
    Progress progress;
    StartProgress(&progress, "compressing", total);
    const bool ok = WriteCabinet(files, r.times, kMaxFolderBytes, cabFile->path, &progress, &error);
    FinishProgress(&progress);
    if (!ok) {
        ReportError(error);
        DiscardTemp(cabFile);
    }
    return ok;
}

// Writes stub + cab as output through a temporary file and a rename.
static bool WriteInstaller(const Source& stub, const Source& cab, const std::string& output) {
    TempFile out;
    std::string error;
    if (!CreateTempBeside(output, "", &out, &error)) {
        ReportError(error);
        return false;
    }
    Progress progress;
    StartProgress(&progress, "writing", stub.size + cab.size);
    bool ok = CopyRange(stub, 0, stub.size, out.fd, &progress, &error) &&
              CopyRange(cab, 0, cab.size, out.fd, &progress, &error);
    FinishProgress(&progress);
    ok = ok && CommitTemp(&out, output, &error);
    if (!ok) {
        DiscardTemp(&out);
        Report(output, {error});
    }
    return ok;
}

// The stub's image for this payload: its resources with the payload record for cab, laid
// out, with the checksum of the whole installer. False after reporting.
static bool FinishStub(const PackRequest& r, const Source& stub, const Source& cab,
                       StubResources* resources, std::vector<uint8_t>* image) {
    PayloadRecord record;
    record.flags = r.recordFlags;
    record.payloadSize = cab.size;
    std::string error;
    bool ok = DigestPayload(cab, &record.crc32c, &error);
    if (ok) {
        SetPayloadRecord(record, {}, &resources->list);
        ok = LayOutStub(stub, *resources, image, &error);
    }
    if (!ok) {
        ReportError(error);
        return false;
    }
    // The record grows the stub a little: the limit is checked again on the real size.
    if (!CheckTotalSize(image->size(), cab.size))
        return false;
    if (!SetInstallerChecksum(image, cab, &error)) {
        ReportError(error);
        return false;
    }
    return true;
}

// Packs with the stub already opened and checked and its resources read and branded; the
// cabinet comes from a folder or a file.
static bool PackWithStub(const PackRequest& r, const Source& stub, bool isFolder,
                         StubResources* resources) {
    TempFile built;
    if (isFolder && !BuildCabinet(r, &built))
        return false;
    const std::string cabPath = isFolder ? built.path : r.input;
    Source cab;
    std::string error;
    bool ok = OpenSource(cabPath, &cab, &error);
    if (!ok)
        ReportError(error);
    // The size comes first: a too large cabinet need not be read at all.
    ok = ok && CheckTotalSize(stub.size, cab.size);
    CabInfo info;
    ok = ok && CheckPayloadSource(r.input, cab, &info);
    std::vector<uint8_t> image;
    ok = ok && FinishStub(r, stub, cab, resources, &image);
    ok = ok && WriteInstaller(MemorySource(image.data(), image.size()), cab, r.output);
    if (ok)
        printf("%s: %zu files, %llu bytes, payload at 0x%llx\n", EscapeText(r.output).c_str(),
               info.files.size(), static_cast<unsigned long long>(image.size() + cab.size),
               static_cast<unsigned long long>(image.size()));
    CloseSource(&cab);
    DiscardTemp(&built);
    return ok;
}

int Pack(const PackRequest& r) {
    InstallCleanupHandlers();
    struct stat st;
    if (stat(r.input.c_str(), &st) != 0) {
        ReportError("cannot read " + r.input + ": " + strerror(errno));
        return kExitRefused;
    }
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
        Report(r.input, {"neither a folder nor a cabinet file"});
        return kExitRefused;
    }
    Branding branding = r.branding;
    std::string error;
    if (!LoadBranding(&branding, &error)) {
        ReportError(error);
        return kExitRefused;
    }
    Source stub;
    StubResources resources;
    bool ok = OpenStub(r.stub, &stub);
    // Branded before the payload is built, so that a refusal comes at once.
    if (ok && !(ReadStubResources(stub, &resources, &error) &&
                BrandResources(branding, &resources.list, &error) &&
                ApplyManifestOptions(r.manifest, &resources.list, &error))) {
        ReportError(error);
        ok = false;
    }
    ok = ok && PackWithStub(r, stub, S_ISDIR(st.st_mode), &resources);
    CloseSource(&stub);
    return ok ? kExitOk : kExitRefused;
}

// Finds and reads the payload of the installer in file. Layout problems go to *problems;
// false when no cabinet could be read.
static bool ReadInstaller(const Source& file, PeLayout* pe, CabinetPlace* place, CabInfo* info,
                          std::vector<std::string>* problems) {
    if (!ReadPeLayout(file, pe, problems) || !LocateCabinet(*pe, file.size, place, problems))
        return false;
    uint8_t magic[kCabSignatureSize] = {};
    if (!ReadAt(file, place->offset + kCfheadSignature, magic, sizeof(magic)) ||
        memcmp(magic, kCabSignature, kCabSignatureSize) != 0) {
        char found[64];
        snprintf(found, sizeof(found), "%02x %02x %02x %02x", magic[0], magic[1], magic[2],
                 magic[3]);
        char at[24];
        snprintf(at, sizeof(at), "0x%llx", static_cast<unsigned long long>(place->offset));
        problems->push_back(std::string("no cabinet (MSCF) at the end of the section data, ") + at +
                            ": found " + found);
        return false;
    }
    return ReadCabinet(SubSource(file, place->offset, place->end - place->offset), info, problems);
}

// The attribute letters of a file: read-only, hidden, system, archive, execute, UTF-8 name.
static std::string AttributeLetters(uint16_t a) {
    const char letters[] = "RHSAXU";
    const uint16_t bits[] = {kAttrReadOnly, kAttrHidden,  kAttrSystem,
                             kAttrArchive,  kAttrExecute, kAttrNameIsUtf8};
    std::string out;
    for (int i = 0; i < 6; ++i)
        out += (a & bits[i]) ? letters[i] : '-';
    return out;
}

bool ListInstaller(const Source& file, std::string* listing, std::vector<std::string>* problems) {
    PeLayout pe;
    CabinetPlace place;
    CabInfo info;
    if (!ReadInstaller(file, &pe, &place, &info, problems))
        return false;
    std::vector<Resource> resources;
    ReadInstallerResources(file, &resources, problems);
    std::vector<std::string> lines;
    DescribeBranding(resources, &lines, problems);
    std::vector<std::string> warnings; // --check's to give
    DescribeManifest(resources, &lines, &warnings, problems);
    DescribePayloadRecord(file, resources, {place.offset, info.cabinetSize}, false, &lines,
                          problems);
    listing->clear();
    for (const std::string& line : lines)
        *listing += EscapeText(line) + "\n";
    *listing += "      Size  Date       Time      Attr    Name\n";
    uint64_t total = 0;
    for (const CabFile& f : info.files) {
        char row[96];
        snprintf(row, sizeof(row), "%10lu  %04u-%02u-%02u %02u:%02u:%02u  %s  ",
                 static_cast<unsigned long>(f.size), 1980u + (f.date >> 9), (f.date >> 5) & 15u,
                 f.date & 31u, f.time >> 11u, (f.time >> 5) & 63u, (f.time & 31u) * 2,
                 AttributeLetters(f.attributes).c_str());
        *listing += row + EscapeText(f.name) + "\n";
        total += f.size;
    }
    *listing += std::to_string(info.files.size()) + " files, " + std::to_string(total) + " bytes\n";
    return true;
}

int List(const std::string& installer) {
    Source file;
    std::string error;
    if (!OpenSource(installer, &file, &error)) {
        ReportError(error);
        return kExitRefused;
    }
    std::string listing;
    std::vector<std::string> problems;
    const bool read = ListInstaller(file, &listing, &problems);
    CloseSource(&file);
    Report(installer, problems);
    if (!read)
        return kExitRefused;
    fputs(listing.c_str(), stdout);
    return kExitOk;
}

// The bytes between the end of the cabinet and where it must end: zero padding allowed only
// before a certificate table.
static void CheckCabinetEnd(const Source& file, const CabinetPlace& place, const CabInfo& info,
                            std::vector<std::string>* problems) {
    const uint64_t end = place.offset + info.cabinetSize;
    const uint64_t gap = place.end - end;
    bool padding = gap <= place.maxPadding;
    for (uint64_t i = 0; padding && i < gap; ++i) {
        uint8_t b = 1;
        padding = ReadAt(file, end + i, &b, 1) && b == 0;
    }
    if (!padding)
        problems->push_back(std::to_string(gap) + " bytes of unexpected data after the " +
                            std::to_string(info.cabinetSize) +
                            "-byte cabinet (its size field does not match the file)");
}

bool CheckInstaller(const Source& file, CheckReport* report) {
    PeLayout pe;
    CabinetPlace place;
    CabInfo info;
    Findings findings;
    const bool read = ReadInstaller(file, &pe, &place, &info, &report->problems);
    if (read) {
        CheckCabinetEnd(file, place, info, &report->problems);
        CheckPayload(info, &findings);
    }
    // The record is checked even when the cabinet cannot be read: it may tell why.
    std::vector<std::string> manifestWarnings;
    if (place.offset < place.end) {
        std::vector<Resource> resources;
        ReadInstallerResources(file, &resources, &report->problems);
        DescribeBranding(resources, &report->branding, &report->problems);
        DescribeManifest(resources, &report->manifest, &manifestWarnings, &report->problems);
        DescribePayloadRecord(file, resources, {place.offset, read ? info.cabinetSize : 0}, true,
                              &report->record, &report->problems);
    }
    report->problems.insert(report->problems.end(), findings.errors.begin(), findings.errors.end());
    report->warnings = findings.warnings;
    report->warnings.insert(report->warnings.end(), manifestWarnings.begin(),
                            manifestWarnings.end());
    report->files = info.files.size();
    report->cabinetSize = info.cabinetSize;
    report->cabinetOffset = place.offset;
    report->isSigned = place.maxPadding != 0;
    report->arch = pe.arch ? pe.arch : "";
    return report->problems.empty();
}

int Check(const std::string& installer) {
    Source file;
    std::string error;
    if (!OpenSource(installer, &file, &error)) {
        ReportError(error);
        return kExitRefused;
    }
    CheckReport report;
    const bool ok = CheckInstaller(file, &report);
    CloseSource(&file);
    Report(installer, report.problems);
    Report(installer, report.warnings, "warning: ");
    if (!ok)
        return kExitRefused;
    for (const std::string& line : report.branding)
        printf("%s\n", EscapeText(line).c_str());
    for (const std::string& line : report.manifest)
        printf("%s\n", EscapeText(line).c_str());
    for (const std::string& line : report.record)
        printf("%s\n", EscapeText(line).c_str());
    printf("%s: ok: %zu files, %u-byte cabinet at 0x%llx, %s stub%s\n",
           EscapeText(installer).c_str(), report.files, report.cabinetSize,
           static_cast<unsigned long long>(report.cabinetOffset), report.arch,
           report.isSigned ? ", signed" : "");
    return kExitOk;
}
