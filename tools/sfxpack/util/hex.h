// Numbers in hexadecimal, as sfxpack's messages write them.
#pragma once

#include <cstdint>
#include <string>

// "0x" and the digits of v, as few as it needs: offsets, machine numbers.
std::string Hex(uint64_t v);

// "0x" and v in exactly digits digits (at least): CRCs (8) and set IDs (4).
std::string HexDigits(uint64_t v, int digits);

// The two lowercase digits of byte b, without prefix.
std::string HexByte(uint8_t b);
