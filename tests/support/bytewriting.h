// Numbers as the archive formats store them, appended least significant byte first.
#pragma once

#include <QByteArray>

namespace zelv::test {

inline void put8(QByteArray &b, quint64 v) { b.append(char(v & 0xff)); }
inline void put16(QByteArray &b, quint64 v)
{
    put8(b, v);
    put8(b, v >> 8);
}
inline void put32(QByteArray &b, quint64 v)
{
    put16(b, v);
    put16(b, v >> 16);
}
inline void put64(QByteArray &b, quint64 v)
{
    put32(b, v);
    put32(b, v >> 32);
}

} // namespace zelv::test
