// What the zip engine decides about a member's name before anything is read or written: which
// members a mask selects, and where inside the destination a member may go.
#pragma once

#include "platform/wildcard.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace zelv {

// Wildcard masks separated by carriage returns (line feeds are taken too). A mask without a
// backslash matches a member's file name in any folder of the archive; one with a backslash
// matches the member's whole path, folders separated by backslashes. No mask selects every
// member.
class ZipMask {
public:
    explicit ZipMask(const QString &masks = QString());

    bool selectsAll() const { return m_nameMasks.empty() && m_pathMasks.empty(); }
    // path: the member's relative path with "/" between its parts.
    bool matches(const QString &path) const;

private:
    std::vector<WildcardPattern> m_nameMasks;
    std::vector<WildcardPattern> m_pathMasks;
};

struct MemberPath {
    QStringList parts; // folders, then the name; never ".." or empty
    bool isDirectory = false;
    QString joined() const { return parts.join(u'/'); }
};

// The place of a member inside the destination, or nothing when its name would leave it: an
// absolute path, a drive letter, a ".." part, a control character (C0, DEL or C1) or a mark
// that changes the direction of the text. Both "/" and "\"
// separate parts; "." parts are dropped. A name with no part left is refused too.
std::optional<MemberPath> safeMemberPath(const QString &name);

} // namespace zelv
