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

} // namespace dagl
