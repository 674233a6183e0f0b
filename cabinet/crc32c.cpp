#include "crc32c.h"

#include <cpuid.h>
#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kPolynomial = 0x82F63B78; // reflected Castagnoli

// Eight tables: slicing by 8 bytes a step, about 1 byte a cycle without the instruction. Made
// on first use rather than stored: 8 KiB less in every installer. The digest's threads may
// ask at once: each makes its own, and the first published is the one everyone uses.
std::atomic<uint32_t (*)[256]> s_tables{nullptr};

// The tables, made if needed; null when no memory is left.
uint32_t (*Tables())[256] {
    uint32_t(*made)[256] = s_tables.load(std::memory_order_acquire);
    if (made)
        return made;
    uint32_t(*t)[256] = static_cast<uint32_t(*)[256]>(malloc(8 * sizeof(*t)));
    if (!t)
        return nullptr;
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = c & 1 ? (c >> 1) ^ kPolynomial : c >> 1;
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (int s = 1; s < 8; ++s)
            t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    uint32_t(*first)[256] = nullptr;
    if (s_tables.compare_exchange_strong(first, t, std::memory_order_acq_rel))
        return t;
    free(t); // another thread published its tables meanwhile
    return first;
}

uint32_t Load32(const unsigned char* p) {
    uint32_t v;
    memcpy(&v, p, sizeof(v)); // x86 only: little-endian, unaligned loads allowed
    return v;
}

bool HasCrcInstruction() {
    unsigned a, b, c, d;
    return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_SSE4_2);
}

// The product of two polynomials modulo the CRC's, both in the reflected form (bit 31 is x^0).
uint32_t MultiplyModP(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (uint32_t m = 1u << 31; m != 0; m >>= 1) {
        if (a & m)
            product ^= b;
        b = b & 1 ? (b >> 1) ^ kPolynomial : b >> 1;
    }
    return product;
}

// x^(8n) mod P, what moves a register past n bytes: the product of x^(2^k) for each bit k set
// in 8n.
uint32_t ShiftPast(uint64_t n) {
    uint32_t power = 1u << 30; // x^(2^0)
    uint32_t shift = 1u << 31; // x^0
    for (uint64_t bits = n * 8; bits != 0; bits >>= 1) {
        if (bits & 1)
            shift = MultiplyModP(shift, power);
        power = MultiplyModP(power, power);
    }
    return shift;
}

// Bytes each of the three streams takes per step.
constexpr size_t kStreamBytes = 32 * 1024;
// x^(8 * kStreamBytes) mod P: what moves a register past kStreamBytes bytes; 0 until made.
uint32_t s_streamShift = 0;

// The widest step of the instruction.
#if defined(__x86_64__)
using Word = unsigned long long;
#define CRC_WORD __builtin_ia32_crc32di
#else
using Word = unsigned;
#define CRC_WORD __builtin_ia32_crc32si
#endif

// The register after n bytes, a word a step on one dependent chain.
__attribute__((target("sse4.2"))) uint32_t HardwareChain(uint32_t crc, const unsigned char* p,
                                                         size_t n) {
    while (n >= sizeof(Word)) {
        Word w;
        memcpy(&w, p, sizeof(w));
        crc = static_cast<uint32_t>(CRC_WORD(crc, w));
        p += sizeof(w);
        n -= sizeof(w);
    }
    while (n--)
        crc = __builtin_ia32_crc32qi(crc, *p++);
    return crc;
}

// The instruction takes three cycles and can start one each cycle: three streams over
// neighbouring blocks keep it busy. The register is linear, so a stream started from zero
// joins the one before it once that one is moved past its bytes.
__attribute__((target("sse4.2"))) uint32_t HardwareCrc(uint32_t crc, const unsigned char* p,
                                                       size_t n) {
    if (n >= 3 * kStreamBytes && s_streamShift == 0)
        s_streamShift = ShiftPast(kStreamBytes);
    while (n >= 3 * kStreamBytes) {
        uint32_t a = crc, b = 0, c = 0;
        const unsigned char* q = p;
        for (size_t i = 0; i < kStreamBytes; i += sizeof(Word)) {
            Word wa, wb, wc;
            memcpy(&wa, q, sizeof(Word));
            memcpy(&wb, q + kStreamBytes, sizeof(Word));
            memcpy(&wc, q + 2 * kStreamBytes, sizeof(Word));
            a = static_cast<uint32_t>(CRC_WORD(a, wa));
            b = static_cast<uint32_t>(CRC_WORD(b, wb));
            c = static_cast<uint32_t>(CRC_WORD(c, wc));
            q += sizeof(Word);
        }
        crc = MultiplyModP(s_streamShift, MultiplyModP(s_streamShift, a) ^ b) ^ c;
        p += 3 * kStreamBytes;
        n -= 3 * kStreamBytes;
    }
#undef CRC_WORD
    return HardwareChain(crc, p, n);
}

} // namespace

uint32_t Crc32cPortable(uint32_t crc, const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint32_t(*t)[256] = Tables();
    crc = ~crc;
    while (t && size >= 8) {
        const uint32_t lo = Load32(p) ^ crc, hi = Load32(p + 4);
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        size -= 8;
    }
    while (size--) { // bit by bit when even the tables could not be made
        crc ^= *p++;
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? (crc >> 1) ^ kPolynomial : crc >> 1;
    }
    return ~crc;
}

// -1 until asked; not a guarded local static, which would pull in the runtime's locks. Threads
// that ask at once store the same answer.
static std::atomic<int> s_hardware{-1};

uint32_t Crc32c(uint32_t crc, const void* data, size_t size) {
    if (s_hardware < 0)
        s_hardware = HasCrcInstruction() ? 1 : 0;
    if (!s_hardware)
        return Crc32cPortable(crc, data, size);
    return ~HardwareCrc(~crc, static_cast<const unsigned char*>(data), size);
}

uint32_t Crc32cCombine(uint32_t crcA, uint32_t crcB, uint64_t lengthB) {
    return MultiplyModP(ShiftPast(lengthB), crcA) ^ crcB;
}
