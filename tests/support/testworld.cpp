#include "testworld.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace zelv::test {

TestWorld::TestWorld()
{
    QDir().mkpath(programFolder() + QStringLiteral("/dosdevices"));
    m_drives = std::make_unique<DriveTable>(programFolder());
    addDrive(u'c');
}

QString TestWorld::addDrive(QChar letter)
{
    const QString folder = root() + QStringLiteral("/drive_") + letter;
    QDir().mkpath(folder);
    linkDrive(letter, folder);
    return folder;
}

void TestWorld::linkDrive(QChar letter, const QString &hostFolder)
{
    const QString link = m_drives->devicesFolder() + u'/' + letter + u':';
    QFile::remove(link);
    QFile::link(hostFolder, link);
}

QString TestWorld::driveFolder(QChar letter) const
{
    const auto d = m_drives->drive(letter);
    return d ? d->target : QString();
}

QString TestWorld::onDrive(QChar letter, const QString &relative) const
{
    return driveFolder(letter) + u'/' + relative;
}

QString TestWorld::writeFile(const QString &hostPath, const QByteArray &bytes) const
{
    QDir().mkpath(QFileInfo(hostPath).absolutePath());
    QFile f(hostPath);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
    return hostPath;
}

QString TestWorld::makeFolder(const QString &hostPath) const
{
    QDir().mkpath(hostPath);
    return hostPath;
}

namespace {
QString copyExecutable(const QString &from, const QString &to)
{
    QFile::remove(to);
    if (!QFile::copy(from, to))
        return QString();
    QFile::setPermissions(to, QFile::permissions(to) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    return to;
}
} // namespace

QString TestWorld::installHelper(const QString &builtName, const QString &asName) const
{
    return copyExecutable(builtProgramFolder() + u'/' + builtName,
                          programFolder() + u'/' + (asName.isEmpty() ? builtName : asName));
}

QString TestWorld::installTestTool(const QString &builtName, const QString &asName) const
{
    return copyExecutable(builtTestToolFolder() + u'/' + builtName, programFolder() + u'/' + asName);
}

bool TestWorld::startProgram(QProcess &process, const QStringList &arguments, const QString &workingFolder) const
{
    const QString program = installHelper(QStringLiteral("Zelv32"));
    if (program.isEmpty())
        return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    if (!workingFolder.isEmpty())
        process.setWorkingDirectory(workingFolder);
    process.start(program, arguments);
    return process.waitForStarted();
}

QString TestWorld::builtProgramFolder() { return QStringLiteral(ZELV_BUILT_PROGRAM_DIR); }

QString TestWorld::builtTestToolFolder() { return QStringLiteral(ZELV_BUILT_TEST_TOOL_DIR); }

QByteArray dynamicSection(const QString &builtName)
{
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"),
                  {QStringLiteral("-d"), TestWorld::builtProgramFolder() + u'/' + builtName});
    if (!readelf.waitForFinished() || readelf.exitStatus() != QProcess::NormalExit || readelf.exitCode() != 0)
        return QByteArray();
    return readelf.readAllStandardOutput();
}

QStringList entriesBelow(const QString &folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    const QDir base(folder);
    while (it.hasNext())
        out << base.relativeFilePath(it.next());
    out.sort();
    return out;
}

} // namespace zelv::test
