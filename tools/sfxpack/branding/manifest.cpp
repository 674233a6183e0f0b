#include "branding/manifest.h"

#include <cstring>

namespace {

constexpr const char* kExecutionLevels[] = {"asInvoker", "highestAvailable",
                                            "requireAdministrator"};

// Every Windows that knows the compatibility section, oldest first.
struct SupportedOs {
    const char* id;
    const char* name;
};
constexpr SupportedOs kSupportedOs[] = {
    {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "Vista"},
    {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "7"},
    {"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "8"},
    {"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "8.1"},
    {"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "10/11"},
};

// Per-monitor v2 where Windows has it (10 1703 on); system aware before, through dpiAware on
// the systems that ignore dpiAwareness and through the list's fallback on 10 1607.
constexpr char kDpiAware[] = "true";
constexpr char kDpiAwareness[] = "PerMonitorV2, System";
constexpr char kLongPathAware[] = "true";

} // namespace

bool IsExecutionLevel(const std::string& level) {
    for (const char* known : kExecutionLevels)
        if (level == known)
            return true;
    return false;
}

// The elements o asks for, one per line at two spaces a level under the root, each line
// ended by eol.
static std::string ManifestFragment(const ManifestOptions& o, const std::string& eol) {
    std::string x;
    const auto line = [&](int level, const std::string& text) {
        x += std::string(2 * level, ' ') + text + eol;
    };
    if (!o.executionLevel.empty()) {
        line(1, "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">");
        line(2, "<security>");
        line(3, "<requestedPrivileges>");
        line(4, "<requestedExecutionLevel level=\"" + o.executionLevel + "\" uiAccess=\"false\"/>");
        line(3, "</requestedPrivileges>");
        line(2, "</security>");
        line(1, "</trustInfo>");
    }
    if (o.supportedOs) {
        line(1, "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">");
        line(2, "<application>");
        for (const SupportedOs& os : kSupportedOs)
            line(3, std::string("<supportedOS Id=\"") + os.id + "\"/>");
        line(2, "</application>");
        line(1, "</compatibility>");
    }
    if (o.dpiAware || o.longPathAware) {
        line(1, "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\">");
        line(2, "<windowsSettings>");
        if (o.dpiAware) {
            line(3, std::string("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/"
                                "WindowsSettings\">") +
                        kDpiAware + "</dpiAware>");
            line(3, std::string("<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                                "WindowsSettings\">") +
                        kDpiAwareness + "</dpiAwareness>");
        }
        if (o.longPathAware)
            line(3, std::string("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                                "WindowsSettings\">") +
                        kLongPathAware + "</longPathAware>");
        line(2, "</windowsSettings>");
        line(1, "</application>");
    }
    return x;
}

bool EditManifest(const ManifestOptions& o, std::string* xml, Problems* problems) {
    const std::string eol = xml->find("\r\n") != std::string::npos ? "\r\n" : "\n";
    const std::string fragment = ManifestFragment(o, eol);
    if (fragment.empty())
        return true;
    ManifestSummary s;
    if (!ReadManifest(*xml, &s, problems))
        return false;
    const char* twice = !o.executionLevel.empty() && s.hasTrustInfo           ? "trustInfo"
                        : o.supportedOs && s.hasCompatibility                 ? "compatibility"
                        : (o.dpiAware || o.longPathAware) && s.hasApplication ? "application"
                                                                              : nullptr;
    if (twice)
        return Fail(problems, std::string("it already declares <") + twice + ">");
    if (s.rootEnd == 0)
        return Fail(problems, "its root element is empty");
    // At the start of the end tag's line when only indentation precedes it there.
    size_t at = s.rootEnd;
    while (at > 0 && ((*xml)[at - 1] == ' ' || (*xml)[at - 1] == '\t'))
        --at;
    if (at > 0 && (*xml)[at - 1] == '\n')
        xml->insert(at, fragment);
    else
        xml->insert(s.rootEnd, eol + fragment);
    return true;
}

// The first RT_MANIFEST 1 of list, or null.
template <typename List> static auto FindManifest(List* list) -> decltype(&(*list)[0]) {
    for (auto& r : *list)
        if (CompareIds(r.type, NumberId(kTypeManifest)) == 0 &&
            CompareIds(r.name, NumberId(kManifestId)) == 0)
            return &r;
    return nullptr;
}

bool ApplyManifestOptions(const ManifestOptions& o, std::vector<Resource>* list,
                          Problems* problems) {
    if (o.executionLevel.empty() && !o.supportedOs && !o.dpiAware && !o.longPathAware)
        return true;
    Resource* manifest = FindManifest(list);
    if (!manifest)
        return Fail(problems, "cannot change the stub's manifest: it has none");
    std::string xml(manifest->data.begin(), manifest->data.end());
    Problems edit;
    if (!EditManifest(o, &xml, &edit)) {
        AppendProblems(problems, edit, "cannot change the stub's manifest: ");
        return false;
    }
    manifest->data.assign(xml.begin(), xml.end());
    return true;
}

// The name of a supportedOS Id, or the Id itself.
static std::string OsName(const std::string& id) {
    for (const SupportedOs& os : kSupportedOs)
        if (id == os.id)
            return os.name;
    return id;
}

void DescribeManifest(const std::vector<Resource>& list, std::vector<std::string>* lines,
                      Problems* problems) {
    const Resource* manifest = FindManifest(&list);
    ManifestSummary s;
    Problems read;
    if (manifest &&
        !ReadManifest(std::string(manifest->data.begin(), manifest->data.end()), &s, &read)) {
        AppendProblems(problems, read, "manifest: ");
        return;
    }
    if (!manifest)
        lines->push_back("manifest: none");
    else {
        std::string os;
        for (const std::string& id : s.supportedOs)
            os += (os.empty() ? "" : ", ") + OsName(id);
        const auto declared = [](const std::string& v) { return v.empty() ? "not declared" : v; };
        lines->push_back("manifest: execution level: " + declared(s.executionLevel));
        lines->push_back("manifest: supported OS: " + (os.empty() ? "not declared" : os));
        lines->push_back("manifest: DPI awareness: " +
                         (s.dpiAware.empty() && s.dpiAwareness.empty()
                              ? std::string("not declared")
                              : "dpiAware " + declared(s.dpiAware) + "; dpiAwareness " +
                                    declared(s.dpiAwareness)));
        lines->push_back("manifest: long-path aware: " + declared(s.longPathAware));
    }
    if (s.executionLevel.empty())
        Warn(problems,
             "no execution level in the manifest: Windows may take a 32-bit installer whose name "
             "contains \"setup\" or \"install\" for a legacy one and ask to elevate it (installer "
             "detection), and redirects a 32-bit program's writes to protected folders into the "
             "user's VirtualStore (file virtualization); pack with --execution-level");
}
