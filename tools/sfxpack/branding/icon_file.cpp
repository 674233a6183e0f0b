#include "branding/icon_file.h"

#include <cstring>

#include "le.h"

constexpr size_t kIconDirSize = 6;
constexpr size_t kIconEntrySize = 16;
constexpr size_t kGroupEntrySize = 14;
constexpr uint16_t kIconType = 1;
constexpr size_t kBitmapHeaderSize = 40;
constexpr uint32_t kBiRgb = 0, kBiBitfields = 3;
static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr size_t kPngHeaderEnd = 33; // signature, then the IHDR chunk with its CRC

static uint32_t ReadBe32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

bool IsPng(const std::vector<uint8_t>& image) {
    return image.size() >= sizeof(kPngSignature) &&
           memcmp(image.data(), kPngSignature, sizeof(kPngSignature)) == 0;
}

static bool InIconRange(uint32_t v) {
    return v >= 1 && v <= kMaxIconPixels;
}

// Reads size and depth from the IHDR chunk that starts every PNG file.
static bool ReadPngHeader(IconImage* image, std::string* why) {
    const std::vector<uint8_t>& d = image->data;
    if (d.size() < kPngHeaderEnd || ReadBe32(&d[8]) != 13 || memcmp(&d[12], "IHDR", 4) != 0) {
        *why = "PNG data without its IHDR header";
        return false;
    }
    image->width = ReadBe32(&d[16]);
    image->height = ReadBe32(&d[20]);
    const uint8_t depth = d[24], colour = d[25];
    const int channels = colour == 6 ? 4 : colour == 2 ? 3 : colour == 4 ? 2 : 1;
    image->bitCount = static_cast<uint16_t>(depth * channels);
    image->png = true;
    return true;
}

// Reads size and depth from a DIB's header and checks that its pixels and mask fit.
static bool ReadDibHeader(IconImage* image, std::string* why) {
    const std::vector<uint8_t>& d = image->data;
    const uint32_t headerSize = d.size() >= 4 ? ReadLe32(d.data()) : 0;
    if (d.size() < kBitmapHeaderSize || headerSize < kBitmapHeaderSize || headerSize > d.size()) {
        *why = "neither a PNG nor a bitmap (DIB) image";
        return false;
    }
    const int32_t width = static_cast<int32_t>(ReadLe32(&d[4]));
    const int32_t doubled = static_cast<int32_t>(ReadLe32(&d[8])); // colour rows, then mask
    const uint16_t planes = ReadLe16(&d[12]), bits = ReadLe16(&d[14]);
    const uint32_t compression = ReadLe32(&d[16]), used = ReadLe32(&d[32]);
    const bool knownDepth =
        bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (planes != 1 || !knownDepth || (compression != kBiRgb && compression != kBiBitfields)) {
        *why = "a bitmap with " + std::to_string(planes) + " planes, " + std::to_string(bits) +
               " bits per pixel, compression " + std::to_string(compression) +
               ": not an icon image";
        return false;
    }
    if (width <= 0 || doubled <= 0 || doubled % 2 != 0) {
        *why = "a bitmap of " + std::to_string(width) + "x" + std::to_string(doubled) +
               " pixels with its mask: not an icon image";
        return false;
    }
    image->width = static_cast<uint32_t>(width);
    image->height = static_cast<uint32_t>(doubled / 2);
    image->bitCount = bits;
    if (!InIconRange(image->width) || !InIconRange(image->height))
        return true; // the caller reports the size
    const uint64_t colours = used ? used : bits <= 8 ? 1u << bits : 0;
    const uint64_t masks = compression == kBiBitfields && headerSize == kBitmapHeaderSize ? 12 : 0;
    const uint64_t colourRow = (uint64_t(image->width) * bits + 31) / 32 * 4;
    const uint64_t maskRow = (uint64_t(image->width) + 31) / 32 * 4;
    const uint64_t needed =
        headerSize + masks + 4 * colours + uint64_t(image->height) * (colourRow + maskRow);
    if ((bits <= 8 && colours > (1u << bits)) || needed > d.size()) {
        *why = "bitmap data of " + std::to_string(d.size()) + " bytes where its header needs " +
               std::to_string(needed);
        return false;
    }
    return true;
}

