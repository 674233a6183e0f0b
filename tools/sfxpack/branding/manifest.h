// The stub's application manifest: what the packing options add to it, and what an
// installer's manifest declares, read back for --list and --check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/problems.h"
#include "branding/manifest_reader.h"
#include "pe/resource_tree.h"

constexpr uint16_t kTypeManifest = 24;
constexpr uint16_t kManifestId = 1;

// The manifest options of one packing run; all off leaves the manifest as the stub has it.
struct ManifestOptions {
    std::string executionLevel; // "" or one IsExecutionLevel accepts
    bool supportedOs = false;
    bool dpiAware = false;
    bool longPathAware = false;
};

// True for asInvoker, highestAvailable and requireAdministrator.
bool IsExecutionLevel(const std::string& level);

// Adds what o asks for to xml just before the root's end tag, one element per line, indented
// and ended like the document; nothing when o asks nothing. False with a line in *problems when xml
// cannot be read or already has an element that an option would add a second of.
bool EditManifest(const ManifestOptions& o, std::string* xml, Problems* problems);

// EditManifest on the first RT_MANIFEST 1 of list, in whatever language. False with a line in
// *problems when options are given and there is no manifest or it cannot be edited.
bool ApplyManifestOptions(const ManifestOptions& o, std::vector<Resource>* list,
                          Problems* problems);

// Lines describing the first RT_MANIFEST 1 of list: execution level, supported systems, DPI
// and long-path awareness, or one line saying there is none. A warning when no execution level
// is declared, a problem when the manifest cannot be read.
void DescribeManifest(const std::vector<Resource>& list, std::vector<std::string>* lines,
                      Problems* problems);
