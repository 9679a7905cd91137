#include "dospath.h"

namespace zelv::dospath {

namespace {
bool isSeparator(QChar c) { return c == u'\\' || c == u'/'; }
} // namespace

std::optional<QChar> driveLetter(QStringView path)
{
    if (path.size() < 2 || path[1] != u':')
        return std::nullopt;
    const QChar letter = path[0].toLower();
    if (letter < u'a' || letter > u'z')
        return std::nullopt;
    return letter;
}

std::optional<QStringList> components(QStringView path)
{
    if (!driveLetter(path))
        return std::nullopt;
    QStringList parts;
    qsizetype start = 2;
    for (qsizetype i = 2; i <= path.size(); ++i) {
        if (i < path.size() && !isSeparator(path[i]))
            continue;
        const QStringView part = path.mid(start, i - start);
        start = i + 1;
        if (part.isEmpty() || part == u".")
            continue;
        if (part == u"..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part.toString());
    }
    return parts;
}

std::optional<QString> normalize(QStringView path)
{
    const auto parts = components(path);
    if (!parts)
        return std::nullopt;
    return path.left(2).toString() + u'\\' + parts->join(u'\\');
}

bool isDriveRoot(QStringView path)
{
    const auto parts = components(path);
    return parts && parts->isEmpty();
}

QString join(QStringView folder, QStringView name)
{
    QString result = folder.toString();
    if (!result.endsWith(u'\\'))
        result += u'\\';
    return result + name.toString();
}

QString folderOf(QStringView path)
{
    const qsizetype cut = path.lastIndexOf(u'\\');
    if (cut < 0)
        return QString();
    if (cut == 2 && path.size() >= 2 && path[1] == u':')
        return path.left(3).toString();
    return path.left(cut).toString();
}

QString nameOf(QStringView path) { return path.mid(path.lastIndexOf(u'\\') + 1).toString(); }

} // namespace zelv::dospath
