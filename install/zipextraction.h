// The install's zip stage: every selected zip archive extracted, in list order, into the new
// install directory, with the archive and its number in the kind panel and the component's
// progress in the folder panel; and the description files of the first archive copied next to
// a volume set extracted from them.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

// What the zip stage works on, for one install.
struct ZipStage {
    QString sourceFolder; // may become lower case on an error, for the rest of the install
    QString installDir;
};

enum class StageOutcome { GoOn, Stop, Cancelled };

// Extracts NameList 1..NameCount from the source folder into the install directory. Any code
// that means not everything was written (a CRC or structure error, an archive that cannot be
// opened, a folder that cannot be written) is shown and stops the install; a stop asked by the
// component (Escape) is Cancelled.
StageOutcome ExtractZipArchives(CommandContext &c, ZipStage &stage);

// The *.diz and *.nfo members of FirstArchivePath into innerInstallDir; nothing is reported.
void CopyDescriptionFiles(CommandContext &c, const QString &innerInstallDir);

// The kind panel's text while archive `index` of `count` is extracted: " disk1.zip    1 of 3".
QString zipStageCaption(const QString &name, int index, int count);

} // namespace zelv
