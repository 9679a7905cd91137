// The zip test: every selected zip archive checked with the zip component, each broken one
// renamed to ".bad", the count in the folder panel and the failures in the error report
// errors.txt in the program folder, which then opens in the note viewer.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

void TestZipArchives(CommandContext &c);

// The kind panel's text while archive `index` of `count` is tested: " abc.zip    1 of 3".
QString testProgressCaption(const QString &name, int index, int count);

} // namespace zelv
