// The program's images by name ("zip", "logo", "dragcorner", ...), from PNG files rendered at
// build time in several sizes; the best size is picked for each use.
#pragma once

#include <QIcon>
#include <QString>

namespace zelv {

QIcon artworkIcon(const QString &name);

} // namespace zelv
