// The window's zip component, XceedZip, as the commands see it: each call sets the component's
// properties and runs the operation on the component itself, so that its progress event and
// the Escape key's abort request reach the same operation.
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

    int lastWriteError() const override { return m_zip.lastWriteError(); }
    quint64 lastMemoryNeeded() const override { return m_zip.lastMemoryNeeded(); }
    bool abortRequested() const override { return m_zip.abortRequested(); }

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
