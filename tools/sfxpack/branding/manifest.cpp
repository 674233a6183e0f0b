#include "branding/manifest.h"

#include <cstring>
#include <initializer_list>

#include "payload/payload_rules.h"

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

constexpr size_t kMaxDepth = 64;

// The part of a qualified name after its prefix.
std::string LocalName(const std::string& qname) {
    const size_t colon = qname.find(':');
    return colon == std::string::npos ? qname : qname.substr(colon + 1);
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Appends code point cp to out as UTF-8; false for one XML does not allow.
bool AppendCodePoint(uint32_t cp, std::string* out) {
    if (cp == 0 || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
        return false;
    if (cp < 0x80) {
        *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out += static_cast<char>(0xc0 | cp >> 6);
        *out += static_cast<char>(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        *out += static_cast<char>(0xe0 | cp >> 12);
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        *out += static_cast<char>(0x80 | (cp & 0x3f));
    } else {
        *out += static_cast<char>(0xf0 | cp >> 18);
        *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        *out += static_cast<char>(0x80 | (cp & 0x3f));
    }
    return true;
}

// Appends raw (character data or an attribute value) to out with its references replaced;
// false on a reference XML does not define.
bool AppendDecoded(const std::string& raw, std::string* out) {
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '&') {
            *out += raw[i];
            continue;
        }
        const size_t end = raw.find(';', i);
        if (end == std::string::npos || end - i > 12)
            return false;
        const std::string name = raw.substr(i + 1, end - i - 1);
        const char* named[][2] = {
            {"lt", "<"}, {"gt", ">"}, {"amp", "&"}, {"quot", "\""}, {"apos", "'"}};
        bool known = false;
        for (const auto& n : named)
            if (name == n[0]) {
                *out += n[1];
                known = true;
            }
        if (!known) {
            const bool hex = name.size() > 2 && name[0] == '#' && name[1] == 'x';
            const std::string digits = name.substr(name.empty() ? 0 : hex ? 2 : 1);
            const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
            if (name.empty() || name[0] != '#' || digits.empty() ||
                digits.find_first_not_of(allowed) != std::string::npos)
                return false;
            uint32_t cp = 0;
            for (const char d : digits) {
                const uint32_t v = d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10;
                cp = cp > 0x10ffff ? cp : cp * (hex ? 16 : 10) + v; // stops growing once too big
            }
            if (!AppendCodePoint(cp, out))
                return false;
        }
        i = end;
    }
    return true;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsSpace(s[b]))
        ++b;
    while (e > b && IsSpace(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// The document being read: its text, the open elements (qualified and local names), the
// current element's character data, and what has been found.
struct Reader {
    const std::string& s;
    size_t at;
    std::vector<std::string> open, local;
    std::string text;
    ManifestSummary* out;
    Problems* problems;
};

bool Fail(Reader* r, const std::string& why) {
    return Fail(r->problems, "not well-formed XML at byte " + std::to_string(r->at) + ": " + why);
}

// True when the open elements, below the root, are exactly path.
bool At(const Reader& r, std::initializer_list<const char*> path) {
    if (r.local.size() != path.size() + 1)
        return false;
    size_t i = 1;
    for (const char* name : path)
        if (r.local[i++] != name)
            return false;
    return true;
}

// Reads the name starting at r->at.
std::string ReadName(Reader* r) {
    const size_t begin = r->at;
    while (r->at < r->s.size() && !IsSpace(r->s[r->at]) &&
           std::string("/>=<\"'").find(r->s[r->at]) == std::string::npos)
        ++r->at;
    return r->s.substr(begin, r->at - begin);
}

void SkipSpace(Reader* r) {
    while (r->at < r->s.size() && IsSpace(r->s[r->at]))
        ++r->at;
}

// Notes what the element just opened (the last of r->local) declares through attributes.
void StartElement(Reader* r, const std::vector<std::pair<std::string, std::string>>& attributes) {
    const auto attribute = [&](const char* name) {
        for (const auto& a : attributes)
            if (a.first == name)
                return a.second;
        return std::string();
    };
    if (r->local.size() == 2) {
        r->out->hasTrustInfo |= r->local[1] == "trustInfo";
        r->out->hasCompatibility |= r->local[1] == "compatibility";
        r->out->hasApplication |= r->local[1] == "application";
    }
    if (At(*r, {"trustInfo", "security", "requestedPrivileges", "requestedExecutionLevel"}))
        r->out->executionLevel = attribute("level");
    if (At(*r, {"compatibility", "application", "supportedOS"}))
        r->out->supportedOs.push_back(attribute("Id"));
}

// Notes what the element about to close declares through its text.
void EndElement(Reader* r) {
    if (At(*r, {"application", "windowsSettings", "dpiAware"}))
        r->out->dpiAware = Trim(r->text);
    if (At(*r, {"application", "windowsSettings", "dpiAwareness"}))
        r->out->dpiAwareness = Trim(r->text);
    if (At(*r, {"application", "windowsSettings", "longPathAware"}))
        r->out->longPathAware = Trim(r->text);
}

// Reads a start tag (r->at just after '<') and opens its element.
bool ReadStartTag(Reader* r) {
    if (r->open.empty() && !r->local.empty())
        return Fail(r, "a second root element");
    const std::string name = ReadName(r);
    if (name.empty())
        return Fail(r, "a tag without a name");
    std::vector<std::pair<std::string, std::string>> attributes;
    for (;;) {
        const size_t before = r->at;
        SkipSpace(r);
        if (r->at >= r->s.size())
            return Fail(r, "an unclosed tag");
        const char c = r->s[r->at];
        if (c == '>' || c == '/')
            break;
        if (r->at == before)
            return Fail(r, "attributes run together");
        const std::string key = ReadName(r);
        SkipSpace(r);
        if (key.empty() || r->at >= r->s.size() || r->s[r->at] != '=')
            return Fail(r, "an attribute without a value");
        ++r->at;
        SkipSpace(r);
        const char quote = r->at < r->s.size() ? r->s[r->at] : '\0';
        const size_t end =
            quote == '"' || quote == '\'' ? r->s.find(quote, r->at + 1) : std::string::npos;
        if (end == std::string::npos)
            return Fail(r, "an unquoted or unclosed attribute value");
        const std::string raw = r->s.substr(r->at + 1, end - r->at - 1);
        std::string value;
        if (raw.find('<') != std::string::npos || !AppendDecoded(raw, &value))
            return Fail(r, "a '<' or an unknown reference in an attribute value");
        for (const auto& a : attributes)
            if (a.first == key)
                return Fail(r, "attribute " + key + " given twice");
        attributes.push_back({key, value});
        r->at = end + 1;
    }
    const bool empty = r->s[r->at] == '/';
    if (empty && (r->at + 1 >= r->s.size() || r->s[r->at + 1] != '>'))
        return Fail(r, "'/' not followed by '>'");
    r->at += empty ? 2 : 1;
    if (r->open.size() == kMaxDepth)
        return Fail(r, "elements nested too deep");
    if (r->local.empty() && LocalName(name) != "assembly")
        return Fail(r, "the root element is " + name + ", not assembly");
    r->open.push_back(name);
    r->local.push_back(LocalName(name));
    r->text.clear();
    StartElement(r, attributes);
    if (empty) {
        EndElement(r);
        r->open.pop_back();
        r->local.resize(r->open.size() + (r->open.empty() ? 1 : 0)); // keep the root's name
    }
    return true;
}

// Reads an end tag (r->at just after "</") and closes its element; tagStart is where it began.
bool ReadEndTag(Reader* r, size_t tagStart) {
    const std::string name = ReadName(r);
    SkipSpace(r);
    if (r->at >= r->s.size() || r->s[r->at] != '>')
        return Fail(r, "an unclosed end tag");
    ++r->at;
    if (r->open.empty() || r->open.back() != name)
        return Fail(r, "end tag " + name + " closes no open element");
    EndElement(r);
    if (r->open.size() == 1)
        r->out->rootEnd = tagStart;
    r->open.pop_back();
    r->local.resize(r->open.size() + (r->open.empty() ? 1 : 0));
    r->text.clear();
    return true;
}

// Reads one markup construct starting at '<'.
bool ReadMarkup(Reader* r) {
    const std::string& s = r->s;
    const size_t start = r->at;
    const auto skipPast = [&](const char* opener, const char* closer) {
        const size_t end = s.find(closer, start + strlen(opener));
        if (end == std::string::npos)
            return false;
        r->at = end + strlen(closer);
        return true;
    };
    if (s.compare(start, 4, "<!--") == 0)
        return skipPast("<!--", "-->") || Fail(r, "an unclosed comment");
    if (s.compare(start, 2, "<?") == 0)
        return skipPast("<?", "?>") || Fail(r, "an unclosed processing instruction");
    if (s.compare(start, 9, "<![CDATA[") == 0) {
        const size_t end = s.find("]]>", start + 9);
        if (r->open.empty() || end == std::string::npos)
            return Fail(r, "a CDATA section outside the root or unclosed");
        r->text += s.substr(start + 9, end - start - 9);
        r->at = end + 3;
        return true;
    }
    if (s.compare(start, 2, "<!") == 0)
        return Fail(r, "a document type or other declaration");
    if (s.compare(start, 2, "</") == 0) {
        r->at = start + 2;
        return ReadEndTag(r, start);
    }
    r->at = start + 1;
    return ReadStartTag(r);
}

} // namespace

bool IsExecutionLevel(const std::string& level) {
    for (const char* known : kExecutionLevels)
        if (level == known)
            return true;
    return false;
}

bool ReadManifest(const std::string& xml, ManifestSummary* s, Problems* problems) {
    *s = ManifestSummary();
    if (!IsValidUtf8(xml))
        return Fail(problems, "not UTF-8");
    Reader r{xml, xml.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3u : 0u, {}, {}, {}, s, problems};
    while (r.at < xml.size()) {
        if (xml[r.at] == '<') {
            if (!ReadMarkup(&r))
                return false;
            continue;
        }
        size_t end = xml.find('<', r.at);
        end = end == std::string::npos ? xml.size() : end;
        const std::string raw = xml.substr(r.at, end - r.at);
        if (r.open.empty() && !Trim(raw).empty())
            return Fail(&r, "text outside the root element");
        if (!r.open.empty() && !AppendDecoded(raw, &r.text))
            return Fail(&r, "an unknown reference");
        r.at = end;
    }
    if (!r.open.empty())
        return Fail(&r, "element " + r.open.back() + " is not closed");
    if (r.local.empty())
        return Fail(&r, "no root element");
    return true;
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
