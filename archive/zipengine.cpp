#include "zipengine.h"

#include "platform/hostfs.h"

#include "crc32.h"
#include "memorybudget.h"
#include "zipcentral.h"
#include "zipmembers.h"
#include "zipmethods.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <isa-l/igzip_lib.h>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace zelv {

namespace {

// Deflated members are read and inflated a megabyte at a time: the pieces stay in the cache from
// reading through checking to writing, and a worker holds two of them whatever the member's size.
constexpr size_t kChunk = 1 << 20;
constexpr size_t kStoredPiece = 256 << 10;
constexpr auto kTick = std::chrono::milliseconds(20);
// Folders one worker keeps open at most, when the open-file limit allows.
constexpr size_t kFoldersKept = 256;
constexpr quint16 kStore = 0;
constexpr quint16 kDeflate = 8;
constexpr quint16 kAesMarker = 99;
constexpr quint16 kEncrypted = 1;

struct Member {
    quint64 index = 0;
    QString name;
    MemberPath path;
    quint64 size = 0;
    quint64 compSize = 0;
    quint64 data = 0; // where its raw data starts in the archive
    quint32 crc = 0;
    quint16 method = 0;
    quint16 flags = 0;
    bool encrypted = false;
    bool written = true; // false for an earlier copy of a repeated name: checked, not written
    time_t mtime = 0;
    std::optional<mode_t> mode; // the permission bits of a file from a Unix host
};

// A name without the UTF-8 flag is read as code page 437, which draws control bytes as
// pictures (0x01 becomes a smiley); the bytes as stored decide, a NUL among them too.
bool hasControlByte(const QByteArray &rawName)
{
    for (char c : rawName)
        if (uchar(c) < 0x20 || uchar(c) == 0x7F)
            return true;
    return false;
}

// A worker's buffer: it only grows, and growing does not clear it.
class Buffer {
public:
    void reserve(size_t n)
    {
        if (n > m_capacity) {
            m_data = std::make_unique_for_overwrite<unsigned char[]>(n);
            m_capacity = n;
        }
    }
    unsigned char *data() { return m_data.get(); }

private:
    std::unique_ptr<unsigned char[]> m_data;
    size_t m_capacity = 0;
};

bool allZero(const unsigned char *data, size_t n)
{
    return n > 0 && data[0] == 0 && memcmp(data, data + 1, n - 1) == 0;
}

// The folders one worker has open inside the destination, by path. A folder is reached from
// the deepest open folder above it, one part at a time, each opened without following links,
// so nothing already in the destination can lead outside it. At most capacity stay open, the
// oldest closed first; any depth is reached with two more.
class Folders {
public:
    Folders(int destination, size_t capacity) : m_destination(destination), m_capacity(std::max<size_t>(capacity, 1)) {}
    ~Folders()
    {
        for (auto &entry : m_open)
            close(entry.second);
    }
    Folders(const Folders &) = delete;
    Folders &operator=(const Folders &) = delete;

    // The folder of the first count parts (made when missing), or -1. It stays open until the
    // next call.
    int open(const QStringList &parts, int count)
    {
        if (count == 0)
            return m_destination;
        std::string key;
        std::vector<size_t> ends(size_t(count) + 1, 0);
        for (int i = 0; i < count; ++i) {
            key += QFile::encodeName(parts[i]).toStdString();
            key += '/';
            ends[size_t(i) + 1] = key.size();
        }
        // Only the folder, the few above it and the first levels are kept open: looking up
        // every level of a deep path would cost the square of its depth.
        const auto kept = [&](int level) { return level <= kShallow || level > count - kNear; };
        int level = count;
        int fd = m_destination;
        for (; level > 0; --level) {
            if (!kept(level))
                continue;
            const auto it = m_open.find(std::string_view(key).substr(0, ends[size_t(level)]));
            if (it != m_open.end()) {
                fd = it->second;
                break;
            }
        }
        bool transient = false; // fd is ours to close, not the cache's
        for (++level; level <= count; ++level) {
            const std::string part =
                key.substr(ends[size_t(level) - 1], ends[size_t(level)] - ends[size_t(level) - 1] - 1);
            int next = -1;
            if (mkdirat(fd, part.c_str(), 0777) == 0 || errno == EEXIST)
                next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const int error = errno;
            if (transient)
                close(fd);
            if (next < 0) {
                errno = error;
                return -1;
            }
            fd = next;
            transient = !kept(level);
            if (!transient)
                keep(key.substr(0, ends[size_t(level)]), fd);
        }
        return fd;
    }

private:
    static constexpr int kShallow = 16;
    static constexpr int kNear = 4;

