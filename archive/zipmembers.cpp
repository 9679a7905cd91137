#include "zipmembers.h"

namespace zelv {

namespace {

// Characters that make a name show other than it is: controls (C0, DEL, C1) and the
// direction marks, overrides and isolates that reorder what follows them.
bool isHiddenCharacter(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

ZipMask::ZipMask(const QString &masks)
{
    for (QStringView part : QStringView(masks).split(u'\r')) {
        for (QStringView mask : part.split(u'\n')) {
            if (mask.isEmpty())
                continue;
            if (mask.contains(u'\\'))
                m_pathMasks.emplace_back(mask);
            else
                m_nameMasks.emplace_back(mask);
        }
    }
}

bool ZipMask::matches(const QString &path) const
{
    if (selectsAll())
        return true;
    const qsizetype cut = path.lastIndexOf(u'/');
    const QStringView name = QStringView(path).mid(cut + 1);
    for (const WildcardPattern &p : m_nameMasks)
        if (p.matches(name))
            return true;
    if (!m_pathMasks.empty()) {
        QString dosPath = path;
        dosPath.replace(u'/', u'\\');
        for (const WildcardPattern &p : m_pathMasks)
            if (p.matches(dosPath))
                return true;
    }
    return false;
}

std::optional<MemberPath> safeMemberPath(const QString &name)
{
    if (name.isEmpty())
        return std::nullopt;
    for (QChar c : name)
        if (isHiddenCharacter(c.unicode()))
            return std::nullopt;
    if (name.front() == u'/' || name.front() == u'\\')
        return std::nullopt;
    if (name.size() >= 2 && name[1] == u':' && name[0].isLetter())
        return std::nullopt;

    MemberPath result;
    result.isDirectory = name.back() == u'/' || name.back() == u'\\';
    const QStringView whole(name);
    qsizetype start = 0;
    for (qsizetype i = 0; i <= whole.size(); ++i) {
        if (i < whole.size() && whole[i] != u'/' && whole[i] != u'\\')
            continue;
        const QStringView part = whole.mid(start, i - start);
        start = i + 1;
        if (part.isEmpty() || part == u".")
            continue;
        if (part == u"..")
            return std::nullopt;
        result.parts.append(part.toString());
    }
    if (result.parts.isEmpty())
        return std::nullopt;
    return result;
}

} // namespace zelv
