#include "volumesetselection.h"

namespace zelv {

void selectVolumeSet(CommandContext &c, ArchiveKind kind)
{
    ProgramState &s = c.state;
    WindowSurface &w = c.window;
    s.SetFound[kind] = false;
    s.VolumeCount[kind] = 0;
    s.NameCount = 0;

    const int n = w.listCount();
    for (int i = 0; i < n; ++i)
        s.setName(i + 1, w.listItem(i));
    const QString folder = w.treePath();
    for (int i = 0; i < n; ++i) {
        const QString name = s.NameList[i + 1];
        if (!isVolumeCandidate(name, kind))
            continue;
        const auto host = c.files.hostPath(listedFilePath(folder, name));
        const VolumeCheck check = host ? checkVolumeSignature(*host, kind) : VolumeCheck::Unreadable;
        if (check == VolumeCheck::Volume) {
            w.setListSelected(i, true);
            w.processEvents();
            s.SetFound[kind] = true;
            s.NameCount = ++s.VolumeCount[kind];
            continue;
        }
        if (check == VolumeCheck::NotVolume && kind == ArchiveKind::Arj)
            continue;
        return; // the selections so far stay, unordered
    }

    // Every selected entry, in list order, those selected before the call included.
    int collected = 0;
    for (int i = 0; i < n; ++i)
        if (w.listSelected(i))
            s.setName(++collected, w.listItem(i));

    // The first volume first (the last one in list order when there are several), then the
    // rest in list order. A first volume that another one replaced goes at the end, so that
    // every slot up to NameCount holds a selected name.
    QStringList ordered{QString()};
    QStringList replaced;
    for (int i = 1; i <= s.NameCount; ++i) {
        const QString &name = s.NameList[i];
        if (!isFirstVolume(name, kind))
            continue;
        if (ordered.size() > 1)
            replaced << ordered[1];
        ordered = {QString(), name};
    }
    for (int i = 1; i <= s.NameCount; ++i)
        if (!isFirstVolume(s.NameList[i], kind))
            ordered << s.NameList[i];
    ordered << replaced;
    for (int i = 1; i <= s.NameCount; ++i)
        s.setName(i, ordered.value(i));
    s.OrderedNames = ordered;
}

} // namespace zelv
