#include "error.h"

#include <cstring>

namespace zelv {

QString Error::describe(int error) { return QString::fromLocal8Bit(strerror(error)); }

} // namespace zelv
