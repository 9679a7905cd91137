// The program's images by name ("zip", "logo", "dragcorner", ...), from PNG files rendered at
// build time in several sizes; the best size is picked for each use.
#pragma once

#include <QIcon>
#include <QRegion>
#include <QString>

class QImage;

namespace zelv {

QIcon artworkIcon(const QString &name);

// The part of a picture a window shaped like it keeps: every pixel not wholly transparent, as
// QPixmap::mask() has it, found from the rows directly with no bitmap in between. Empty, as
// that mask is then none, when no pixel is transparent at all.
QRegion opaqueRegion(const QImage &picture);

} // namespace zelv
