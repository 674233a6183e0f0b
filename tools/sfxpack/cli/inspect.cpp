#include "cli/inspect.h"

#include "compress/compression.h"

#include <cstdio>
#include <cstring>

#include "branding/branding.h"
#include "branding/manifest.h"
#include "cab/cab_reader.h"
#include "cab/set_reader.h"
#include "cli/report.h"
#include "compress/compression.h"
#include "payload/payload_digest.h"
#include "payload/payload_rules.h"
#include "pe/installer_image.h"
#include "pe/pe_image.h"
#include "util/hex.h"
#include "util/paths.h"

// What --list and --check read of an installer, the one way both read it.
struct InstallerView {
    PeLayout pe;
    CabinetPlace place;
    CabInfo info;
    bool cabinetRead = false;
    std::vector<Resource> resources;
    std::vector<std::string> branding, manifest, record; // the lines describing each
    std::vector<LaterCabinet> later;
    // Warnings, by where they come from: --check gives them in its own order.
    std::vector<std::string> manifestWarnings, setWarnings;
};

// Finds and reads the payload of the installer in file. Layout problems go to *problems;
// false when no cabinet could be read.
static bool ReadPayload(const Source& file, InstallerView* v, Problems* problems) {
    if (!ReadPeLayout(file, &v->pe, problems) ||
        !LocateCabinet(v->pe, file.size, &v->place, problems))
        return false;
    const CabinetPlace& place = v->place;
    uint8_t magic[kCabSignatureSize] = {};
    if (!ReadAt(file, place.offset + kCfheadSignature, magic, sizeof(magic)) ||
        memcmp(magic, kCabSignature, kCabSignatureSize) != 0) {
        std::string found;
        for (const uint8_t b : magic)
            found += (found.empty() ? "" : " ") + HexByte(b);
        return Fail(problems, "no cabinet (MSCF) at the end of the section data, " +
                                  Hex(place.offset) + ": found " + found);
    }
    return ReadCabinet(SubSource(file, place.offset, place.end - place.offset), &v->info, problems);
}

// The bytes between the end of the cabinet and where it must end: zero padding allowed only
// before a certificate table.
static void CheckCabinetEnd(const Source& file, const CabinetPlace& place, const CabInfo& info,
                            Problems* problems) {
    const uint64_t end = place.offset + info.cabinetSize;
    const uint64_t gap = place.end - end;
    bool padding = gap <= place.maxPadding;
    for (uint64_t i = 0; padding && i < gap; ++i) {
        uint8_t b = 1;
        padding = ReadAt(file, end + i, &b, 1) && b == 0;
    }
    if (!padding)
        Fail(problems, std::to_string(gap) + " bytes of unexpected data after the " +
                           std::to_string(info.cabinetSize) +
                           "-byte cabinet (its size field does not match the file)");
}

// The payload record among resources in *record; false when there is none it can read.
static bool ReadRecord(const std::vector<Resource>& resources, PayloadRecord* record) {
    const Resource* found = FindPayloadRecord(resources);
    return found && ReadPayloadRecord(found->data.data(), found->data.size(), record);
}

// Moves the errors of from to the end of to's, and returns from's warnings.
static std::vector<std::string> TakeErrors(Problems* to, Problems&& from) {
    to->errors.insert(to->errors.end(), from.errors.begin(), from.errors.end());
    return std::move(from.warnings);
}

