// A package author's icon and version information in place of the stub's, and what an
// installer carries of both.
#pragma once

#include <string>
#include <vector>

#include "util/problems.h"
#include "util/file_io.h"
#include "branding/icon_file.h"
#include "pe/resource_tree.h"
#include "branding/version_block.h"

struct Branding {
    std::string iconPath; // empty: the stub's icon stays
    std::vector<VersionSetting> version;
    std::vector<IconImage> images; // read from iconPath by LoadBranding
};

// Reads and checks the icon file and the settings before anything is written. False with a line in
// *problems.
bool LoadBranding(Branding* b, Problems* problems);

// Replaces the icon group and version block of list, a stub's resources, as b asks (nothing
// when it asks nothing), every other resource kept byte for byte. False with a line in
// *problems.
bool BrandResources(const Branding& b, std::vector<Resource>* list, Problems* problems);

// Lines describing the first icon group (each image's size and depth) and the version block
// (numbers and strings) among list, an installer's resources. Appends a problem for one that
// cannot be read.
void DescribeBranding(const std::vector<Resource>& list, std::vector<std::string>* lines,
                      Problems* problems);
