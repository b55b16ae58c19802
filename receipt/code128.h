#pragma once
// CODE128 as ESC/POS printers take it (GS k 73): the data names its code
// sets itself, so the symbol has exactly the width it has on paper. A
// general encoder would pick its own sets and draw a narrower symbol.

#include <cstdint>
#include <span>

#include "receipt/symbols.h"

namespace vorpane::receipt {

// "{A", "{B", "{C" select a code set and the data must begin with one; "{S"
// shifts the next character between sets A and B, "{1".."{4" are the
// function codes and "{{" is a brace. In set C each byte is one pair of
// digits (0..99). The symbol's text is what the printer prints as HRI.
Symbol EncodeCode128(std::span<const uint8_t> data);

// CODE128 with the code sets chosen as printers choose them (GS k 79), or
// GS1-128 (GS k 74) when gs1 is set: then an FNC1 follows the start, "{1"
// is an FNC1, "{{" a brace, and spaces and parentheses are only HRI text.
Symbol EncodeCode128Auto(std::span<const uint8_t> data, bool gs1);

}  // namespace vorpane::receipt
