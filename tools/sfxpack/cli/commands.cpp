#include "cli/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <vector>

#include "branding/branding.h"
#include "cab/cab_reader.h"
#include "util/file_io.h"
#include "util/hex.h"
#include "util/paths.h"
#include "pe/installer_image.h"
#include "payload/payload_digest.h"
#include "payload/payload_rules.h"
#include "pe/pe_image.h"
#include "util/progress.h"
#include "cab/set_reader.h"

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

// Reads and checks the cabinet in cab (the whole of it), and the later cabinets of its set
// when it has some. Reports errors (refusing) and warnings; true when there are no errors.
static bool CheckPayloadSource(const std::string& subject, const Source& cab, const WrittenSet& set,
                               size_t* fileCount) {
    std::vector<std::string> problems;
    CabInfo all;
    bool read = ReadCabinet(cab, &all, &problems);
    if (read && all.cabinetSize < cab.size)
        problems.push_back(std::to_string(cab.size - all.cabinetSize) +
                           " bytes of unexpected data after the cabinet");
    for (size_t i = 0; read && i < set.later.size(); ++i) {
        Source part;
        std::string error;
        CabInfo later;
        read = OpenSource(set.later[i].path, &part, &error) && ReadCabinet(part, &later, &problems);
        if (!error.empty())
            problems.push_back(error);
        CloseSource(&part);
        all.files.insert(all.files.end(), later.files.begin(), later.files.end());
    }
    if (!set.later.empty())
        all.flags = 0; // a set of its own, checked whole
    *fileCount = all.files.size();
    Findings findings;
    if (problems.empty())
        CheckPayload(all, &findings);
    problems.insert(problems.end(), findings.errors.begin(), findings.errors.end());
    Report(subject, problems);
    Report(subject, findings.warnings, "warning: ");
    return problems.empty();
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
    SetRequest request;
    request.partBytes = r.partBytes;
    request.installerName = BaseName(r.output);
    request.firstPath = cabFile->path;
    request.folder = FolderOf(r.output);
    Progress progress;
    StartProgress(&progress, "compressing", total);
    const bool ok = WriteCabinetSet(files, r.times, request, &progress, set, &error);
    FinishProgress(&progress);
    if (!ok) {
        ReportError(error);
        DiscardTemp(cabFile);
    }
    return ok;
}

