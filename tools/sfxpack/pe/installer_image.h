// The stub's image as an installer carries it: its resources read once, changed by the
// packing options and the payload record, laid out again, and checksummed with the payload.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/problems.h"
#include "util/file_io.h"
#include "pe/pe_rewrite.h"
#include "pe/resource_tree.h"

// The resources of a stub being packed, and the section they are written back to.
struct StubResources {
    PeHeaders headers;
    size_t section = 0;
    std::vector<Resource> list;
};

// Reads the resources of stub, which must have a resource section that can change size in
// place. False with a line in *problems.
bool ReadStubResources(const Source& stub, StubResources* out, Problems* problems);

// The stub's image with its resource section rebuilt from r.list, in *image; the checksum
// field is set by SetInstallerChecksum once the payload is known. False with a line in *problems.
bool LayOutStub(const Source& stub, const StubResources& r, std::vector<uint8_t>* image,
                Problems* problems);

// Sets the checksum field of image, a rewritten stub, for the installer image + payload.
bool SetInstallerChecksum(std::vector<uint8_t>* image, const Source& payload, Problems* problems);

// Reads the resources of the installer in file. An image whose headers cannot be read gives
// no resources (the layout checks report it); an unreadable tree appends a problem.
void ReadInstallerResources(const Source& file, std::vector<Resource>* list, Problems* problems);
