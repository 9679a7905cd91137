#include "libarchive.h"

#include <dlfcn.h>

namespace zelv {

namespace {

// The library's name since its version 3.0; a build against another one stops here.
static_assert(ARCHIVE_VERSION_NUMBER >= 3000000 && ARCHIVE_VERSION_NUMBER < 4000000);
constexpr char kLibrary[] = "libarchive.so.13";

struct Loaded {
    LibArchive functions{};
    bool ok = false;
    QString problem;
};

template <typename F>
bool resolve(void *handle, const char *name, F &function, QString &problem)
{
    function = reinterpret_cast<F>(dlsym(handle, name));
    if (!function)
        problem = QStringLiteral("%1 has no %2").arg(QLatin1String(kLibrary), QLatin1String(name));
    return function != nullptr;
}

Loaded load()
{
    Loaded l;
    // Never closed: what it gave out stays valid for the life of the process.
    void *handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        l.problem = QString::fromLocal8Bit(dlerror());
        return l;
    }
    LibArchive &f = l.functions;
    QString &p = l.problem;
    l.ok = resolve(handle, "archive_read_new", f.read_new, p) && resolve(handle, "archive_read_free", f.read_free, p) &&
           resolve(handle, "archive_read_support_format_rar", f.read_support_format_rar, p) &&
           resolve(handle, "archive_read_support_format_rar5", f.read_support_format_rar5, p) &&
           resolve(handle, "archive_read_support_format_zip_streamable", f.read_support_format_zip_streamable, p) &&
           resolve(handle, "archive_read_set_format_option", f.read_set_format_option, p) &&
           resolve(handle, "archive_read_open", f.read_open, p) &&
           resolve(handle, "archive_read_next_header", f.read_next_header, p) &&
           resolve(handle, "archive_read_data", f.read_data, p) &&
           resolve(handle, "archive_set_error", f.set_error, p) &&
           resolve(handle, "archive_error_string", f.error_string, p) &&
           resolve(handle, "archive_entry_pathname", f.entry_pathname, p) &&
           resolve(handle, "archive_entry_pathname_utf8", f.entry_pathname_utf8, p) &&
           resolve(handle, "archive_entry_size", f.entry_size, p) &&
           resolve(handle, "archive_entry_mtime_is_set", f.entry_mtime_is_set, p) &&
           resolve(handle, "archive_entry_mtime", f.entry_mtime, p) &&
           resolve(handle, "archive_entry_mtime_nsec", f.entry_mtime_nsec, p);
    return l;
}

const Loaded &loaded()
{
    // Opened once, by whichever thread asks first; the others wait for it. Without it the
    // person learns once what is lost and why, on the standard error as other warnings.
    static const Loaded once = [] {
        Loaded l = load();
        if (!l.ok)
            qWarning("Zelvant32: %s: RAR sets are read by unar alone, and zip members packed by BZip2, "
                     "LZMA, XZ or PPMd cannot be extracted",
                     qPrintable(l.problem));
        return l;
    }();
    return once;
}

} // namespace

const LibArchive *libArchive()
{
    const Loaded &l = loaded();
    return l.ok ? &l.functions : nullptr;
}

} // namespace zelv
