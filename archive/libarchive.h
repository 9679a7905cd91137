#pragma once

// libarchive, opened the first time a RAR set or a zip method only it decodes (BZip2, PPMd)
// needs it: linked, it and the libraries it brings would be loaded by every start of the
// program and of each helper, most of which never use it.

#include <archive.h>
#include <archive_entry.h>

#include <QString>

namespace zelv {

struct LibArchive {
    decltype(&::archive_read_new) read_new;
    decltype(&::archive_read_free) read_free;
    decltype(&::archive_read_support_format_rar) read_support_format_rar;
    decltype(&::archive_read_support_format_rar5) read_support_format_rar5;
    decltype(&::archive_read_support_format_zip_streamable) read_support_format_zip_streamable;
    decltype(&::archive_read_set_format_option) read_set_format_option;
    decltype(&::archive_read_open) read_open;
    decltype(&::archive_read_next_header) read_next_header;
    decltype(&::archive_read_data) read_data;
    decltype(&::archive_set_error) set_error;
    decltype(&::archive_error_string) error_string;
    decltype(&::archive_entry_pathname) entry_pathname;
    decltype(&::archive_entry_pathname_utf8) entry_pathname_utf8;
    decltype(&::archive_entry_size) entry_size;
    decltype(&::archive_entry_mtime_is_set) entry_mtime_is_set;
    decltype(&::archive_entry_mtime) entry_mtime;
    decltype(&::archive_entry_mtime_nsec) entry_mtime_nsec;
};

// The library, opened at the first call; null when it cannot be (a warning says why, once).
const LibArchive *libArchive();

} // namespace zelv
