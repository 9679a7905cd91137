// Numbers as the archive formats store them: least significant byte first, at any alignment.
#pragma once

#include <QtEndian>

namespace zelv {

inline quint16 le16(const void *p) { return qFromLittleEndian<quint16>(p); }
inline quint32 le32(const void *p) { return qFromLittleEndian<quint32>(p); }
inline quint64 le64(const void *p) { return qFromLittleEndian<quint64>(p); }

} // namespace zelv
