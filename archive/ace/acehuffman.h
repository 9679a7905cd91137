// The Huffman codes of ACE packing: which symbol every bit pattern stands for, given each
// symbol's code width. The archiver sorts the widths with a sort of its own, whose order among
// equal widths decides the codes, so that sort is followed step by step.
#pragma once

#include <QtGlobal>

namespace zelv::ace {

// What a bit pattern that no code starts gets: widths that leave some unused make no symbol of
// them.
constexpr quint16 kNoSymbol = 0xFFFF;

// Fills the first 2^maxWidth entries of codes with the symbol that every maxWidth-bit pattern
// starts with (or kNoSymbol), from the widths of the n symbols, of which the first count are
// sorted; a lone symbol gets width 1 (in widths too). False when the widths cannot make a code.
bool makeCodes(int maxWidth, int count, quint8 *widths, int n, quint16 *codes);

} // namespace zelv::ace