    void keep(std::string key, int fd)
    {
        if (m_open.size() >= m_capacity) {
            const auto oldest = m_open.find(m_order.front());
            close(oldest->second);
            m_open.erase(oldest);
            m_order.pop_front();
        }
        m_order.push_back(key);
        m_open.emplace(std::move(key), fd);
    }

    int m_destination;
    size_t m_capacity;
    std::map<std::string, int, std::less<>> m_open;
    std::deque<std::string> m_order; // oldest first
};

// This process's umask, read without changing it (the workers write at once).
std::optional<mode_t> processUmask()
{
    static const std::optional<mode_t> mask = []() -> std::optional<mode_t> {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : status.readAll().split('\n')) {
                bool ok = false;
                const uint mask = line.startsWith("Umask:") ? line.mid(6).trimmed().toUInt(&ok, 8) : 0;
                if (ok)
                    return mode_t(mask);
            }
        }
        return std::nullopt;
    }();
    return mask;
}

// The mode a file made with 0666 gets under this process's umask.
mode_t newFileMode()
{
    const auto mask = processUmask();
    return mask ? mode_t(0666 & ~*mask) : mode_t(0); // unknown: no file is written over in place
}

// An existing plain file that may be written over in place, opened for writing; -1 otherwise.
// The checks are made again on the open file, so a name swapped meanwhile for a link to
// something else, or given a second name, is not written through.
int openOwnFile(int folder, const char *name)
{
    const auto reusable = [](const struct stat &st) {
        return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid() &&
               (st.st_mode & 07777) == newFileMode() && newFileMode() != 0;
    };
    struct stat before;
    if (fstatat(folder, name, &before, AT_SYMLINK_NOFOLLOW) != 0 || !reusable(before))
        return -1;
    const int fd = openat(folder, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat after;
    if (fstat(fd, &after) != 0 || !reusable(after) || after.st_dev != before.st_dev || after.st_ino != before.st_ino) {
        close(fd);
        return -1;
    }
    return fd;
}

// The files of one worker inside the destination.
class Writer {
public:
    Writer(int destination, size_t folders, bool skipIfExisting, bool startedEmpty)
        : m_folders(destination, folders)
        , m_skip(skipIfExisting)
        , m_startedEmpty(startedEmpty)
    {}

    int folderFor(const QStringList &parts, int count) { return m_folders.open(parts, count); }

    bool exists(const Member &m)
    {
        const int folder = folderFor(m.path.parts, int(m.path.parts.size()) - 1);
        struct stat st;
        return folder >= 0 &&
               fstatat(folder, QFile::encodeName(m.path.parts.last()).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    }

    bool skipIfExisting() const { return m_skip; }

    // Opens the member's file for writing. Whatever stands under its name (a file or a link,
    // never a folder) is replaced, not written through. A plain file of this user's with no
    // other name and the mode a new file gets is written over in place instead (*inPlace):
    // an earlier extraction's file, as a repeated install leaves them. Removing and creating
    // it again costs far more, most of all where freed blocks are discarded at once.
    int create(const Member &m, int *folder, QByteArray *name, bool *inPlace = nullptr)
    {
        if (inPlace)
            *inPlace = false;
        *folder = folderFor(m.path.parts, int(m.path.parts.size()) - 1);
        if (*folder < 0)
            return -1;
        *name = QFile::encodeName(m.path.parts.last());
        const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        // Into a folder that was empty, as an install extracts, a name is nearly always new:
        // creating comes first, and an earlier file is looked at only when one is there.
        int fd = m_startedEmpty ? openat(*folder, name->constData(), flags, 0666) : -1;
        if (fd >= 0 || (m_startedEmpty && errno != EEXIST))
            return fd;
        if (inPlace) {
            fd = openOwnFile(*folder, name->constData());
            if (fd >= 0) {
                *inPlace = true;
                return fd;
            }
        }
        fd = openat(*folder, name->constData(), flags, 0666);
        if (fd < 0 && errno == EEXIST) {
            if (unlinkat(*folder, name->constData(), 0) != 0)
                return -1;
            fd = openat(*folder, name->constData(), flags, 0666);
        }
        return fd;
    }

    static void setTime(int fd, time_t mtime)
    {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {mtime, 0}};
        futimens(fd, times);
    }

    // A Unix host's permission bits as a new file would get them: under the umask, never
    // set-user-ID, set-group-ID or sticky.
    static bool setMode(int fd, mode_t mode) { return fchmod(fd, mode & 0777 & ~processUmask().value_or(022)) == 0; }

    bool makeFolder(const Member &m) { return folderFor(m.path.parts, int(m.path.parts.size())) >= 0; }

private:
    Folders m_folders;
    bool m_skip;
    bool m_startedEmpty;
};

// A streamed member's output: written as it comes, removed again when the member fails.
class StreamOutput {
public:
    StreamOutput(Writer *writer, const Member &m) : m_writer(writer)
    {
        if (m_writer)
            m_fd = m_writer->create(m, &m_folder, &m_name, &m_inPlace);
        m_mode = m.mode;
    }
    ~StreamOutput()
    {
        if (m_fd >= 0) {
            close(m_fd);
            unlinkat(m_folder, m_name.constData(), 0);
        }
    }
    bool opened() const { return !m_writer || m_fd >= 0; }

    // Runs of zeros become holes, so a huge empty member costs no disk; a file written over in
    // place gets its zeros written, over the old bytes.
    bool write(const unsigned char *data, size_t n)
    {
        m_length += n;
        if (!m_writer || n == 0)
            return true;
        m_endsInHole = !m_inPlace && allZero(data, n);
        if (m_endsInHole)
            return lseek(m_fd, off_t(n), SEEK_CUR) >= 0;
        return hostfs::writeAll(m_fd, data, qsizetype(n));
    }

    bool finish(time_t mtime)
    {
        if (!m_writer)
            return true;
        // A new file that ends in written bytes has its length already; the call would cost
        // as much as creating it where there are thousands of small files.
        bool ok = !(m_inPlace || m_endsInHole) || ftruncate(m_fd, off_t(m_length)) == 0;
        if (ok && m_mode)
            ok = Writer::setMode(m_fd, *m_mode);
        if (ok)
            Writer::setTime(m_fd, mtime);
        ok = close(m_fd) == 0 && ok;
        m_fd = -1;
        if (!ok)
            unlinkat(m_folder, m_name.constData(), 0);
        return ok;
    }

private:
    Writer *m_writer;
    int m_fd = -1;
    int m_folder = -1;
    QByteArray m_name;
    quint64 m_length = 0;
    bool m_inPlace = false;
    bool m_endsInHole = false;
    std::optional<mode_t> m_mode;
};

// The memory the workers' decoders take at once, shared: a decoder takes its share before it
// starts and waits while the other worker's decoder holds too much of it.
class MemoryPool {
public:
    // False when stop() turned true while waiting.
    bool take(quint64 n, const std::function<bool()> &stop)
    {
        std::unique_lock lock(m_mutex);
        while (m_free < n) {
            if (stop())
                return false;
            m_returned.wait_for(lock, std::chrono::milliseconds(20));
        }
        m_free -= n;
        return true;
    }

    void give(quint64 n)
    {
        {
            std::lock_guard lock(m_mutex);
            m_free += n;
        }
        m_returned.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_returned;
    quint64 m_free = budget::kInProcessTotal;
};

struct Shared {
    std::vector<Member> members; // largest first
    bool write = false;
    std::atomic<size_t> next{0};
    std::atomic<qint64> done{0};
    std::atomic<int> current{-1};
    std::atomic<bool> *abort = nullptr;
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;
    ZipCode code = ZipDone;
    int writeError = 0;       // why the code is 300
    quint64 memoryNeeded = 0; // why the code is 410, for a decoder past its memory
    MemoryPool memory;
    // The earliest failing member in archive order so far. Members after it need no work;
    // members before it still decide, so the code does not depend on the workers' timing.
    std::atomic<quint64> failedIndex{std::numeric_limits<quint64>::max()};
    int destination = -1;
    size_t foldersPerWorker = 1;
    bool skipIfExisting = false;
    bool destinationWasEmpty = false;
    int archiveFd = -1;

    void fail(const Member &m, ZipCode c, quint64 needed = 0)
    {
        const int error = errno; // of the call that failed, for a write
        std::lock_guard lock(mutex);
        if (m.index < failedIndex) {
            failedIndex = m.index;
            code = c;
            writeError = c == ZipCannotWrite ? (error ? error : EIO) : 0;
            memoryNeeded = needed;
        }
    }
    bool aborted() const { return abort->load(); }
    // Work on this member can stop: the operation was aborted, or an earlier member failed.
    bool cancelled(const Member &m) const { return aborted() || m.index > failedIndex.load(); }
};

class Worker {
public:
    explicit Worker(Shared &s) : m_s(s) {}

    void run()
    {
        std::unique_ptr<Writer> writer;
        if (m_s.write)
            writer = std::make_unique<Writer>(m_s.destination, m_s.foldersPerWorker, m_s.skipIfExisting,
                                              m_s.destinationWasEmpty);
        while (!m_s.aborted()) {
            const size_t i = m_s.next++;
            if (i >= m_s.members.size())
                break;
            const Member &m = m_s.members[i];
            if (m_s.cancelled(m))
                continue;
            m_s.current = int(i);
            m_writer = m.written ? writer.get() : nullptr;
            m_memoryNeeded = 0;
            ZipCode c = ZipDone;
            try {
                c = process(m);
            } catch (const std::bad_alloc &) {
                c = ZipDataError; // memory ran out: the member cannot be decoded here
            }
            if (c != ZipDone && c != ZipAborted)
                m_s.fail(m, c, m_memoryNeeded);
        }
    }

private:
    ZipCode process(const Member &m)
    {
        if (m.encrypted)
            return ZipUnsupported;
        if (m.path.isDirectory)
            return !m_writer || m_writer->makeFolder(m) ? ZipDone : ZipCannotWrite;
        if (m_writer && m_writer->skipIfExisting() && m_writer->exists(m)) {
            m_s.done += qint64(m.size);
            return ZipDone;
        }
        if (m.method == kStore)
            return m.compSize == m.size ? stored(m) : ZipStructureError;
        if (m.method == kDeflate)
            return inflated(m);
        if (methodIsDecoded(m.method))
            return decoded(m);
        return ZipUnsupported;
    }

    // A stored member in pieces that stay in the cache from reading through checking to
    // writing.
    ZipCode stored(const Member &m)
    {
        StreamOutput out(m_writer, m);
        if (!out.opened())
            return ZipCannotWrite;
        m_in.reserve(kStoredPiece);
        quint32 crc = 0;
        for (quint64 done = 0; done < m.size;) {
            if (m_s.cancelled(m))
                return ZipAborted;
            const size_t n = size_t(std::min<quint64>(kStoredPiece, m.size - done));
            if (!readAt(m_s.archiveFd, m_in.data(), n, m.data + done))
                return ZipStructureError;
            crc = updateCrc32(crc, m_in.data(), n);
            if (!out.write(m_in.data(), n))
                return ZipCannotWrite;
            done += n;
            m_s.done += qint64(n);
        }
        if (crc != m.crc)
            return ZipCrcError;
        return out.finish(m.mtime) ? ZipDone : ZipCannotWrite;
    }

    ZipCode inflated(const Member &m)
    {
        StreamOutput out(m_writer, m);
        if (!out.opened())
            return ZipCannotWrite;
        m_in.reserve(kChunk);
        m_out.reserve(kChunk);

        // ISA-L's inflate streams at about libdeflate's speed, three times zlib's.
        if (!m_inflateState)
            m_inflateState = std::make_unique<inflate_state>();
        inflate_state *const state = m_inflateState.get();
        isal_inflate_init(state);
        state->crc_flag = ISAL_DEFLATE;

        quint64 produced = 0;
        quint32 crc = 0;
        bool streamEnded = false;
        for (quint64 read = 0; read < m.compSize && !streamEnded;) {
            if (m_s.cancelled(m))
                return ZipAborted;
            const size_t n = size_t(std::min<quint64>(kChunk, m.compSize - read));
            if (!readAt(m_s.archiveFd, m_in.data(), n, m.data + read))
                return ZipStructureError;
            read += n;
            state->next_in = m_in.data();
            state->avail_in = uint32_t(n);
            // A full output buffer may leave output pending after the last input byte is taken.
            bool outputFull = false;
            while ((state->avail_in > 0 || outputFull) && !streamEnded) {
                state->next_out = m_out.data();
                state->avail_out = uint32_t(kChunk);
                if (isal_inflate(state) != ISAL_DECOMP_OK)
                    return ZipDataError;
                const size_t got = kChunk - state->avail_out;
                if (produced + got > m.size)
                    return ZipDataError; // more than the declared size
                produced += got;
                crc = updateCrc32(crc, m_out.data(), got);
                m_s.done += qint64(got);
                if (!out.write(m_out.data(), got))
                    return ZipCannotWrite;
                streamEnded = state->block_state == ISAL_BLOCK_FINISH;
                outputFull = state->avail_out == 0;
            }
        }
        if (!streamEnded || produced != m.size)
            return ZipDataError;
        if (crc != m.crc)
            return ZipCrcError;
        return out.finish(m.mtime) ? ZipDone : ZipCannotWrite;
    }

    // The other methods, streamed through their decoders; the size is capped and the CRC
    // checked here all the same.
    ZipCode decoded(const Member &m)
    {
        StreamOutput out(m_writer, m);
        if (!out.opened())
            return ZipCannotWrite;
        quint64 produced = 0;
        quint32 crc = 0;
        ZipCode stop = ZipDone;
        const DecodeSink sink = [&](const unsigned char *data, size_t n) {
            if (m_s.cancelled(m)) {
                stop = ZipAborted;
                return false;
            }
            if (produced + n > m.size) {
                stop = ZipDataError; // more than the declared size
                return false;
            }
            produced += n;
            crc = updateCrc32(crc, data, n);
            m_s.done += qint64(n);
            if (!out.write(data, n)) {
                stop = ZipCannotWrite;
                return false;
            }
            return true;
        };
        const PackedMember packed{m_s.archiveFd, m.data, m.compSize, m.size, m.crc, m.method, m.flags};
        DecodeControl control{[this, &m] { return m_s.cancelled(m); }, budget::kInProcessWindow};
        // The decoder's share of the engine's memory, as the member's first bytes declare it.
        const quint64 share = declaredMemory(packed);
        if (share > control.memoryLimit) {
            m_memoryNeeded = share;
            return ZipUnsupported;
        }
        if (!m_s.memory.take(share, control.stopRequested))
            return ZipAborted;
        const DecodeResult result = decodeMember(packed, sink, control);
        m_s.memory.give(share);
        switch (result) {
        case DecodeResult::Done:
            break;
        case DecodeResult::TooMuchMemory:
            m_memoryNeeded = control.memoryNeeded;
            return ZipUnsupported;
        case DecodeResult::Stopped:
            return stop != ZipDone ? stop : ZipAborted; // the stop request, seen by the decoder
        case DecodeResult::ReadError:
            return ZipStructureError;
        case DecodeResult::DataError:
            // A decoder that checks the CRC itself fails at the end: the whole came out, wrong.
            return produced == m.size && crc != m.crc ? ZipCrcError : ZipDataError;
        }
        if (produced != m.size)
            return ZipDataError;
        if (crc != m.crc)
            return ZipCrcError;
        return out.finish(m.mtime) ? ZipDone : ZipCannotWrite;
    }

    Shared &m_s;
    Writer *m_writer = nullptr; // null when the member is only checked
    quint64 m_memoryNeeded = 0; // why the member's code is 410
    Buffer m_in;
    Buffer m_out;
    std::unique_ptr<inflate_state> m_inflateState;
};

// How many folders each worker may keep open: what the open-file limit leaves beside the
// descriptors already open and the few each worker needs besides its folders.
size_t foldersPerWorker(int workers)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kFoldersKept;
    qint64 open = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++open;
        closedir(d);
    } else {
        open = 64;
    }
    const qint64 left = qint64(limit.rlim_cur) - open - 8 - 6 * qint64(workers);
    return size_t(std::clamp<qint64>(left / std::max(workers, 1), 1, kFoldersKept));
}

