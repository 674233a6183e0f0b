// Text as sfxpack shows it: UTF-8 checked, and names and paths escaped to one line that
// cannot act on a terminal.
#pragma once

#include <string>

// True when s is well-formed UTF-8 without overlong forms or surrogates.
bool IsValidUtf8(const std::string& s);

// True when s holds a control character: C0, DEL or C1, as a byte or a UTF-8 sequence.
bool HasControlCharacter(const std::string& s);

// s fit for one line of a terminal: control characters (C0, DEL, and C1 whether UTF-8 or a
// lone byte) and bytes that are not well-formed UTF-8 written as \xNN.
std::string EscapeText(const std::string& s);

// name in double quotes, escaped as EscapeText does and its quotes as \x22.
std::string QuoteName(const std::string& name);
