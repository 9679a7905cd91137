// Removes a folder with everything in it without trusting any name, for killd.pif and for the
// staging folders of the archiver helpers. Links are removed, never followed; each folder is
// opened relative to its parent without following links and must be the very folder examined;
// a mode is changed only through such a descriptor and never gains setuid, setgid or sticky
// bits; nothing on another mount (a bind mount included) is entered; any depth is walked with a
// few descriptors and memory linear in the depth.
#pragma once

#include "platform/error.h"

#include <QString>

#include <memory>
#include <string>

namespace zelv {

class TreeRemover {
public:
    // parentFd is the folder holding what is removed, whose path as shown in messages is
    // displayPath (a DOS path for killd.pif); it stays the caller's.
    TreeRemover(int parentFd, const QString &displayPath);
    ~TreeRemover();

    // Name gone with everything in it; else the first thing that stayed, and why.
    Result<void> remove(const std::string &name);

private:
    class Walk;
    std::unique_ptr<Walk> m_walk;
};

} // namespace zelv
