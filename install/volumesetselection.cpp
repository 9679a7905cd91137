#include "volumesetselection.h"

namespace zelv {

VolumeSet selectVolumeSet(CommandContext &c, ArchiveKind kind)
{
    WindowSurface &w = c.window;
    const int n = w.listCount();
    QStringList listed;
    for (int i = 0; i < n; ++i)
        listed << w.listItem(i);
    const QString folder = w.treePath();
    int count = 0;
    for (int i = 0; i < n; ++i) {
        const QString &name = listed[i];
        if (!isVolumeCandidate(name, kind))
            continue;
        const auto host = c.files.hostPath(listedFilePath(folder, name));
        const VolumeCheck check = host ? checkVolumeSignature(*host, kind) : VolumeCheck::Unreadable;
        if (check == VolumeCheck::Volume) {
            w.setListSelected(i, true);
            w.processEvents();
            ++count;
            continue;
        }
        if (check == VolumeCheck::NotVolume && kind == ArchiveKind::Arj)
            continue;
        // The search ends here: as many names as volumes were found, taken from the top of the
        // list as they stand, unordered.
        return {listed.mid(0, count)};
    }

    // Every selected entry, in list order, those selected before the call included.
    QStringList selected;
    for (int i = 0; i < n && selected.size() < count; ++i)
        if (w.listSelected(i))
            selected << listed[i];

    // The first volume first (the last one in list order when there are several), then the
    // rest in list order. A first volume that another one replaced goes at the end.
    QString first;
    QStringList replaced;
    for (const QString &name : selected) {
        if (!isFirstVolume(name, kind))
            continue;
        if (!first.isEmpty())
            replaced << first;
        first = name;
    }
    QStringList ordered;
    if (!first.isEmpty())
        ordered << first;
    for (const QString &name : selected)
        if (!isFirstVolume(name, kind))
            ordered << name;
    ordered << replaced;
    return {ordered};
}

} // namespace zelv
