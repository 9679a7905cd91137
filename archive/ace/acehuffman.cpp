#include "acehuffman.h"

#include <algorithm>
#include <array>

namespace zelv::ace {

namespace {

// A width in the high half, its symbol in the low: one swap moves both.
constexpr int keyOf(quint32 item) { return int(item >> 16); }

// The archiver's own sort, largest first: the order it leaves equal widths in decides which
// symbol gets which code, so it is followed step by step. Its scans never leave [left, right],
// whatever the widths: the first stops at the pivot itself, and each swap leaves a stop for the
// next scans on either side.
void sortWidths(quint32 *items, int left, int right)
{
    for (;;) {
        int l = left;
        int r = right;
        // Whole items compare as their widths do against these bounds.
        const quint32 above = (items[right] | 0xFFFF) + 1;
        const quint32 below = items[right] & ~0xFFFFu;
        for (;;) {
            while (items[l] >= above)
                ++l;
            while (items[r] < below)
                --r;
            if (l <= r)
                std::swap(items[l++], items[r--]);
            if (l >= r)
                break;
        }
        if (left < r) {
            if (left < r - 1)
                sortWidths(items, left, r);
            else if (keyOf(items[left]) < keyOf(items[r]))
                std::swap(items[left], items[r]);
        }
        // The two parts do not overlap: the second is sorted in this call, without recursion.
        if (right > l) {
            if (l < right - 1) {
                left = l;
                continue;
            }
            if (keyOf(items[l]) < keyOf(items[right]))
                std::swap(items[l], items[right]);
        }
        return;
    }
}

} // namespace

int codeOrder(int maxWidth, int count, quint8 *widths, int n, quint16 *order)
{
    // On the stack: tables are made for every block, and no table has more than 512 symbols.
    constexpr int kMost = 512;
    if (n > kMost || count < 1 || count > n)
        return -1;
    std::array<quint32, kMost> items;
    for (int i = 0; i < n; ++i)
        items[size_t(i)] = quint32(widths[i]) << 16 | quint32(i);
    sortWidths(items.data(), 0, count - 1);
    int used = 0;
    while (used < n && keyOf(items[size_t(used)]) != 0)
        ++used;
    if (used < 2) {
        widths[items[0] & 0xFFFF] = 1;
        items[0] = 1u << 16 | (items[0] & 0xFFFF);
        used = std::max(used, 1);
    }
    // The shortest codes come first: the sort leaves them last.
    const int end = 1 << maxWidth;
    int at = 0;
    for (int k = 0; k < used; ++k) {
        const quint32 item = items[size_t(used - 1 - k)];
        const int width = keyOf(item);
        if (width > maxWidth)
            return -1;
        at += 1 << (maxWidth - width);
        if (at > end)
            return -1;
        order[k] = quint16(item & 0xFFFF);
    }
    return used;
}

} // namespace zelv::ace
