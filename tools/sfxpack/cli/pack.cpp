#include "cli/pack.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <vector>

#include "cab/cab_reader.h"
#include "cli/report.h"
#include "payload/payload_digest.h"
#include "payload/payload_rules.h"
#include "pe/installer_image.h"
#include "pe/pe_image.h"
#include "util/file_io.h"
#include "util/paths.h"
#include "util/progress.h"

// Opens and checks the stub. False after reporting why it cannot be used.
static bool OpenStub(const std::string& path, Source* stub) {
    Problems opened;
    if (!OpenSource(path, stub, &opened)) {
        for (const std::string& line : opened.errors)
            ReportError("stub: " + line);
        return false;
    }
    Problems problems;
    PeLayout pe;
    if (ReadPeLayout(*stub, &pe, &problems))
        CheckStubLayout(pe, stub->size, &problems);
    Report("stub " + path, problems.errors);
    return problems.errors.empty();
}

// Reads and checks the cabinet in cab (the whole of it), and the later cabinets of its set
// when it has some. Reports errors (refusing) and warnings; true when there are no errors.
static bool CheckPayloadSource(const std::string& subject, const Source& cab, const WrittenSet& set,
                               size_t* fileCount) {
    Problems problems;
    CabInfo all;
    bool read = ReadCabinet(cab, &all, &problems);
    if (read && all.cabinetSize < cab.size)
        Fail(&problems, std::to_string(cab.size - all.cabinetSize) +
                            " bytes of unexpected data after the cabinet");
    for (size_t i = 0; read && i < set.later.size(); ++i) {
        Source part;
        CabInfo later;
        read =
            OpenSource(set.later[i].path, &part, &problems) && ReadCabinet(part, &later, &problems);
        CloseSource(&part);
        all.files.insert(all.files.end(), later.files.begin(), later.files.end());
    }
    if (!set.later.empty())
        all.flags = 0; // a set of its own, checked whole
    *fileCount = all.files.size();
    if (problems.errors.empty())
        CheckPayload(all, &problems);
    ReportProblems(subject, problems);
    return problems.errors.empty();
}

// Refuses a cabinet over limit bytes.
static bool CheckCabinetSize(uint64_t cabSize, uint64_t limit) {
    if (cabSize <= limit)
        return true;
    fprintf(stderr, "sfxpack: payload of %llu bytes: over the %llu bytes one cabinet may have\n",
            static_cast<unsigned long long>(cabSize), static_cast<unsigned long long>(limit));
    return false;
}

// Builds the cabinets of folder dir: the first into a temporary file beside output, the later
// ones of a set into *set. False after reporting; *cabFile and *set are then already discarded.
static bool BuildCabinet(const PackRequest& r, TempFile* cabFile, WrittenSet* set) {
    std::vector<SourceFile> files;
    Problems scan;
    if (ScanFolder(r.input, &files, &scan))
        CheckCabinetCapacity(files, &scan);
    if (!scan.errors.empty()) {
        Report(r.input, scan.errors);
        return false;
    }
    Problems problems;
    if (!CreateTempBeside(r.output, ".cab", cabFile, &problems)) {
        ReportErrors(problems);
        return false;
    }
    uint64_t total = 0;
    for (const SourceFile& f : files)
        total += f.size;
    SetRequest request;
    request.compression = r.compression;
    request.partBytes = r.partBytes;
    request.installerName = BaseName(r.output);
    request.firstPath = cabFile->path;
    request.folder = FolderOf(r.output);
    Progress progress;
    StartProgress(&progress, "compressing", total);
    const bool ok = WriteCabinetSet(files, r.times, request, &progress, set, &problems);
    FinishProgress(&progress);
    if (!ok) {
        ReportErrors(problems);
        DiscardTemp(cabFile);
    }
    return ok;
}

// Writes stub + cab as output through a temporary file, and the later cabinets of set beside
// it under their names; all are renamed into place only once every one is complete.
static bool WriteInstaller(const Source& stub, const Source& cab, const std::string& output,
                           WrittenSet* set) {
    TempFile out;
    Problems problems;
    if (!CreateTempBeside(output, "", &out, &problems)) {
        ReportErrors(problems);
        return false;
    }
    Progress progress;
    StartProgress(&progress, "writing", stub.size + cab.size);
    bool ok = CopyRange(stub, 0, stub.size, out.fd, &progress, &problems) &&
              CopyRange(cab, 0, cab.size, out.fd, &progress, &problems);
    FinishProgress(&progress);
    const std::string installerName = BaseName(output);
    // The later cabinets first: an installer never stands without them.
    for (size_t i = 0; ok && i < set->later.size(); ++i)
        ok = MoveTemp(&set->later[i], FolderOf(output) + SetCabinetName(installerName, i + 1),
                      &problems);
    ok = ok && CommitTemp(&out, output, &problems);
    if (!ok) {
        DiscardTemp(&out);
        DiscardSet(set);
        Report(output, problems.errors);
        return false;
    }
    for (TempFile& t : set->later)
        KeepTemp(&t);
    return true;
}

