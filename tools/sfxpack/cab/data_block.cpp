#include "cab/data_block.h"

#include "cab_format.h"
#include "le.h"

uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed) {
    uint32_t sum = seed;
    size_t i = 0;
    for (; i + 4 <= size; i += 4)
        sum ^= ReadLe32(data + i);
    uint32_t tail = 0;
    switch (size & 3) {
    case 3:
        tail |= uint32_t(data[i++]) << 16;
        [[fallthrough]];
    case 2:
        tail |= uint32_t(data[i++]) << 8;
        [[fallthrough]];
    case 1:
        tail |= data[i];
        break;
    default:
        break;
    }
    return sum ^ tail;
}

void AppendDataBlock(const uint8_t* payload, size_t size, uint32_t uncompressed,
                     std::vector<uint8_t>* out) {
    uint8_t header[kCfdataSizeof];
    WriteLe16(header + kCfdataCompressedSize, static_cast<uint16_t>(size));
    WriteLe16(header + kCfdataUncompressedSize, static_cast<uint16_t>(uncompressed));
    // The sizes are summed after the payload, as the format defines.
    const uint32_t sum = CabChecksum(header + kCfdataCompressedSize, 4,
                                     CabChecksum(payload, size, 0));
    WriteLe32(header + kCfdataChecksum, sum);
    out->insert(out->end(), header, header + sizeof(header));
    out->insert(out->end(), payload, payload + size);
}
