// The zip engine: extracts and tests zip archives on host paths, safely and fast, and answers
// with one of the result codes below.
//
//   code  meaning
//     0   done
//   100   a member's CRC does not match its data
//   110   not a zip archive or a damaged structure: more than one end record, a zip64 record
//         or local header that disagrees with the directory, members that share bytes (as
//         zip bombs do); or a member whose name would leave the destination or hide what it
//         is (absolute path, drive letter, ".." part, NUL, control character, text direction
//         mark). Nothing is written then.
//   120   the archive file cannot be opened (missing, unreadable)
//   140   no member matches the mask; nothing was done
//   190   stopped by the abort request
//   200   a member's compressed data is damaged and cannot be decompressed
//   300   the destination cannot be written (no space, no permission, a link or a folder in
//         the way of a member)
//   310   (the zip component only) another operation is still running; nothing was done
//   410   a member is encrypted or uses a compression method that cannot be read (the methods
//         read are stored, deflated and those in zipmethods.h), or its decoder would need
//         more memory than one decoder may take (memorybudget.h)
//
// Extraction recreates the archive's folders under the destination, at any depth, overwrites
// existing files, restores modification times and writes plain files and folders only. It never
// follows a link that already exists in the destination and never writes outside it; a member
// that fails leaves no partial file. A name that comes twice is written from its last copy; the
// earlier copies are checked as a test checks them. Two workers share the members, largest
// first, and keep no more folders open than the open-file limit allows; the calling thread only
// reports progress. The code is that of the first failing member in archive order, whatever
// the workers' timing.
#pragma once

#include <QDateTime>
#include <QString>
#include <atomic>
#include <functional>

namespace zelv {

enum ZipCode : qint16 {
    ZipDone = 0,
    ZipCrcError = 100,
    ZipStructureError = 110,
    ZipCannotOpen = 120,
    ZipNothingMatched = 140,
    ZipAborted = 190,
    ZipDataError = 200,
    ZipCannotWrite = 300,
    // Not the engine's: the zip component refuses a second operation while one runs.
    ZipBusy = 310,
    ZipUnsupported = 410,
};

// What the engine reports while it works, on the calling thread.
struct ZipProgress {
    QString fileName; // the member last started
    qint64 size = 0;  // its uncompressed size
    qint64 packedSize = 0;
    quint32 crc = 0;
    int method = 0; // its compression method
    bool encrypted = false;
    QDateTime time;
    qint64 processed = 0; // bytes of all selected members done
    qint64 total = 0;     // bytes of all selected members
    int completion = 0;   // 0 to 100, by bytes
};

// What an operation's code alone does not tell.
struct ZipWhy {
    int writeError = 0;       // the system's cause (an errno value) of a 300
    quint64 memoryNeeded = 0; // a 410 for a member whose decoder would need this much memory
};

struct ZipJob {
    QString archive;             // host path
    QString masks;               // wildcard masks separated by carriage returns; empty: every member
    QString destination;         // host path; made with its parents when missing (extract only)
    bool skipIfExisting = false; // keep a file that already exists in the destination
};

class ZipEngine {
public:
    using ProgressFn = std::function<void(const ZipProgress &)>;

    // Both run until done on the calling thread, which calls progress every 20 ms, whether or
    // not anything changed, and once more at the end (completion 100 when all went well).
    // Setting abort, from progress or another thread, stops the work within a tenth of a second
    // (code 190).
    // why, when given, gets what the code alone does not tell. No exception leaves either:
    // memory that runs out ends the operation with a code.
    static ZipCode extract(const ZipJob &job, std::atomic<bool> &abort, const ProgressFn &progress = {},
                           ZipWhy *why = nullptr);
    static ZipCode test(const ZipJob &job, std::atomic<bool> &abort, const ProgressFn &progress = {},
                        ZipWhy *why = nullptr);

    static constexpr int kWorkers = 2;
};

} // namespace zelv