bool ParseIconFile(const uint8_t* data, size_t n, std::vector<IconImage>* images,
                   Problems* problems) {
    images->clear();
    if (n < kIconDirSize || ReadLe16(data) != 0 || ReadLe16(data + 2) != kIconType) {
        Fail(problems, "not an icon (.ico) file");
        return false;
    }
    const size_t count = ReadLe16(data + 4);
    if (count == 0) {
        Fail(problems, "the icon file holds no image");
        return false;
    }
    const size_t directoryEnd = kIconDirSize + count * kIconEntrySize;
    if (directoryEnd > n) {
        Fail(problems, "the icon file is cut short: its directory of " + std::to_string(count) +
                           " images needs " + std::to_string(directoryEnd) + " bytes");
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = data + kIconDirSize + i * kIconEntrySize;
        const uint32_t size = ReadLe32(e + 8), offset = ReadLe32(e + 12);
        const std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count);
        if (size == 0 || offset < directoryEnd || offset > n || size > n - offset) {
            Fail(problems, which + " (" + std::to_string(size) + " bytes at " +
                               std::to_string(offset) +
                               ") lies outside the icon file: is it cut short?");
            return false;
        }
        IconImage image;
        image.data.assign(data + offset, data + offset + size);
        std::string why;
        if (!(IsPng(image.data) ? ReadPngHeader(&image, &why) : ReadDibHeader(&image, &why))) {
            Fail(problems, which + ": " + why);
            return false;
        }
        if (!InIconRange(image.width) || !InIconRange(image.height)) {
            Fail(problems, which + " is " + std::to_string(image.width) + "x" +
                               std::to_string(image.height) +
                               " pixels: icons are 1 to 256 pixels a side");
            return false;
        }
        images->push_back(std::move(image));
    }
    return true;
}

std::vector<uint8_t> BuildIconGroup(const std::vector<IconImage>& images,
                                    const std::vector<uint16_t>& ids) {
    std::vector<uint8_t> group(kIconDirSize + images.size() * kGroupEntrySize);
    WriteLe16(&group[2], kIconType);
    WriteLe16(&group[4], static_cast<uint16_t>(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        uint8_t* e = &group[kIconDirSize + i * kGroupEntrySize];
        e[0] = static_cast<uint8_t>(image.width); // 256 is written as 0
        e[1] = static_cast<uint8_t>(image.height);
        e[2] = static_cast<uint8_t>(image.bitCount < 8 ? 1u << image.bitCount : 0);
        WriteLe16(e + 4, 1);
        WriteLe16(e + 6, image.bitCount);
        WriteLe32(e + 8, static_cast<uint32_t>(image.data.size()));
        WriteLe16(e + 12, ids[i]);
    }
    return group;
}

bool ParseIconGroup(const std::vector<uint8_t>& group, std::vector<IconGroupEntry>* entries,
                    Problems* problems) {
    entries->clear();
    if (group.size() < kIconDirSize || ReadLe16(&group[0]) != 0 ||
        ReadLe16(&group[2]) != kIconType) {
        Fail(problems, "the icon group has no header");
        return false;
    }
    const size_t count = ReadLe16(&group[4]);
    if (group.size() < kIconDirSize + count * kGroupEntrySize) {
        Fail(problems, "the icon group is cut short");
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = &group[kIconDirSize + i * kGroupEntrySize];
        IconGroupEntry entry;
        entry.width = e[0] ? e[0] : kMaxIconPixels;
        entry.height = e[1] ? e[1] : kMaxIconPixels;
        entry.bitCount = ReadLe16(e + 6);
        entry.id = ReadLe16(e + 12);
        entries->push_back(entry);
    }
    return true;
}
