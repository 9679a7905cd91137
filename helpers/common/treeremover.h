// Removes a folder with everything in it without trusting any name, for killd.pif and for the
// staging folders of the archiver helpers. Links are removed, never followed; each folder is
// opened relative to its parent without following links and must be the very folder examined;
// a mode is changed only through such a descriptor and never gains setuid, setgid or sticky
// bits; nothing on another mount (a bind mount included) is entered; any depth is walked with a
// few descriptors and memory linear in the depth.
#pragma once

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

    // True when name is gone with everything in it; otherwise firstFailure() says what stayed.
    bool remove(const std::string &name);
    const QString &firstFailure() const;

private:
    class Walk;
    std::unique_ptr<Walk> m_walk;
};

} // namespace zelv
