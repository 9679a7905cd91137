// The window's zip component, XceedZip, as the commands see it: each call sets the component's
// properties as the original program set them before an operation, then runs it, so that its
// progress event and abort request work as they always did.
#pragma once

#include "archive/xceedzip.h"
#include "core/zipcomponent.h"

namespace zelv {

class XceedZipComponent : public ZipComponent {
public:
    explicit XceedZipComponent(XceedZip &zip) : m_zip(zip) {}

    ZipCode extract(const QString &dosArchive, const QString &masks, const QString &dosFolder) override
    {
        m_zip.setSkipIfExisting(false);
        m_zip.setFilesToProcess(masks);
        m_zip.setUnzipToFolder(dosFolder);
        m_zip.setZipFilename(dosArchive);
        return m_zip.extract(0);
    }

    ZipCode test(const QString &dosArchive) override
    {
        m_zip.setZipFilename(dosArchive);
        m_zip.setFilesToProcess(QString());
        return m_zip.test();
    }

private:
    XceedZip &m_zip;
};

} // namespace zelv
