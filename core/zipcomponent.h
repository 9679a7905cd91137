// What the commands need of the zip component: extract members of an archive into a folder,
// and test an archive, each answering with the engine's code. Paths are DOS paths. The window
// hosts the real component; a test may put its own in its place.
#pragma once

#include "archive/zipengine.h"

#include <QString>

namespace zelv {

class ZipComponent {
public:
    virtual ~ZipComponent() = default;

    // The members matching masks (separated by carriage returns; empty: every member) written
    // into dosFolder. An existing file is overwritten.
    virtual ZipCode extract(const QString &dosArchive, const QString &masks, const QString &dosFolder) = 0;
    // Why the last extraction could not write (code 300): an errno value, 0 when not known.
    virtual int lastWriteError() const { return 0; }
    // What a member refused for its memory (code 410) would need; 0 for any other refusal.
    virtual quint64 lastMemoryNeeded() const { return 0; }
    // Every member read and checked; nothing is written.
    virtual ZipCode test(const QString &dosArchive) = 0;
    // Whether the person asked to stop (Escape) during the last operation, even as it ended:
    // the next operation starts without the request, so a command asks here between archives.
    virtual bool abortRequested() const { return false; }
};

} // namespace zelv
