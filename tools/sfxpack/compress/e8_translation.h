// The x86 call translation LZX applies to a folder's stream: the operand of each E8 byte
// (a call's relative target) is made absolute, so calls to one target repeat. The decoder
// undoes it frame by frame after decoding. Pure.
#pragma once

#include <cstddef>
#include <cstdint>

// Translates the frame of size bytes that starts at offset start of the stream, in place,
// for a translation size of fileSize: each E8 before the frame's last 10 bytes whose operand
// lies in [-start-i, fileSize) becomes absolute, and its 4 operand bytes are skipped. Frame
// index frameIndex; frames from kLzxTranslatedFrames on are left alone.
void TranslateE8(uint8_t* frame, size_t size, uint32_t start, uint32_t frameIndex,
                 uint32_t fileSize);

// The inverse, as a decoder applies it; for tests.
void UntranslateE8(uint8_t* frame, size_t size, uint32_t start, uint32_t frameIndex,
                   uint32_t fileSize);
