#include "zipengine.h"

#include "zipcentral.h"
#include "zipmembers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <libdeflate.h>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>
#include <zip.h>
#include <zlib.h>

namespace zelv {

namespace {

// Members up to this size are read whole and inflated in one call; larger ones are streamed.
constexpr quint64 kWholeLimit = 32ull << 20;
constexpr size_t kChunk = 1 << 20;
constexpr size_t kStoredPiece = 256 << 10;
constexpr auto kTick = std::chrono::milliseconds(20);

struct Member {
    zip_uint64_t index = 0;
    QString name;
    MemberPath path;
    quint64 size = 0;
    quint64 compSize = 0;
    quint32 crc = 0;
    quint16 method = 0;
    bool encrypted = false;
    time_t mtime = 0;
};

struct ArchiveCloser {
    void operator()(zip_t *z) const { zip_discard(z); }
};
using ArchivePtr = std::unique_ptr<zip_t, ArchiveCloser>;

struct FileCloser {
    void operator()(zip_file_t *f) const { zip_fclose(f); }
};
using MemberFile = std::unique_ptr<zip_file_t, FileCloser>;

qint16 codeForZipError(int ze)
{
    switch (ze) {
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
        return ZipUnsupported;
    case ZIP_ER_CRC:
        return ZipCrcError;
    case ZIP_ER_COMPRESSED_DATA:
    case ZIP_ER_ZLIB:
        return ZipDataError;
    default:
        return ZipStructureError;
    }
}

qint16 codeForOpenError(int ze)
{
    switch (ze) {
    case ZIP_ER_NOENT:
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
        return ZipCannotOpen;
    default:
        return ZipStructureError;
    }
}

ArchivePtr openArchive(const QString &path, int flags, int *error)
{
    return ArchivePtr(zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | flags, error));
}

// Every byte of a member's raw data, or false when the archive ends or cannot be read.
bool readFully(zip_file_t *f, unsigned char *buffer, quint64 length)
{
    quint64 got = 0;
    while (got < length) {
        const zip_int64_t n = zip_fread(f, buffer + got, length - got);
        if (n <= 0)
            return false;
        got += quint64(n);
    }
    return true;
}

// A name without the UTF-8 flag is read as code page 437, which draws control bytes as
// pictures (0x01 becomes a smiley); the bytes as stored decide.
bool hasControlByte(const char *rawName)
{
    if (!rawName)
        return true;
    for (const char *c = rawName; *c; ++c)
        if (uchar(*c) < 0x20 || uchar(*c) == 0x7F)
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

// The folders and files of one worker inside the destination. Folders are opened one part at a
// time without following links, so nothing already in the destination can lead outside it.
class Writer {
public:
    Writer(int destination, bool skipIfExisting) : m_destination(destination), m_skip(skipIfExisting) {}
    ~Writer()
    {
        for (auto &entry : m_folders)
            close(entry.second);
    }

    // The folder that holds the member (made when missing), or -1.
    int folderFor(const QStringList &parts, int count)
    {
        int fd = m_destination;
        std::string key;
        for (int i = 0; i < count; ++i) {
            key += QFile::encodeName(parts[i]).toStdString();
            key += '/';
            const auto it = m_folders.find(key);
            if (it != m_folders.end()) {
                fd = it->second;
                continue;
            }
            const QByteArray part = QFile::encodeName(parts[i]);
            if (mkdirat(fd, part.constData(), 0777) != 0 && errno != EEXIST)
                return -1;
            const int next = openat(fd, part.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0)
                return -1;
            if (m_folders.size() > 512) {
                for (auto &entry : m_folders)
                    close(entry.second);
                m_folders.clear();
                // The chain above was closed too: start again from the destination.
                close(next);
                return folderFor(parts, count);
            }
            m_folders.emplace(key, next);
            fd = next;
        }
        return fd;
    }

    bool exists(const Member &m)
    {
        const int folder = folderFor(m.path.parts, int(m.path.parts.size()) - 1);
        struct stat st;
        return folder >= 0 &&
               fstatat(folder, QFile::encodeName(m.path.parts.last()).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    }

    bool skipIfExisting() const { return m_skip; }

    // Opens the member's file for writing. Whatever stands under its name (a file or a link,
    // never a folder) is replaced, not written through.
    int create(const Member &m, int *folder, QByteArray *name)
    {
        *folder = folderFor(m.path.parts, int(m.path.parts.size()) - 1);
        if (*folder < 0)
            return -1;
        *name = QFile::encodeName(m.path.parts.last());
        const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        int fd = openat(*folder, name->constData(), flags, 0666);
        if (fd < 0 && errno == EEXIST) {
            if (unlinkat(*folder, name->constData(), 0) != 0)
                return -1;
            fd = openat(*folder, name->constData(), flags, 0666);
        }
        return fd;
    }

    static bool writeAll(int fd, const unsigned char *data, size_t n)
    {
        while (n > 0) {
            const ssize_t w = write(fd, data, n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            data += w;
            n -= size_t(w);
        }
        return true;
    }

    static void setTime(int fd, time_t mtime)
    {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {mtime, 0}};
        futimens(fd, times);
    }

    qint16 writeWhole(const Member &m, const unsigned char *data, size_t n)
    {
        int folder = -1;
        QByteArray name;
        const int fd = create(m, &folder, &name);
        if (fd < 0)
            return ZipCannotWrite;
        const bool ok = writeAll(fd, data, n);
        if (ok)
            setTime(fd, m.mtime);
        if (close(fd) != 0 || !ok) {
            unlinkat(folder, name.constData(), 0);
            return ZipCannotWrite;
        }
        return ZipDone;
    }

    bool makeFolder(const Member &m) { return folderFor(m.path.parts, int(m.path.parts.size())) >= 0; }

private:
    int m_destination;
    bool m_skip;
    std::unordered_map<std::string, int> m_folders;
};

// A streamed member's output: written as it comes, removed again when the member fails.
class StreamOutput {
public:
    StreamOutput(Writer *writer, const Member &m) : m_writer(writer)
    {
        if (m_writer)
            m_fd = m_writer->create(m, &m_folder, &m_name);
    }
    ~StreamOutput()
    {
        if (m_fd >= 0) {
            close(m_fd);
            unlinkat(m_folder, m_name.constData(), 0);
        }
    }
    bool opened() const { return !m_writer || m_fd >= 0; }

    // Runs of zeros become holes, so a huge empty member costs no disk.
    bool write(const unsigned char *data, size_t n)
    {
        m_length += n;
        if (!m_writer)
            return true;
        if (allZero(data, n))
            return lseek(m_fd, off_t(n), SEEK_CUR) >= 0;
        return Writer::writeAll(m_fd, data, n);
    }

    bool finish(time_t mtime)
    {
        if (!m_writer)
            return true;
        bool ok = ftruncate(m_fd, off_t(m_length)) == 0;
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
};

struct Shared {
    std::vector<Member> members; // largest first
    bool write = false;
    std::atomic<size_t> next{0};
    std::atomic<qint64> done{0};
    std::atomic<int> current{-1};
    std::atomic<bool> *abort = nullptr;
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;
    qint16 code = ZipDone;
    zip_uint64_t failedIndex = std::numeric_limits<zip_uint64_t>::max();
    int destination = -1;
    bool skipIfExisting = false;
    QString archive;
    // Member data is read straight from the file where the offsets are known; libzip reads
    // it otherwise.
    int archiveFd = -1;
    quint64 archiveSize = 0;
    std::vector<quint64> localOffsets;

    void fail(const Member &m, qint16 c)
    {
        std::lock_guard lock(mutex);
        // The first failing member in archive order decides, whatever the workers' order.
        if (m.index < failedIndex) {
            failedIndex = m.index;
            code = c;
        }
        failed = true;
    }
    bool stopping() const { return failed.load() || abort->load(); }
};

class Worker {
public:
    explicit Worker(Shared &s) : m_s(s), m_inflater(libdeflate_alloc_decompressor()) {}
    ~Worker() { libdeflate_free_decompressor(m_inflater); }

    void run()
    {
        std::unique_ptr<Writer> writer;
        if (m_s.write)
            writer = std::make_unique<Writer>(m_s.destination, m_s.skipIfExisting);
        m_writer = writer.get();
        while (!m_s.stopping()) {
            const size_t i = m_s.next++;
            if (i >= m_s.members.size())
                break;
            m_s.current = int(i);
            const Member &m = m_s.members[i];
            const qint16 c = process(m);
            if (c != ZipDone && c != ZipAborted)
                m_s.fail(m, c);
        }
    }

private:
    qint16 process(const Member &m)
    {
        if (m.encrypted)
            return ZipUnsupported;
        if (m.path.isDirectory)
            return !m_writer || m_writer->makeFolder(m) ? ZipDone : ZipCannotWrite;
        if (m_writer && m_writer->skipIfExisting() && m_writer->exists(m)) {
            m_s.done += qint64(m.size);
            return ZipDone;
        }
        if (m.method == ZIP_CM_STORE || m.method == ZIP_CM_DEFLATE) {
            if (m.size <= kWholeLimit && m.compSize <= kWholeLimit)
                return whole(m);
            return streamed(m);
        }
        if (zip_compression_method_supported(m.method, 0))
            return decodedByLibrary(m);
        return ZipUnsupported;
    }

    bool direct() const { return !m_s.localOffsets.empty(); }

    std::optional<quint64> dataOffset(const Member &m) const
    {
        return memberDataOffset(m_s.archiveFd, m_s.localOffsets[m.index], m.compSize, m_s.archiveSize);
    }

    // A stored member in pieces that stay in the cache from reading through checking to
    // writing.
    qint16 storedDirect(const Member &m)
    {
        if (m.compSize != m.size)
            return ZipStructureError;
        const auto at = dataOffset(m);
        if (!at)
            return ZipStructureError;
        StreamOutput out(m_writer, m);
        if (!out.opened())
            return ZipCannotWrite;
        m_in.reserve(kStoredPiece);
        quint32 crc = 0;
        for (quint64 done = 0; done < m.size;) {
            if (m_s.abort->load())
                return ZipAborted;
            const size_t n = size_t(std::min<quint64>(kStoredPiece, m.size - done));
            if (!readAt(m_s.archiveFd, m_in.data(), n, *at + done))
                return ZipStructureError;
            crc = libdeflate_crc32(crc, m_in.data(), n);
            if (!out.write(m_in.data(), n))
                return ZipCannotWrite;
            done += n;
            m_s.done += qint64(n);
        }
        if (crc != m.crc)
            return ZipCrcError;
        return out.finish(m.mtime) ? ZipDone : ZipCannotWrite;
    }

    MemberFile openRaw(const Member &m, zip_flags_t flags, qint16 *code)
    {
        if (!m_archive) {
            int error = 0;
            m_ownArchive = openArchive(m_s.archive, 0, &error);
            m_archive = m_ownArchive.get();
            if (!m_archive) {
                *code = codeForOpenError(error);
                return MemberFile();
            }
        }
        MemberFile f(zip_fopen_index(m_archive, m.index, flags));
        if (!f)
            *code = codeForZipError(zip_error_code_zip(zip_get_error(m_archive)));
        return f;
    }

    qint16 whole(const Member &m)
    {
        if (direct() && m.method == ZIP_CM_STORE)
            return storedDirect(m);
        m_in.reserve(std::max<size_t>(m.compSize, 1));
        if (direct()) {
            const auto at = dataOffset(m);
            if (!at || !readAt(m_s.archiveFd, m_in.data(), m.compSize, *at))
                return ZipStructureError;
        } else {
            qint16 code = ZipDone;
            MemberFile f = openRaw(m, ZIP_FL_COMPRESSED, &code);
            if (!f)
                return code;
            if (!readFully(f.get(), m_in.data(), m.compSize))
                return ZipStructureError;
        }
        const unsigned char *data = m_in.data();
        if (m.method == ZIP_CM_STORE) {
            if (m.compSize != m.size)
                return ZipStructureError;
        } else {
            m_out.reserve(std::max<size_t>(m.size, 1));
            size_t used = 0, produced = 0;
            const libdeflate_result r =
                libdeflate_deflate_decompress_ex(m_inflater, m_in.data(), m.compSize, m_out.data(), m.size, &used, &produced);
            // More output than the declared size, less, or a broken stream: the data is damaged.
            if (r != LIBDEFLATE_SUCCESS || produced != m.size)
                return ZipDataError;
            data = m_out.data();
        }
        if (libdeflate_crc32(0, data, m.size) != m.crc)
            return ZipCrcError;
        const qint16 written = m_writer ? m_writer->writeWhole(m, data, m.size) : qint16(ZipDone);
        m_s.done += qint64(m.size);
        return written;
    }

    qint16 streamed(const Member &m)
    {
        if (direct() && m.method == ZIP_CM_STORE)
            return storedDirect(m);
        qint16 code = ZipDone;
        MemberFile f;
        std::optional<quint64> at;
        quint64 read = 0;
        if (direct()) {
            at = dataOffset(m);
            if (!at)
                return ZipStructureError;
        } else {
            f = openRaw(m, ZIP_FL_COMPRESSED, &code);
            if (!f)
                return code;
        }
        StreamOutput out(m_writer, m);
        if (!out.opened())
            return ZipCannotWrite;
        m_in.reserve(kChunk);
        m_out.reserve(kChunk);

        z_stream z{};
        const bool inflating = m.method == ZIP_CM_DEFLATE;
        if (inflating && inflateInit2(&z, -MAX_WBITS) != Z_OK)
            return ZipDataError;
        struct End {
            z_stream *z;
            bool on;
            ~End() { if (on) inflateEnd(z); }
        } end{&z, inflating};

        quint64 produced = 0;
        quint32 crc = 0;
        bool streamEnded = !inflating;
        const auto deliver = [&](const unsigned char *data, size_t n) -> qint16 {
            if (produced + n > m.size)
                return ZipDataError; // more than the declared size
            produced += n;
            crc = libdeflate_crc32(crc, data, n);
            m_s.done += qint64(n);
            return out.write(data, n) ? ZipDone : ZipCannotWrite;
        };
        for (;;) {
            if (m_s.abort->load())
                return ZipAborted;
            zip_int64_t n = 0;
            if (at) {
                n = zip_int64_t(std::min<quint64>(kChunk, m.compSize - read));
                if (n > 0 && !readAt(m_s.archiveFd, m_in.data(), size_t(n), *at + read))
                    return ZipStructureError;
                read += quint64(n);
            } else {
                n = zip_fread(f.get(), m_in.data(), kChunk);
            }
            // libzip checks a stored member's CRC itself when it reaches the end.
            if (n < 0)
                return codeForZipError(zip_error_code_zip(zip_file_get_error(f.get())));
            if (n == 0)
                break;
            if (!inflating) {
                if (const qint16 c = deliver(m_in.data(), size_t(n)))
                    return c;
                continue;
            }
            if (streamEnded)
                continue; // bytes after the end of the stream are left unread by the format
            z.next_in = m_in.data();
            z.avail_in = uInt(n);
            // A full output buffer may leave output pending after the last input byte is taken.
            bool outputFull = false;
            while ((z.avail_in > 0 || outputFull) && !streamEnded) {
                z.next_out = m_out.data();
                z.avail_out = uInt(kChunk);
                const int r = inflate(&z, Z_NO_FLUSH);
                if (r == Z_BUF_ERROR && z.avail_in == 0)
                    break; // nothing was pending: the stream needs more input
                if (r != Z_OK && r != Z_STREAM_END)
                    return ZipDataError;
                if (const qint16 c = deliver(m_out.data(), kChunk - z.avail_out))
                    return c;
                streamEnded = r == Z_STREAM_END;
                outputFull = z.avail_out == 0;
            }
        }
        if (!streamEnded || produced != m.size)
            return ZipDataError;
        if (crc != m.crc)
            return ZipCrcError;
        return out.finish(m.mtime) ? ZipDone : ZipCannotWrite;
    }

    // Methods this engine does not inflate itself (bzip2, xz, ...), through the library's own
    // decoders; the size is capped and the CRC checked here all the same.
    qint16 decodedByLibrary(const Member &m)
    {
        qint16 code = ZipDone;
        MemberFile f = openRaw(m, 0, &code);
        if (!f)
            return code;
        StreamOutput out(m_writer, m);
        if (!out.opened())
            return ZipCannotWrite;
        m_out.reserve(kChunk);
        quint64 produced = 0;
        quint32 crc = 0;
        for (;;) {
            if (m_s.abort->load())
                return ZipAborted;
            const zip_int64_t n = zip_fread(f.get(), m_out.data(), kChunk);
            if (n < 0)
                return codeForZipError(zip_error_code_zip(zip_file_get_error(f.get())));
            if (n == 0)
                break;
            if (produced + quint64(n) > m.size)
                return ZipDataError;
            produced += quint64(n);
            crc = libdeflate_crc32(crc, m_out.data(), size_t(n));
            m_s.done += n;
            if (!out.write(m_out.data(), size_t(n)))
                return ZipCannotWrite;
        }
        if (produced != m.size)
            return ZipDataError;
        if (crc != m.crc)
            return ZipCrcError;
        return out.finish(m.mtime) ? ZipDone : ZipCannotWrite;
    }

    Shared &m_s;
    libdeflate_decompressor *m_inflater;
    ArchivePtr m_ownArchive; // opened only for what is not read directly
    zip_t *m_archive = nullptr;
    Writer *m_writer = nullptr;
    Buffer m_in;
    Buffer m_out;
};

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

qint16 run(const ZipJob &job, bool write, std::atomic<bool> &abort, const ZipEngine::ProgressFn &progress)
{
    abort = false; // a request left from an earlier operation does not stop this one
    if (!QFileInfo(job.archive).isFile())
        return ZipCannotOpen;
    int error = 0;
    // A consistency check up front refuses overlapping entries and local headers that disagree
    // with the directory, before anything is written.
    ArchivePtr archive = openArchive(job.archive, ZIP_CHECKCONS, &error);
    if (!archive)
        return codeForOpenError(error);

    Shared s;
    s.write = write;
    s.abort = &abort;
    s.archive = job.archive;
    s.skipIfExisting = job.skipIfExisting;
    const ZipMask mask(job.masks);
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    std::unordered_map<QString, size_t> byPath;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive.get(), zip_uint64_t(i), ZIP_FL_ENC_STRICT, &st) != 0 || !st.name)
            return ZipStructureError;
        Member m;
        m.index = zip_uint64_t(i);
        m.name = QString::fromUtf8(st.name);
        const auto path = safeMemberPath(m.name);
        if (!path || hasControlByte(zip_get_name(archive.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW)))
            return ZipStructureError;
        m.path = *path;
        if (!mask.matches(m.path.joined()))
            continue;
        m.size = st.size;
        m.compSize = st.comp_size;
        m.crc = st.crc;
        m.method = st.comp_method;
        m.encrypted = st.encryption_method != ZIP_EM_NONE;
        m.mtime = st.mtime;
        // A name that comes twice is written once, from its last member, as a sequential
        // extraction would leave it; the test checks every member.
        if (write) {
            const auto [it, added] = byPath.emplace(m.path.joined(), s.members.size());
            if (!added) {
                s.members[it->second] = m;
                continue;
            }
        }
        s.members.push_back(std::move(m));
    }
    archive.reset();
    if (s.members.empty())
        return write || !mask.selectsAll() ? ZipNothingMatched : ZipDone;

    s.archiveFd = open(QFile::encodeName(job.archive).constData(), O_RDONLY | O_CLOEXEC);
    if (s.archiveFd < 0)
        return ZipCannotOpen;
    struct FdCloser {
        int fd;
        ~FdCloser() { close(fd); }
    } archiveCloser{s.archiveFd};
    struct stat archiveStat;
    if (fstat(s.archiveFd, &archiveStat) == 0)
        s.archiveSize = quint64(archiveStat.st_size);
    if (auto offsets = localHeaderOffsets(s.archiveFd); offsets && zip_int64_t(offsets->size()) == count)
        s.localOffsets = std::move(*offsets);

    std::stable_sort(s.members.begin(), s.members.end(),
                     [](const Member &a, const Member &b) { return a.size > b.size; });
    qint64 total = 0;
    for (const Member &m : s.members)
        total += qint64(m.size);

    if (write) {
        if (!QDir().mkpath(job.destination))
            return ZipCannotWrite;
        s.destination = open(QFile::encodeName(job.destination).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (s.destination < 0)
            return ZipCannotWrite;
    }

    const int workers = int(std::min<size_t>(ZipEngine::kWorkers, s.members.size()));
    s.running = workers;
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&s] {
            Worker(s).run();
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

    const qint16 code = abort.load() ? qint16(ZipAborted) : s.code;
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

} // namespace

qint16 ZipEngine::extract(const ZipJob &job, std::atomic<bool> &abort, const ProgressFn &progress)
{
    return run(job, true, abort, progress);
}

qint16 ZipEngine::test(const ZipJob &job, std::atomic<bool> &abort, const ProgressFn &progress)
{
    return run(job, false, abort, progress);
}

} // namespace zelv