// Whether the open folder holds nothing; false when it cannot be read.
bool folderIsEmpty(int folder)
{
    const int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!d) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    bool empty = true;
    errno = 0;
    while (const dirent *e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    empty = empty && errno == 0;
    closedir(d);
    return empty;
}

ZipProgress progressOf(const Shared &s, qint64 total)
{
    ZipProgress p;
    const int current = s.current.load();
    if (current >= 0) {
        const Member &m = s.members[size_t(current)];
        p.fileName = m.name;
        p.size = qint64(m.size);
        p.packedSize = qint64(m.compSize);
        p.crc = m.crc;
        p.method = m.method;
        p.encrypted = m.encrypted;
        p.time = QDateTime::fromSecsSinceEpoch(m.mtime);
    }
    p.total = total;
    p.processed = std::min(s.done.load(), total);
    p.completion = total > 0 ? int(p.processed * 100 / total) : 0;
    return p;
}

// The members the mask selects, from the engine's own reading of the directory.
ZipCode readMembers(const std::vector<CentralEntry> &entries, const ZipMask &mask, bool write,
                    std::vector<Member> *members)
{
    std::unordered_map<QString, size_t> byPath;
    if (write)
        byPath.reserve(entries.size());
    members->reserve(entries.size());
    DosTimes times;
    for (size_t i = 0; i < entries.size(); ++i) {
        const CentralEntry &e = entries[i];
        Member m;
        m.index = i;
        m.name = e.name;
        const auto path = safeMemberPath(m.name);
        if (!path || hasControlByte(e.rawName))
            return ZipStructureError;
        m.path = std::move(*path);
        // A folder that only the DOS attribute marks, as some Windows tools write them.
        m.path.isDirectory = m.path.isDirectory || e.isDirectory();
        const bool named = write || !mask.selectsAll();
        const QString joined = named ? m.path.joined() : QString();
        if (!mask.matches(joined))
            continue;
        m.size = e.size;
        m.compSize = e.compressedSize;
        m.data = e.data;
        m.crc = e.crc;
        m.method = e.method;
        m.flags = e.flags;
        m.encrypted = (e.flags & kEncrypted) || e.method == kAesMarker;
        m.mtime = time_t(times.toUnix(e.dosTime));
        // Made on Unix (3), a file's mode stands in the high half of its attributes, its type
        // with it or, from some tools, left out.
        const mode_t unixMode = mode_t(e.externalAttributes >> 16);
        if (e.versionMadeBy >> 8 == 3 && unixMode != 0 && ((unixMode & S_IFMT) == S_IFREG || (unixMode & S_IFMT) == 0))
            m.mode = unixMode;
        // A name that comes twice is written once, from its last member, as a sequential
        // extraction would leave it; the earlier copies are checked all the same, so that an
        // extraction and a test agree.
        if (write) {
            const auto [it, added] = byPath.try_emplace(joined, members->size());
            if (!added) {
                (*members)[it->second].written = false;
                it->second = members->size();
            }
        }
        members->push_back(std::move(m));
    }
    return ZipDone;
}

