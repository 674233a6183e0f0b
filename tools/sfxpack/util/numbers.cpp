#include "util/numbers.h"

bool ParseUnsigned(const char* text, uint64_t max, uint64_t* out) {
    if (!text || !*text)
        return false;
    uint64_t value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        const unsigned digit = static_cast<unsigned>(*p - '0');
        if (digit > max || value > (max - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    *out = value;
    return true;
}
