#include "pe/installer_image.h"

#include "le.h"

constexpr size_t kChecksumChunk = 1u << 20; // even, so every chunk starts on a word

bool ReadStubResources(const Source& stub, StubResources* out, Problems* problems) {
    Problems found;
    const bool read = ReadPeHeaders(stub, &out->headers, &found) &&
                      FindResourceSection(out->headers, &out->section, &found) &&
                      ReadResources(stub, out->headers, &out->list, &found);
    if (read)
        return true;
    // The first reason says it; the rest follow from it.
    return Fail(problems, "cannot rewrite the stub's resources: " +
                              (found.errors.empty() ? std::string() : found.errors.front()));
}

bool LayOutStub(const Source& stub, const StubResources& r, std::vector<uint8_t>* image,
                Problems* problems) {
    image->resize(stub.size);
    if (!ReadAt(stub, 0, image->data(), image->size())) {
        Fail(problems, "cannot read the stub");
        return false;
    }
    const uint32_t rva = r.headers.sections[r.section].virtualAddress;
    return ReplaceSection(r.headers, r.section, BuildResourceSection(r.list, rva), image, problems);
}

bool SetInstallerChecksum(std::vector<uint8_t>* image, const Source& payload, Problems* problems) {
    PeHeaders h;
    Problems layout; // the rewrite made it: any problem is the rewrite's
    if (!ReadPeHeaders(MemorySource(image->data(), image->size()), &h, &layout) ||
        image->size() % 2 != 0) {
        Fail(problems, "the rewritten stub cannot be read back");
        return false;
    }
    uint8_t* field = image->data() + ChecksumOffset(h);
    WriteLe32(field, 0);
    uint32_t sum = ChecksumAdd(0, image->data(), image->size());
    std::vector<uint8_t> chunk(kChecksumChunk);
    for (uint64_t at = 0; at < payload.size; at += chunk.size()) {
        const size_t n = static_cast<size_t>(payload.size - at < chunk.size() ? payload.size - at
                                                                              : chunk.size());
        if (!ReadAt(payload, at, chunk.data(), n)) {
            Fail(problems, "cannot read the payload back");
            return false;
        }
        sum = ChecksumAdd(sum, chunk.data(), n);
    }
    WriteLe32(field, ChecksumFinish(sum, image->size() + payload.size));
    return true;
}

void ReadInstallerResources(const Source& file, std::vector<Resource>* list, Problems* problems) {
    PeHeaders h;
    Problems layout; // already reported by the layout checks
    list->clear();
    if (ReadPeHeaders(file, &h, &layout))
        ReadResources(file, h, list, problems);
}
