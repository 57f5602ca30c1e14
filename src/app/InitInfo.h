#pragma once

#include <QPair>
#include <QString>
#include <QVector>

namespace dagl {

// The branding of this installation: the texts of InitDir/Init.ini and the paths of the
// branding pictures, read once at start-up. A name not stored reads as the empty text.
class InitInfo
{
public:
    QString value(const QString &name) const;
    void clear() { m_pairs.clear(); }
    // Stores a pair; a pair with an empty value is not stored.
    void add(const QString &name, const QString &value);
    int size() const { return int(m_pairs.size()); }

private:
    QVector<QPair<QString, QString>> m_pairs;
};

// Makes sure InitDir and an (empty) InitDir/Init.ini exist in the program folder. Returns
// false when the file could not be created; nothing is shown.
bool CheckInitDir(const QString &programFolder);

// Empties `info` and fills it with the seven branding texts and the three picture paths.
void ReadInitInfo(const QString &programFolder, InitInfo &info);

// The branding a new installation starts with, for the set-up to write (the program never
// writes Init.ini): [InitParams] with the program's name, the version given, the maker, and
// the contact keys left empty for the office to fill in. GBK.
QByteArray DefaultInitIni(const QString &version);

enum class InitIniSetup { Written, Kept, Failed };
// Writes DefaultInitIni as InitDir/Init.ini of the program folder (making InitDir) when
// there is no Init.ini yet; an existing one, even an empty one, is kept as it is.
InitIniSetup SetUpInitIni(const QString &programFolder, const QString &version, QString *error = nullptr);

} // namespace dagl
