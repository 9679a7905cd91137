#include "xceedzip.h"

#include <QCoreApplication>

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
        int lastCompletion = -1;
        QString lastName;
        const auto progress = [&](const ZipProgress &p) {
            if (p.completion != lastCompletion || p.fileName != lastName) {
                lastCompletion = p.completion;
                lastName = p.fileName;
                const int ratio = p.size > 0 ? int(100 - p.packedSize * 100 / p.size) : 0;
                emit Status(p.fileName, p.size, p.packedSize, p.processed, 0, p.time, p.crc, ratio, p.completion,
                            p.method, p.encrypted, 0, QString());
            }
            // Escape reaches the window here and sets the abort request.
            QCoreApplication::processEvents();
        };
        if (write) {
            const auto destination = m_drives.toHost(m_destination);
            m_why = ZipWhy{destination ? 0 : ENOENT};
            code = destination ? ZipEngine::extract({job.archive, job.masks, *destination, job.skipIfExisting}, m_abort,
                                                    progress, &m_why)
                               : ZipCannotWrite;
        } else {
            code = ZipEngine::test(job, m_abort, progress, &m_why);
        }
    }
    m_busy = false;
    return code;
}

} // namespace zelv