// The size and CRC-32C of each later cabinet of set, for the payload record. False after
// reporting.
static bool DigestParts(const WrittenSet& set, std::vector<PayloadPart>* parts) {
    for (const TempFile& t : set.later) {
        Source src;
        Problems problems;
        PayloadPart part;
        const bool ok =
            OpenSource(t.path, &src, &problems) && DigestPayload(src, &part.crc32c, &problems);
        part.size = src.size;
        CloseSource(&src);
        if (!ok) {
            ReportErrors(problems);
            return false;
        }
        parts->push_back(part);
    }
    return true;
}

// The stub's image for this payload: its resources with the payload record for cab and the
// later cabinets of set, laid out, with the checksum of the whole installer. False after
// reporting.
static bool FinishStub(const PackRequest& r, const Source& stub, const Source& cab,
                       const WrittenSet& set, StubResources* resources,
                       std::vector<uint8_t>* image) {
    PayloadRecord record;
    record.flags = r.recordFlags;
    record.payloadSize = cab.size;
    std::vector<PayloadPart> parts;
    if (!DigestParts(set, &parts))
        return false;
    Problems problems;
    bool ok = DigestPayload(cab, &record.crc32c, &problems);
    if (ok) {
        SetPayloadRecord(record, parts, r.texts, &resources->list);
        ok = LayOutStub(stub, *resources, image, &problems) &&
             SetInstallerChecksum(image, cab, &problems);
    }
    ReportErrors(problems);
    return ok;
}

// Packs with the stub already opened and checked and its resources read and branded; the
// cabinet comes from a folder or a file.
static bool PackWithStub(const PackRequest& r, const Source& stub, bool isFolder,
                         StubResources* resources) {
    TempFile built;
    WrittenSet set;
    if (isFolder && !BuildCabinet(r, &built, &set))
        return false;
    const std::string cabPath = isFolder ? built.path : r.input;
    Source cab;
    Problems opened;
    bool ok = OpenSource(cabPath, &cab, &opened);
    ReportErrors(opened);
    // The size comes first: a too large cabinet need not be read at all.
    ok = ok && CheckCabinetSize(cab.size, r.partBytes);
    size_t fileCount = 0;
    ok = ok && CheckPayloadSource(r.input, cab, set, &fileCount);
    std::vector<uint8_t> image;
    ok = ok && FinishStub(r, stub, cab, set, resources, &image);
    ok = ok && WriteInstaller(MemorySource(image.data(), image.size()), cab, r.output, &set);
    if (ok)
        printf("%s: %zu files, %llu bytes, payload at 0x%llx\n", EscapeText(r.output).c_str(),
               fileCount, static_cast<unsigned long long>(image.size() + cab.size),
               static_cast<unsigned long long>(image.size()));
    for (size_t i = 0; ok && i < set.later.size(); ++i)
        printf("%s: cabinet %zu of %zu, beside it\n",
               EscapeText(FolderOf(r.output) + SetCabinetName(BaseName(r.output), i + 1)).c_str(),
               i + 2, set.later.size() + 1);
    CloseSource(&cab);
    DiscardTemp(&built);
    DiscardSet(&set);
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
    if (!S_ISDIR(st.st_mode) && r.compressionGiven) {
        Report(r.input, {"a cabinet is appended as it is: --compression and --level apply to a "
                         "folder"});
        return kExitRefused;
    }
    Branding branding = r.branding;
    Problems problems;
    if (!LoadBranding(&branding, &problems)) {
        ReportErrors(problems);
        return kExitRefused;
    }
    Source stub;
    StubResources resources;
    bool ok = OpenStub(r.stub, &stub);
    // Branded before the payload is built, so that a refusal comes at once.
    if (ok && !(ReadStubResources(stub, &resources, &problems) &&
                BrandResources(branding, &resources.list, &problems) &&
                ApplyManifestOptions(r.manifest, &resources.list, &problems))) {
        ReportErrors(problems);
        ok = false;
    }
    ok = ok && PackWithStub(r, stub, S_ISDIR(st.st_mode), &resources);
    CloseSource(&stub);
    return ok ? kExitOk : kExitRefused;
}
