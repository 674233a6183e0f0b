#include "branding/branding.h"

#include "util/text.h"

// Reads the icon file at path into b->images.
static bool LoadIcon(Branding* b, Problems* problems) {
    Source file;
    if (!OpenSource(b->iconPath, &file, problems))
        return false;
    std::vector<uint8_t> data(file.size <= kMaxIconFileBytes ? file.size : 0);
    const bool tooLarge = file.size > kMaxIconFileBytes;
    const bool read = !tooLarge && ReadAt(file, 0, data.data(), data.size());
    CloseSource(&file);
    if (tooLarge || !read)
        return Fail(problems, b->iconPath + ": " +
                                  (tooLarge ? std::to_string(file.size) +
                                                  " bytes, over the 1 MiB an icon may take"
                                            : "cannot read it"));
    Problems parsed;
    if (ParseIconFile(data.data(), data.size(), &b->images, &parsed))
        return true;
    AppendProblems(problems, parsed, b->iconPath + ": ");
    return false;
}

bool LoadBranding(Branding* b, Problems* problems) {
    for (size_t i = 0; i < b->version.size(); ++i) {
        if (!CheckVersionSetting(b->version[i], problems))
            return false;
        for (size_t j = 0; j < i; ++j)
            if (b->version[j].key == b->version[i].key)
                return Fail(problems, "--version-info " + b->version[i].key + " is given twice");
    }
    return b->iconPath.empty() || LoadIcon(b, problems);
}

// Replaces the first icon group's images in list by b's, under new icon ids.
static bool ReplaceIcon(const Branding& b, std::vector<Resource>* list, Problems* problems) {
    size_t g = 0;
    while (g < list->size() && CompareIds((*list)[g].type, NumberId(kTypeGroupIcon)) != 0)
        ++g;
    std::vector<IconGroupEntry> old;
    if (g == list->size())
        return Fail(problems, "no icon group to replace");
    if (!ParseIconGroup((*list)[g].data, &old, problems))
        return false;
    Resource group = (*list)[g];
    std::vector<Resource> kept;
    std::vector<bool> used(0x10000);
    for (const Resource& r : *list) {
        const bool icon = CompareIds(r.type, NumberId(kTypeIcon)) == 0 && !r.name.isName;
        bool listed = false;
        for (const IconGroupEntry& e : old)
            listed = listed || (icon && e.id == r.name.number);
        if (listed)
            continue; // an image of the group being replaced
        if (icon)
            used[r.name.number] = true;
        kept.push_back(r);
    }
    std::vector<uint16_t> ids;
    for (uint32_t id = 1; id < used.size() && ids.size() < b.images.size(); ++id)
        if (!used[id])
            ids.push_back(static_cast<uint16_t>(id));
    if (ids.size() < b.images.size()) {
        Fail(problems, "no free icon ids for " + std::to_string(b.images.size()) + " images");
        return false;
    }
    for (Resource& r : kept)
        if (CompareIds(r.type, group.type) == 0 && CompareIds(r.name, group.name) == 0 &&
            CompareIds(r.language, group.language) == 0)
            r.data = BuildIconGroup(b.images, ids);
    for (size_t i = 0; i < b.images.size(); ++i) {
        Resource icon;
        icon.type = NumberId(kTypeIcon);
        icon.name = NumberId(ids[i]);
        icon.language = group.language;
        icon.codePage = group.codePage;
        icon.data = b.images[i].data;
        InsertResource(&kept, std::move(icon));
    }
    list->swap(kept);
    return true;
}

// Applies b's settings to every version block in list.
static bool ReplaceVersion(const Branding& b, std::vector<Resource>* list, Problems* problems) {
    bool found = false;
    for (Resource& r : *list) {
        if (CompareIds(r.type, NumberId(kTypeVersion)) != 0)
            continue;
        found = true;
        VersionNode root;
        Problems found;
        if (!ParseVersionBlock(r.data, &root, &found) ||
            !ApplyVersionSettings(b.version, &root, &found)) {
            AppendProblems(problems, found, "cannot brand the stub: ");
            return false;
        }
        if (!SerializeVersionBlock(root, &r.data, &found)) {
            for (const std::string& line : found.errors)
                Fail(problems, "--version-info: " + line + ": shorten the values");
            return false;
        }
    }
    if (!found)
        Fail(problems, "cannot brand the stub: no version block to replace");
    return found;
}

bool BrandResources(const Branding& b, std::vector<Resource>* list, Problems* problems) {
    Problems icon;
    if (!b.iconPath.empty() && !ReplaceIcon(b, list, &icon)) {
        AppendProblems(problems, icon, "cannot brand the stub: ");
        return false;
    }
    return b.version.empty() || ReplaceVersion(b, list, problems);
}

// The line describing group g of list: each image's size and depth, PNG when it is one.
static void DescribeIcon(const std::vector<Resource>& list, const Resource& g,
                         std::vector<std::string>* lines, Problems* problems) {
    std::vector<IconGroupEntry> entries;
    Problems group;
    if (!ParseIconGroup(g.data, &entries, &group)) {
        AppendProblems(problems, group, "resources: ");
        return;
    }
    std::string line = "icon:";
    for (const IconGroupEntry& e : entries) {
        line += std::string(line.size() > 5 ? ", " : " ") + std::to_string(e.width) + "x" +
                std::to_string(e.height) + " " + std::to_string(e.bitCount) + "-bit";
        for (const Resource& r : list)
            if (CompareIds(r.type, NumberId(kTypeIcon)) == 0 &&
                CompareIds(r.name, NumberId(e.id)) == 0) {
                line += IsPng(r.data) ? " PNG" : "";
                break;
            }
    }
    lines->push_back(line);
}

// The lines describing version block v: numbers, then each string of its first table.
static void DescribeVersion(const Resource& v, std::vector<std::string>* lines,
                            Problems* problems) {
    VersionNode root;
    Problems block;
    if (!ParseVersionBlock(v.data, &root, &block)) {
        AppendProblems(problems, block, "resources: ");
        return;
    }
    VersionSummary s;
    SummarizeVersion(root, &s);
    std::string line = "version:";
    if (!s.fileVersion.empty())
        line += " file " + s.fileVersion + ", product " + s.productVersion + ",";
    lines->push_back(line + " strings " + (s.table.empty() ? "(none)" : QuoteName(s.table)));
    for (const VersionSetting& kv : s.strings)
        lines->push_back("  " + kv.key + ": " + QuoteName(kv.value));
}

void DescribeBranding(const std::vector<Resource>& list, std::vector<std::string>* lines,
                      Problems* problems) {
    for (const Resource& r : list)
        if (CompareIds(r.type, NumberId(kTypeGroupIcon)) == 0) {
            DescribeIcon(list, r, lines, problems);
            break;
        }
    for (const Resource& r : list)
        if (CompareIds(r.type, NumberId(kTypeVersion)) == 0) {
            DescribeVersion(r, lines, problems);
            break;
        }
}
