#include "acehuffman.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <vector>

namespace zelv::ace {

namespace {

// The archiver's own sort, largest first: the order it leaves equal widths in decides which
// symbol gets which code, so it is followed step by step.
bool sortWidths(int *keys, int *values, int n, int left, int right)
{
    const auto swap = [&](int a, int b) {
        std::swap(keys[size_t(a)], keys[size_t(b)]);
        std::swap(values[size_t(a)], values[size_t(b)]);
    };
    int l = left;
    int r = right;
    const int pivot = keys[size_t(right)];
    for (;;) {
        while (keys[size_t(l)] > pivot)
            if (++l >= n)
                return false;
        while (keys[size_t(r)] < pivot)
            if (--r < 0)
                return false;
        if (l <= r)
            swap(l++, r--);
        if (l >= r)
            break;
    }
    if (left < r) {
        if (left < r - 1) {
            if (!sortWidths(keys, values, n, left, r))
                return false;
        } else if (keys[size_t(left)] < keys[size_t(r)])
            swap(left, r);
    }
    if (right > l) {
        if (l < right - 1) {
            if (!sortWidths(keys, values, n, l, right))
                return false;
        } else if (keys[size_t(l)] < keys[size_t(right)])
            swap(l, right);
    }
    return true;
}

} // namespace

bool makeCodes(int maxWidth, int count, quint8 *widths, int n, quint16 *codes)
{
    // On the stack: tables are made for every block, and no table has more than 512 symbols.
    constexpr int kMost = 512;
    if (n > kMost || count < 1 || count > n)
        return false;
    std::array<int, kMost> keys;
    std::array<int, kMost> symbols;
    std::copy(widths, widths + n, keys.begin());
    std::iota(symbols.begin(), symbols.begin() + n, 0);
    if (!sortWidths(keys.data(), symbols.data(), n, 0, count - 1))
        return false;
    int used = 0;
    while (used < n && keys[size_t(used)] != 0)
        ++used;
    if (used < 2) {
        widths[symbols[0]] = 1;
        used = std::max(used, 1);
    }
    const int end = 1 << maxWidth;
    int at = 0;
    for (int i = used - 1; i >= 0; --i) {
        const int width = keys[size_t(i)];
        if (width > maxWidth)
            return false;
        const int span = 1 << (maxWidth - width);
        if (at + span > end)
            return false;
        std::fill(codes + at, codes + at + span, quint16(symbols[size_t(i)]));
        at += span;
    }
    std::fill(codes + at, codes + end, kNoSymbol);
    return true;
}

} // namespace zelv::ace
