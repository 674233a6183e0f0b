#include "branding/manifest_reader.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "util/text.h"

namespace {

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
