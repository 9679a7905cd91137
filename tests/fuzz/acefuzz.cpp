// libFuzzer target for the ACE reader: the input is an ACE archive (its header checks are
// skipped by a first byte of 0xFF, which then chooses a packing method for the rest as raw
// packed data). Built with clang only when ZELV_FUZZ is on (README.md, "For developers").
#include "archive/ace/acereader.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstring>

using namespace zelv;

namespace {

void unpackRaw(const uint8_t *data, size_t size)
{
    if (size < 4)
        return;
    const int method = data[1] % 3;
    const qint64 wanted = (qint64(data[2]) << 8 | data[3]) * 37;
    size_t at = 4;
    qint64 got = 0;
    AceDecoder decoder;
    const auto unpacked = decoder.unpack(
        method, 0, wanted,
        [&](char *buffer, qsizetype n) {
            const size_t take = std::min(size_t(n), size - at);
            memcpy(buffer, data + at, take);
            at += take;
            return qsizetype(take);
        },
        [&](const char *, qsizetype n) {
            got += n;
            return true;
        });
    if (got > wanted || (unpacked && got != wanted))
        __builtin_trap();
}

void unpackArchive(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fuzz.ace"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    f.write(reinterpret_cast<const char *>(data), qint64(size));
    f.close();
    const AceSet set = readAceSet(path);
    AceReader reader(set);
    for (int i = 0; i < set.members.size(); ++i) {
        qint64 got = 0;
        (void)reader.unpack(i, [&](const char *, qsizetype n) {
            got += n;
            return got <= set.members[i].size;
        });
        if (got > set.members[i].size)
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0 && data[0] == 0xFF)
        unpackRaw(data, size);
    else
        unpackArchive(data, size);
    return 0;
}
