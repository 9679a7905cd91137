// The Huffman codes of ACE packing: which symbol every bit pattern stands for, given each
// symbol's code width. The archiver sorts the widths with a sort of its own, whose order among
// equal widths decides the codes, so that sort is followed step by step.
#pragma once

#include <QtGlobal>

namespace zelv::ace {

// The symbols that have a code, in the order of their codes: the first gets the lowest patterns
// of maxWidth bits, each the next 2^(maxWidth - width) of them. From the widths of the n symbols,
// of which the first count are sorted; a lone symbol gets width 1 (in widths too). The number of
// symbols put in order, or -1 when the widths cannot make a code.
int codeOrder(int maxWidth, int count, quint8 *widths, int n, quint16 *order);

} // namespace zelv::ace
