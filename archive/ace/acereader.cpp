#include "acereader.h"

namespace zelv {

AceReader::AceReader(const AceSet &set) : m_set(set), m_decoder(std::make_unique<AceDecoder>()) {}

Result<void> AceReader::unpack(int index, const AceDecoder::Sink &sink)
{
    if (index < 0 || index >= m_set.members.size())
        return Error(QStringLiteral("No member %1").arg(index));
    // A solid member needs the dictionary as the members before it left it.
    if (index < m_next && m_set.solid) {
        m_decoder = std::make_unique<AceDecoder>();
        m_next = 0;
    }
    while (m_set.solid && m_next < index) {
        if (auto done = unpackOne(m_set.members[m_next], [](const char *, qsizetype) { return true; }); !done)
            return done;
        ++m_next;
    }
    auto done = unpackOne(m_set.members[index], sink);
    m_next = index + 1;
    return done;
}

Result<void> AceReader::unpackOne(const AceMember &m, const AceDecoder::Sink &sink)
{
    if (m.directory)
        return {};
    if (m.encrypted)
        return Error(QStringLiteral("ACE archive is encrypted: %1").arg(m.name));
    if (m.method > quint8(AceMethod::Blocked))
        return Error(QStringLiteral("Unknown packing method %1 for %2").arg(m.method).arg(m.name));
    // Packed data comes in whole 32-bit words; anything else was cut or lies about its size.
    if (m.method != quint8(AceMethod::Stored) && m.packedSize % 4 != 0)
        return Error(QStringLiteral("Damaged data in %1").arg(m.name));
    qsizetype part = 0;
    qint64 leftInPart = m.parts.isEmpty() ? 0 : m.parts[0].size;
    bool positioned = false;
    bool unreadable = false;
    const AceDecoder::Source source = [&](char *buffer, qsizetype size) -> qsizetype {
        while (part < m.parts.size()) {
            const AcePart &p = m.parts[part];
            if (leftInPart == 0) {
                if (++part < m.parts.size())
                    leftInPart = m.parts[part].size;
                positioned = false;
                continue;
            }
            if (m_openVolume != p.volume) {
                m_volume.close();
                m_volume.setFileName(m_set.volumes.value(p.volume));
                m_openVolume = m_volume.open(QIODevice::ReadOnly) ? p.volume : -1;
                positioned = false;
            }
            if (!positioned && (m_openVolume < 0 || !m_volume.seek(p.offset + p.size - leftInPart))) {
                unreadable = true;
                return -1;
            }
            positioned = true;
            const qint64 got = m_volume.read(buffer, std::min<qint64>(size, leftInPart));
            if (got <= 0) {
                unreadable = true;
                return -1;
            }
            leftInPart -= got;
            return qsizetype(got);
        }
        return 0;
    };
    quint32 crc = 0xFFFFFFFFu;
    const auto done = m_decoder->unpack(
        m.method, m.parameters, m.size, source,
        [&](const char *data, qsizetype n) {
            crc = aceCrc32(data, n, crc);
            return sink(data, n);
        },
        m_set.solid);
    if (unreadable)
        return Error(QStringLiteral("Cannot read %1").arg(m_volume.fileName()), m_volume.errorString());
    if (!done && done.error().message() == QLatin1String(AceDecoder::kDamagedData))
        return Error(QStringLiteral("Damaged data in %1").arg(m.name));
    if (!done)
        return Error(QStringLiteral("%1: %2").arg(m.name, done.error().text()));
    if (~crc != m.crc)
        return Error(QStringLiteral("CRC error in %1").arg(m.name));
    return {};
}

} // namespace zelv
