// A reader of application manifests: the well-formed XML an installer carries, and what it
// declares that --list, --check and the packing options care about.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "util/problems.h"

// What a manifest declares, found by local element names (prefixes ignored).
struct ManifestSummary {
    std::string executionLevel;
    std::vector<std::string> supportedOs; // the Ids, in document order
    std::string dpiAware, dpiAwareness, longPathAware;
    bool hasTrustInfo = false, hasCompatibility = false, hasApplication = false;
    size_t rootEnd = 0; // where the root's end tag starts; 0 for an empty root element
};

// Reads xml, which must be well-formed UTF-8 XML (no document type) rooted in assembly.
// False with a line in *problems otherwise.
bool ReadManifest(const std::string& xml, ManifestSummary* s, Problems* problems);