// Writes stub + cab as output through a temporary file, and the later cabinets of set beside
// it under their names; all are renamed into place only once every one is complete.
static bool WriteInstaller(const Source& stub, const Source& cab, const std::string& output,
                           WrittenSet* set) {
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
    const std::string installerName = BaseName(output);
    // The later cabinets first: an installer never stands without them.
    for (size_t i = 0; ok && i < set->later.size(); ++i)
        ok = MoveTemp(&set->later[i], FolderOf(output) + SetCabinetName(installerName, i + 1),
                      &error);
    ok = ok && CommitTemp(&out, output, &error);
    if (!ok) {
        DiscardTemp(&out);
        DiscardSet(set);
        Report(output, {error});
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
        std::string error;
        PayloadPart part;
        const bool ok =
            OpenSource(t.path, &src, &error) && DigestPayload(src, &part.crc32c, &error);
        part.size = src.size;
        CloseSource(&src);
        if (!ok) {
            ReportError(error);
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
    std::string error;
    bool ok = DigestPayload(cab, &record.crc32c, &error);
    if (ok) {
        SetPayloadRecord(record, parts, &resources->list);
        ok =
            LayOutStub(stub, *resources, image, &error) && SetInstallerChecksum(image, cab, &error);
    }
    if (!ok)
        ReportError(error);
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
    std::string error;
    bool ok = OpenSource(cabPath, &cab, &error);
    if (!ok)
        ReportError(error);
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
        std::string found;
        for (const uint8_t b : magic)
            found += (found.empty() ? "" : " ") + HexByte(b);
        problems->push_back("no cabinet (MSCF) at the end of the section data, " +
                            Hex(place->offset) + ": found " + found);
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

// The payload record among resources in *record; false when there is none it can read.
static bool ReadRecord(const std::vector<Resource>& resources, PayloadRecord* record) {
    const Resource* found = FindPayloadRecord(resources);
    return found && ReadPayloadRecord(found->data.data(), found->data.size(), record);
}

// The listing's row of file f.
static std::string FileRow(const CabFile& f) {
    char row[96];
    snprintf(row, sizeof(row), "%10lu  %04u-%02u-%02u %02u:%02u:%02u  %s  ",
             static_cast<unsigned long>(f.size), 1980u + (f.date >> 9), (f.date >> 5) & 15u,
             f.date & 31u, f.time >> 11u, (f.time >> 5) & 63u, (f.time & 31u) * 2,
             AttributeLetters(f.attributes).c_str());
    return row + EscapeText(f.name) + "\n";
}

bool ListInstaller(const Source& file, std::string* listing, std::vector<std::string>* problems,
                   const std::string& path) {
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
    PayloadRecord record;
    const bool hasRecord = ReadRecord(resources, &record);
    std::vector<LaterCabinet> later;
    ReadLaterCabinets(path, info, hasRecord ? &record : nullptr, false, &later, problems,
                      &warnings);
    listing->clear();
    for (const std::string& line : lines)
        *listing += EscapeText(line) + "\n";
    *listing += "      Size  Date       Time      Attr    Name\n";
    std::vector<size_t> cabinetOf;
    const CabInfo all = JoinSetFiles(info, later, &cabinetOf);
    uint64_t total = 0;
    for (size_t i = 0; i < all.files.size(); ++i) {
        const size_t k = cabinetOf[i];
        if (!later.empty() && (i == 0 || cabinetOf[i - 1] != k))
            *listing += "cabinet " + std::to_string(k + 1) + ": " +
                        EscapeText(k ? later[k - 1].name : BaseName(path)) + "\n";
        *listing += FileRow(all.files[i]);
        total += all.files[i].size;
    }
    *listing += std::to_string(all.files.size()) + " files, " + std::to_string(total) + " bytes";
    if (!later.empty())
        *listing += " in " + std::to_string(later.size() + 1) + " cabinets";
    *listing += "\n";
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
    const bool read = ListInstaller(file, &listing, &problems, installer);
    CloseSource(&file);
    Report(installer, problems);
    if (!read)
        return kExitRefused;
    fputs(listing.c_str(), stdout);
    // A part of the set missing or wrong is a failure, after what could be listed.
    return problems.empty() ? kExitOk : kExitRefused;
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

bool CheckInstaller(const Source& file, CheckReport* report, const std::string& path) {
    PeLayout pe;
    CabinetPlace place;
    CabInfo info;
    Findings findings;
    const bool read = ReadInstaller(file, &pe, &place, &info, &report->problems);
    if (read)
        CheckCabinetEnd(file, place, info, &report->problems);
    // The record is checked even when the cabinet cannot be read: it may tell why.
    std::vector<std::string> manifestWarnings;
    std::vector<Resource> resources;
    if (place.offset < place.end) {
        ReadInstallerResources(file, &resources, &report->problems);
        DescribeBranding(resources, &report->branding, &report->problems);
        DescribeManifest(resources, &report->manifest, &manifestWarnings, &report->problems);
        DescribePayloadRecord(file, resources, {place.offset, read ? info.cabinetSize : 0}, true,
                              &report->record, &report->problems);
    }
    std::vector<LaterCabinet> later;
    std::vector<std::string> setWarnings;
    if (read) {
        PayloadRecord record;
        const bool hasRecord = ReadRecord(resources, &record);
        ReadLaterCabinets(path, info, hasRecord ? &record : nullptr, true, &later,
                          &report->problems, &setWarnings);
        // Names are checked over the whole set: two cabinets may clash.
        CheckPayload(later.empty() ? info : JoinSetFiles(info, later, nullptr), &findings);
    }
    for (size_t k = 0; k < later.size(); ++k) {
        report->later.push_back("cabinet " + std::to_string(k + 2) + ": " + later[k].name +
                                ", CRC-32C " + HexDigits(later[k].crc32c, 8) + " over " +
                                std::to_string(later[k].size) + " bytes");
    }
    report->problems.insert(report->problems.end(), findings.errors.begin(), findings.errors.end());
    report->warnings = findings.warnings;
    report->warnings.insert(report->warnings.end(), setWarnings.begin(), setWarnings.end());
    report->warnings.insert(report->warnings.end(), manifestWarnings.begin(),
                            manifestWarnings.end());
    report->files = info.files.size();
    for (const LaterCabinet& c : later)
        report->files += c.info.files.size();
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
    const bool ok = CheckInstaller(file, &report, installer);
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
    for (const std::string& line : report.later)
        printf("%s\n", EscapeText(line).c_str());
    const std::string later =
        report.later.empty() ? "" : ", " + std::to_string(report.later.size()) + " later cabinets";
    printf("%s: ok: %zu files, %u-byte cabinet at 0x%llx%s, %s stub%s\n",
           EscapeText(installer).c_str(), report.files, report.cabinetSize,
           static_cast<unsigned long long>(report.cabinetOffset), later.c_str(), report.arch,
           report.isSigned ? ", signed" : "");
    return kExitOk;
}
