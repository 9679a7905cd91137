#include "xceedzip.h"

#include <cerrno>

namespace zelv {

XceedZip::XceedZip(const DriveTable &drives, QObject *parent) : QObject(parent), m_drives(drives) {}

ZipCode XceedZip::extract(int) { return run(true); }

ZipCode XceedZip::test() { return run(false); }

ZipCode XceedZip::run(bool write)
{
    if (m_busy)
        return kBusy;
    m_busy = true;
    ZipJob job;
    job.masks = m_masks;
    job.skipIfExisting = m_skipIfExisting;
    job.archive = m_drives.toHost(m_archive).value_or(QString());
    ZipCode code = ZipCannotOpen;
    if (!job.archive.isEmpty()) {
        if (write) {
            const auto destination = m_drives.toHost(m_destination);
            m_why = ZipWhy{destination ? 0 : ENOENT};
            code = destination ? ZipEngine::extract({job.archive, job.masks, *destination, job.skipIfExisting}, m_abort,
                                                    m_progress, &m_why)
                               : ZipCannotWrite;
        } else {
            code = ZipEngine::test(job, m_abort, m_progress, &m_why);
        }
    }
    m_busy = false;
    return code;
}

} // namespace zelv
