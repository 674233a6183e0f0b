// A package author's icon and version information in place of the stub's, and what an
// installer carries of both.
#pragma once

#include <string>
#include <vector>

#include "file_io.h"
#include "icon_file.h"
#include "version_block.h"

struct Branding {
    std::string iconPath; // empty: the stub's icon stays
    std::vector<VersionSetting> version;
    std::vector<IconImage> images; // read from iconPath by LoadBranding
};

// True when the installer is to carry anything of the author's.
bool WantsBranding(const Branding& b);

// Reads and checks the icon file and the settings before anything is written. False with
// one line in *error.
bool LoadBranding(Branding* b, std::string* error);

// The stub's image with its icon group and version block replaced as b asks, every other
// resource kept byte for byte, in *image. The checksum field is set by SetInstallerChecksum
// once the payload is known. False with one line in *error.
bool BrandStub(const Source& stub, const Branding& b, std::vector<uint8_t>* image,
               std::string* error);

// Sets the checksum field of image, a branded stub, for the installer image + payload.
bool SetInstallerChecksum(std::vector<uint8_t>* image, const Source& payload, std::string* error);

// Lines describing the first icon group (each image's size and depth) and the version block
// (numbers and strings) of the image in file. Appends a problem for an unreadable tree.
void DescribeBranding(const Source& file, std::vector<std::string>* lines,
                      std::vector<std::string>* problems);
