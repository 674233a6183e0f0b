#include "branding/version_block.h"

#include "le.h"
#include "util/text.h"

constexpr size_t kNodeHeaderSize = 6;
constexpr uint16_t kTextType = 1;
constexpr int kMaxDepth = 4; // block, string file info, table, string
constexpr uint32_t kFixedSignature = 0xfeef04bd;
constexpr size_t kFixedInfoSize = 52;
constexpr size_t kFileVersionField = 8;
constexpr size_t kProductVersionField = 16;
static const char* const kKeys[] = {"FileVersion",      "ProductVersion", "ProductName",
                                    "FileDescription",  "CompanyName",    "LegalCopyright",
                                    "OriginalFilename", "InternalName"};

static size_t Align4(size_t v) {
    return (v + 3) & ~size_t(3);
}

// Valid UTF-8 as UTF-16.
static std::u16string ToUtf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const uint8_t b = static_cast<uint8_t>(s[i]);
        const int extra = b < 0x80 ? 0 : b < 0xe0 ? 1 : b < 0xf0 ? 2 : 3;
        uint32_t c = extra == 0 ? b : b & (0x3f >> extra);
        for (int k = 1; k <= extra; ++k)
            c = c << 6 | (static_cast<uint8_t>(s[i + k]) & 0x3f);
        i += 1 + extra;
        if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            out.push_back(static_cast<char16_t>(0xd800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xdc00 + ((c - 0x10000) & 0x3ff)));
        }
    }
    return out;
}

// UTF-16 as UTF-8; unpaired surrogates become U+FFFD.
static std::string ToUtf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        const bool high = c >= 0xd800 && c < 0xdc00;
        if (high && i + 1 < s.size() && s[i + 1] >= 0xdc00 && s[i + 1] < 0xe000)
            c = 0x10000 + ((c - 0xd800) << 10) + (s[++i] - 0xdc00);
        else if (c >= 0xd800 && c < 0xe000)
            c = 0xfffd;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xc0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xe0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3f));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return out;
}

// Parses "a.b.c.d", each part 1 to 5 digits and at most 65535, into two 32-bit halves.
static bool ParseVersionNumber(const std::string& s, uint32_t* ms, uint32_t* ls) {
    uint32_t parts[4] = {};
    size_t at = 0;
    for (int p = 0; p < 4; ++p) {
        if (p > 0 && (at >= s.size() || s[at++] != '.'))
            return false;
        const size_t start = at;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9' && at - start < 6)
            parts[p] = parts[p] * 10 + static_cast<uint32_t>(s[at++] - '0');
        if (at == start || at - start > 5 || parts[p] > 0xffff)
            return false;
    }
    *ms = parts[0] << 16 | parts[1];
    *ls = parts[2] << 16 | parts[3];
    return at == s.size();
}

static bool IsVersionKey(const std::string& key) {
    return key == "FileVersion" || key == "ProductVersion";
}

bool CheckVersionSetting(const VersionSetting& s, Problems* problems) {
    bool known = false;
    for (const char* k : kKeys)
        known = known || s.key == k;
    if (!known) {
        std::string keys;
        for (const char* k : kKeys)
            keys += std::string(keys.empty() ? "" : ", ") + k;
        return Fail(problems,
                    "unknown --version-info key " + QuoteName(s.key) + ": it sets " + keys);
    }
    uint32_t ms, ls;
    if (IsVersionKey(s.key) && !ParseVersionNumber(s.value, &ms, &ls))
        return Fail(problems,
                    s.key + " " + QuoteName(s.value) +
                        " is not a version number a.b.c.d (four numbers from 0 to 65535)");
    if (!IsValidUtf8(s.value))
        return Fail(problems, s.key + " " + QuoteName(s.value) + " is not valid UTF-8");
    return true;
}

// Parses the node at p, which may take up to n bytes, at nesting depth.
static bool ParseNode(const uint8_t* p, size_t n, int depth, VersionNode* node,
                      Problems* problems) {
    const size_t length = n >= kNodeHeaderSize ? ReadLe16(p) : 0;
    if (length < kNodeHeaderSize || length > n || depth > kMaxDepth) {
        Fail(problems, depth > kMaxDepth ? "version block nests too deep"
                                         : "version block node of " + std::to_string(length) +
                                               " bytes where " + std::to_string(n) + " remain");
        return false;
    }
    node->valueLength = ReadLe16(p + 2);
    node->type = ReadLe16(p + 4);
    size_t at = kNodeHeaderSize;
    for (; at + 2 <= length && ReadLe16(p + at) != 0; at += 2)
        node->key.push_back(static_cast<char16_t>(ReadLe16(p + at)));
    if (at + 2 > length) {
        Fail(problems, "version block key without its end");
        return false;
    }
    at = Align4(at + 2);
    size_t valueBytes = node->type == kTextType ? 2 * size_t(node->valueLength) : node->valueLength;
    if (at > length)
        at = length;
    // Some compilers count text values in bytes: keep what lies inside the node.
    if (valueBytes > length - at && node->type == kTextType)
        valueBytes = length - at;
    if (valueBytes > length - at) {
        Fail(problems, "version block value runs past its node");
        return false;
    }
    node->value.assign(p + at, p + at + valueBytes);
    for (at = Align4(at + valueBytes); at + kNodeHeaderSize <= length;) {
        node->children.emplace_back();
        if (!ParseNode(p + at, length - at, depth + 1, &node->children.back(), problems))
            return false;
        at += Align4(ReadLe16(p + at));
    }
    return true;
}