ZipCode run(const ZipJob &job, bool write, std::atomic<bool> &abort, const ZipEngine::ProgressFn &progress, ZipWhy *why)
{
    abort = false; // a request left from an earlier operation does not stop this one
    if (!QFileInfo(job.archive).isFile())
        return ZipCannotOpen;
    Shared s;
    s.archiveFd = open(QFile::encodeName(job.archive).constData(), O_RDONLY | O_CLOEXEC);
    if (s.archiveFd < 0)
        return ZipCannotOpen;
    struct FdCloser {
        int fd;
        ~FdCloser() { close(fd); }
    } archiveCloser{s.archiveFd};
    // The engine's own reading decides: it compares every local header with the directory
    // and refuses what deceives (overlapping members, a second directory), and it reads what
    // sound writers make that a stricter check refuses (streamed members, a stub before the
    // archive, bytes after it).
    const auto entries = readCentralDirectory(s.archiveFd);
    if (!entries)
        return ZipStructureError;

    s.write = write;
    s.abort = &abort;
    s.skipIfExisting = job.skipIfExisting;
    const ZipMask mask(job.masks);
    if (const ZipCode c = readMembers(*entries, mask, write, &s.members); c != ZipDone)
        return c;
    if (s.members.empty())
        return write || !mask.selectsAll() ? ZipNothingMatched : ZipDone;

    // Largest first, by an order of sizes: moving the members themselves at every step of
    // the sort costs more than the rest of the reading where there are tens of thousands.
    {
        std::vector<std::pair<quint64, size_t>> order(s.members.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = {s.members[i].size, i};
        std::stable_sort(order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
        std::vector<Member> sorted;
        sorted.reserve(order.size());
        for (const auto &o : order)
            sorted.push_back(std::move(s.members[o.second]));
        s.members = std::move(sorted);
    }
    qint64 total = 0;
    for (const Member &m : s.members)
        total += qint64(m.size);

    if (write) {
        errno = 0;
        if (QDir().mkpath(job.destination))
            s.destination = open(QFile::encodeName(job.destination).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (s.destination < 0) {
            if (why)
                why->writeError = errno ? errno : EIO;
            return ZipCannotWrite;
        }
        s.destinationWasEmpty = folderIsEmpty(s.destination);
    }

    const int workers = int(std::min<size_t>(ZipEngine::kWorkers, s.members.size()));
    s.foldersPerWorker = foldersPerWorker(workers);
    s.running = workers;
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&s] {
            try {
                Worker(s).run();
            } catch (const std::bad_alloc &) {
                // A worker that cannot get the memory it needs ends the operation as damage.
                std::lock_guard lock(s.mutex);
                s.failedIndex = 0;
                s.code = ZipDataError;
            }
            std::lock_guard lock(s.mutex);
            --s.running;
            s.finished.notify_all();
        });
    }
    for (;;) {
        {
            std::unique_lock lock(s.mutex);
            if (s.finished.wait_for(lock, kTick, [&s] { return s.running == 0; }))
                break;
        }
        if (progress)
            progress(progressOf(s, total));
    }
    for (std::thread &t : threads)
        t.join();
    if (s.destination >= 0)
        close(s.destination);

    const ZipCode code = abort.load() ? ZipAborted : s.code;
    if (why) {
        why->writeError = code == ZipCannotWrite ? s.writeError : 0;
        why->memoryNeeded = code == ZipUnsupported ? s.memoryNeeded : 0;
    }
    if (progress) {
        ZipProgress p = progressOf(s, total);
        if (code == ZipDone) {
            p.processed = total;
            p.completion = 100;
        }
        progress(p);
    }
    return code;
}

// Memory that runs out while the members are read (a directory that lies about its size is
// read in pieces and cannot ask for much, but the system may still say no) ends the operation
// as damage, never the program.
ZipCode guarded(const ZipJob &job, bool write, std::atomic<bool> &abort, const ZipEngine::ProgressFn &progress,
                ZipWhy *why)
{
    try {
        return run(job, write, abort, progress, why);
    } catch (const std::bad_alloc &) {
        return ZipStructureError;
    }
}

} // namespace

ZipCode ZipEngine::extract(const ZipJob &job, std::atomic<bool> &abort, const ProgressFn &progress, ZipWhy *why)
{
    return guarded(job, true, abort, progress, why);
}

ZipCode ZipEngine::test(const ZipJob &job, std::atomic<bool> &abort, const ProgressFn &progress, ZipWhy *why)
{
    return guarded(job, false, abort, progress, why);
}

} // namespace zelv
