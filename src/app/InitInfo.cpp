#include "InitInfo.h"

#include "Error.h"
#include "IniFile.h"
#include "ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>

namespace dagl {

QString InitInfo::value(const QString &name) const
{
    for (const auto &pair : m_pairs) {
        if (pair.first == name)
            return pair.second;
    }
    return {};
}

void InitInfo::add(const QString &name, const QString &value)
{
    if (!value.isEmpty())
        m_pairs.push_back({name, value});
}

bool CheckInitDir(const QString &programFolder)
{
    const QString folder = ProgramFolder::resolve(programFolder, QStringLiteral("InitDir/"));
    if (!QFileInfo(folder).isDir())
        QDir().mkdir(folder); // a failure shows later as a file that cannot be created
    const QString ini = ProgramFolder::resolve(programFolder, QStringLiteral("InitDir/Init.ini"));
    if (QFileInfo::exists(ini))
        return true;
    QFile file(ini);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    file.close();
    return true;
}

void ReadInitInfo(const QString &programFolder, InitInfo &info)
{
    info.clear();
    const IniFile ini(ProgramFolder::resolve(programFolder, QStringLiteral("InitDir/Init.ini")));
    for (const char *key : {"SoftName", "Ver", "CompanyName", "Tel", "QQ", "Addr", "Web"}) {
        const QString name = QString::fromLatin1(key);
        info.add(name, ini.read(QStringLiteral("InitParams"), name, QString()));
    }
    for (const char *picture : {"Start", "Main", "About"}) {
        for (const char *suffix : {"", "Bak", "Ini"}) {
            const QString path = ProgramFolder::resolve(
                programFolder, QStringLiteral("InitDir/%1%2.bmp").arg(QLatin1String(picture), QLatin1String(suffix)));
            if (QFileInfo(path).isFile()) {
                info.add(QString::fromLatin1(picture), path);
                break;
            }
        }
    }
}

QByteArray DefaultInitIni(const QString &version)
{
    const QString text = QStringLiteral("[InitParams]\r\n"
                                        "SoftName=档案管理系统\r\n"
                                        "Ver=V%1\r\n"
                                        "CompanyName=青穗软件\r\n"
                                        "Tel=\r\n"
                                        "QQ=\r\n"
                                        "Addr=\r\n"
                                        "Web=\r\n")
                             .arg(version);
    return QStringEncoder("GBK")(text);
}

InitIniSetup SetUpInitIni(const QString &programFolder, const QString &version, QString *error)
{
    const QString ini = ProgramFolder::resolve(programFolder, QStringLiteral("InitDir/Init.ini"));
    if (QFileInfo::exists(ini))
        return InitIniSetup::Kept;
    QFile file(ini);
    try {
        ProgramFolder::ensureFolder(programFolder, QStringLiteral("InitDir"));
        const QByteArray bytes = DefaultInitIni(version);
        // NewOnly: a file that appeared meanwhile is not replaced either.
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.write(bytes) == bytes.size() && file.flush()) {
            return InitIniSetup::Written;
        }
    } catch (const Error &failure) {
        if (error)
            *error = failure.message();
        return InitIniSetup::Failed;
    }
    if (error)
        *error = file.errorString();
    if (file.isOpen()) {
        file.close();
        file.remove(); // no half-written branding
    }
    return InitIniSetup::Failed;
}

} // namespace dagl