bool ParseVersionBlock(const std::vector<uint8_t>& block, VersionNode* root, Problems* problems) {
    *root = VersionNode();
    return ParseNode(block.data(), block.size(), 1, root, problems);
}

static void Pad4(std::vector<uint8_t>* out) {
    out->resize(Align4(out->size()));
}

static bool WriteNode(const VersionNode& node, std::vector<uint8_t>* out, Problems* problems) {
    const size_t start = out->size();
    out->resize(start + kNodeHeaderSize);
    for (char16_t c : node.key)
        out->push_back(static_cast<uint8_t>(c)), out->push_back(static_cast<uint8_t>(c >> 8));
    out->insert(out->end(), 2, 0);
    Pad4(out);
    out->insert(out->end(), node.value.begin(), node.value.end());
    for (const VersionNode& child : node.children) {
        Pad4(out);
        if (!WriteNode(child, out, problems))
            return false;
    }
    const size_t length = out->size() - start;
    if (length > kMaxVersionBlockBytes) {
        Fail(problems, "the version block's " + QuoteName(ToUtf8(node.key)) + " would take " +
                           std::to_string(length) + " bytes, over the " +
                           std::to_string(kMaxVersionBlockBytes) + " it can hold");
        return false;
    }
    WriteLe16(&(*out)[start], static_cast<uint16_t>(length));
    WriteLe16(&(*out)[start + 2], node.valueLength);
    WriteLe16(&(*out)[start + 4], node.type);
    return true;
}

bool SerializeVersionBlock(const VersionNode& root, std::vector<uint8_t>* block,
                           Problems* problems) {
    block->clear();
    return WriteNode(root, block, problems);
}

// The fixed file information of root, or null when it has none.
static uint8_t* FixedInfo(VersionNode* root) {
    if (root->value.size() != kFixedInfoSize || ReadLe32(root->value.data()) != kFixedSignature)
        return nullptr;
    return root->value.data();
}

// The string tables of root.
static std::vector<VersionNode*> StringTables(VersionNode* root) {
    std::vector<VersionNode*> tables;
    for (VersionNode& info : root->children)
        if (info.key == u"StringFileInfo")
            for (VersionNode& table : info.children)
                tables.push_back(&table);
    return tables;
}

bool ApplyVersionSettings(const std::vector<VersionSetting>& settings, VersionNode* root,
                          Problems* problems) {
    uint8_t* fixed = FixedInfo(root);
    const std::vector<VersionNode*> tables = StringTables(root);
    if (!fixed || tables.empty()) {
        Fail(problems, fixed ? "its version block has no string table"
                             : "its version block has no fixed file information");
        return false;
    }
    for (const VersionSetting& s : settings) {
        uint32_t ms, ls;
        if (IsVersionKey(s.key) && ParseVersionNumber(s.value, &ms, &ls)) {
            const size_t field = s.key == "FileVersion" ? kFileVersionField : kProductVersionField;
            WriteLe32(fixed + field, ms);
            WriteLe32(fixed + field + 4, ls);
        }
        VersionNode string;
        string.key = ToUtf16(s.key);
        string.type = kTextType;
        const std::u16string text = ToUtf16(s.value);
        for (char16_t c : text)
            string.value.push_back(static_cast<uint8_t>(c)),
                string.value.push_back(static_cast<uint8_t>(c >> 8));
        string.value.insert(string.value.end(), 2, 0);
        // The stored length counts the terminating zero; an over-long value fails when the
        // block is written.
        string.valueLength = static_cast<uint16_t>(text.size() < 0xffff ? text.size() + 1 : 0xffff);
        for (VersionNode* table : tables) {
            VersionNode* found = nullptr;
            for (VersionNode& existing : table->children)
                if (existing.key == string.key)
                    found = &existing;
            if (found)
                *found = string;
            else
                table->children.push_back(string);
        }
    }
    return true;
}

// The text value of node up to its first zero.
static std::string TextValue(const VersionNode& node) {
    std::u16string text;
    for (size_t i = 0; i + 1 < node.value.size() && ReadLe16(&node.value[i]) != 0; i += 2)
        text.push_back(static_cast<char16_t>(ReadLe16(&node.value[i])));
    return ToUtf8(text);
}

void SummarizeVersion(const VersionNode& root, VersionSummary* summary) {
    *summary = VersionSummary();
    VersionNode copy = root;
    if (const uint8_t* fixed = FixedInfo(&copy)) {
        const auto text = [](const uint8_t* field) {
            const uint32_t ms = ReadLe32(field), ls = ReadLe32(field + 4);
            return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xffff) + "." +
                   std::to_string(ls >> 16) + "." + std::to_string(ls & 0xffff);
        };
        summary->fileVersion = text(fixed + kFileVersionField);
        summary->productVersion = text(fixed + kProductVersionField);
    }
    const std::vector<VersionNode*> tables = StringTables(&copy);
    if (tables.empty())
        return;
    summary->table = ToUtf8(tables[0]->key);
    for (const VersionNode& s : tables[0]->children)
        summary->strings.push_back({ToUtf8(s.key), TextValue(s)});
}