// Reads the installer in file, and the later cabinets of its set beside path (none when ""),
// into *v: its payload, its resources and the lines describing its branding, manifest and
// payload record, and the later cabinets. Errors go to *problems in the order they are found.
// With verify (--check), the bytes after the cabinet are checked, every digest is computed,
// and what can be read past an unreadable cabinet is read too; without (--list), an unreadable
// cabinet ends the reading.
static void ReadInstallerView(const Source& file, const std::string& path, bool verify,
                              InstallerView* v, Problems* problems) {
    v->cabinetRead = ReadPayload(file, v, problems);
    if (!v->cabinetRead && !verify)
        return;
    if (v->cabinetRead && verify)
        CheckCabinetEnd(file, v->place, v->info, problems);
    // The record is checked even when the cabinet cannot be read: it may tell why.
    if (v->place.offset < v->place.end) {
        ReadInstallerResources(file, &v->resources, problems);
        DescribeBranding(v->resources, &v->branding, problems);
        Problems manifest;
        DescribeManifest(v->resources, &v->manifest, &manifest);
        v->manifestWarnings = TakeErrors(problems, std::move(manifest));
        DescribePayloadRecord(file, v->resources,
                              {v->place.offset, v->cabinetRead ? v->info.cabinetSize : 0}, verify,
                              &v->record, problems);
    }
    if (v->cabinetRead) {
        PayloadRecord record;
        const bool hasRecord = ReadRecord(v->resources, &record);
        Problems set;
        ReadLaterCabinets(path, v->info, hasRecord ? &record : nullptr, verify, &v->later, &set);
        v->setWarnings = TakeErrors(problems, std::move(set));
    }
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

// The listing's row of file f.
static std::string FileRow(const CabFile& f) {
    char row[96];
    snprintf(row, sizeof(row), "%10lu  %04u-%02u-%02u %02u:%02u:%02u  %s  ",
             static_cast<unsigned long>(f.size), 1980u + (f.date >> 9), (f.date >> 5) & 15u,
             f.date & 31u, f.time >> 11u, (f.time >> 5) & 63u, (f.time & 31u) * 2,
             AttributeLetters(f.attributes).c_str());
    return row + EscapeText(f.name) + "\n";
}

// The compression line of the installer read into v: every folder of its set.
static std::string CompressionLine(const InstallerView& v) {
    std::vector<uint16_t> fields;
    for (const CabFolder& f : v.info.folders)
        fields.push_back(f.compression);
    for (const LaterCabinet& c : v.later)
        for (const CabFolder& f : c.info.folders)
            fields.push_back(f.compression);
    return DescribeFolderCompression(fields);
}

bool ListInstaller(const Source& file, std::string* listing, Problems* problems,
                   const std::string& path) {
    InstallerView v;
    ReadInstallerView(file, path, false, &v, problems);
    if (!v.cabinetRead)
        return false;
    listing->clear();
    for (const auto* lines : {&v.branding, &v.manifest, &v.record})
        for (const std::string& line : *lines)
            *listing += EscapeText(line) + "\n";
    *listing += CompressionLine(v) + "\n";
    *listing += "      Size  Date       Time      Attr    Name\n";
    std::vector<size_t> cabinetOf;
    const CabInfo all = JoinSetFiles(v.info, v.later, &cabinetOf);
    uint64_t total = 0;
    for (size_t i = 0; i < all.files.size(); ++i) {
        const size_t k = cabinetOf[i];
        if (!v.later.empty() && (i == 0 || cabinetOf[i - 1] != k))
            *listing += "cabinet " + std::to_string(k + 1) + ": " +
                        EscapeText(k ? v.later[k - 1].name : BaseName(path)) + "\n";
        *listing += FileRow(all.files[i]);
        total += all.files[i].size;
    }
    *listing += std::to_string(all.files.size()) + " files, " + std::to_string(total) + " bytes";
    if (!v.later.empty())
        *listing += " in " + std::to_string(v.later.size() + 1) + " cabinets";
    *listing += "\n";
    return true;
}

int List(const std::string& installer) {
    Source file;
    Problems problems;
    if (!OpenSource(installer, &file, &problems)) {
        ReportErrors(problems);
        return kExitRefused;
    }
    std::string listing;
    const bool read = ListInstaller(file, &listing, &problems, installer);
    CloseSource(&file);
    Report(installer, problems.errors); // the warnings are --check's to give
    if (!read)
        return kExitRefused;
    fputs(listing.c_str(), stdout);
    // A part of the set missing or wrong is a failure, after what could be listed.
    return problems.errors.empty() ? kExitOk : kExitRefused;
}

bool CheckInstaller(const Source& file, CheckReport* report, const std::string& path) {
    InstallerView v;
    Problems* problems = &report->problems;
    ReadInstallerView(file, path, true, &v, problems);
    // Names are checked over the whole set: two cabinets may clash.
    Problems payload;
    if (v.cabinetRead)
        CheckPayload(v.later.empty() ? v.info : JoinSetFiles(v.info, v.later, nullptr), &payload);
    for (size_t k = 0; k < v.later.size(); ++k)
        report->later.push_back("cabinet " + std::to_string(k + 2) + ": " + v.later[k].name +
                                ", CRC-32C " + HexDigits(v.later[k].crc32c, 8) + " over " +
                                std::to_string(v.later[k].size) + " bytes");
    AppendProblems(problems, payload);
    for (const auto* warnings : {&v.setWarnings, &v.manifestWarnings})
        problems->warnings.insert(problems->warnings.end(), warnings->begin(), warnings->end());
    report->branding = v.branding;
    report->manifest = v.manifest;
    report->record = v.record;
    if (v.cabinetRead)
        report->record.push_back(CompressionLine(v));
    report->files = v.info.files.size();
    for (const LaterCabinet& c : v.later)
        report->files += c.info.files.size();
    report->cabinetSize = v.info.cabinetSize;
    report->cabinetOffset = v.place.offset;
    report->isSigned = v.place.maxPadding != 0;
    report->arch = v.pe.arch ? v.pe.arch : "";
    return problems->errors.empty();
}

int Check(const std::string& installer) {
    Source file;
    Problems opened;
    if (!OpenSource(installer, &file, &opened)) {
        ReportErrors(opened);
        return kExitRefused;
    }
    CheckReport report;
    const bool ok = CheckInstaller(file, &report, installer);
    CloseSource(&file);
    ReportProblems(installer, report.problems);
    if (!ok)
        return kExitRefused;
    for (const auto* lines : {&report.branding, &report.manifest, &report.record, &report.later})
        for (const std::string& line : *lines)
            printf("%s\n", EscapeText(line).c_str());
    const std::string later =
        report.later.empty() ? "" : ", " + std::to_string(report.later.size()) + " later cabinets";
    printf("%s: ok: %zu files, %u-byte cabinet at 0x%llx%s, %s stub%s\n",
           EscapeText(installer).c_str(), report.files, report.cabinetSize,
           static_cast<unsigned long long>(report.cabinetOffset), later.c_str(), report.arch,
           report.isSigned ? ", signed" : "");
    return kExitOk;
}
