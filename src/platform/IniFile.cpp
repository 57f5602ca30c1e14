#include "IniFile.h"

#include "Error.h"
#include "ProgramFolder.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

namespace dagl {

namespace {

const char *const kCodePage = "GBK";

QStringList readLines(const QString &path, bool *exists)
{
    QFile file(path);
    *exists = file.open(QIODevice::ReadOnly);
    if (!*exists)
        return {};
    QStringDecoder decode(kCodePage);
    const QString text = decode(file.readAll());
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The name of a section header line, or a null string when the line is no header.
QString sectionName(const QString &line)
{
    const QString trimmed = line.trimmed();
    if (!trimmed.startsWith(QLatin1Char('[')))
        return {};
    const int close = trimmed.indexOf(QLatin1Char(']'));
    return close < 0 ? trimmed.mid(1).trimmed() : trimmed.mid(1, close - 1).trimmed();
}

bool isKeyLine(const QString &line, const QString &key, QString *value = nullptr)
{
    const int eq = line.indexOf(QLatin1Char('='));
    if (eq < 0 || line.trimmed().startsWith(QLatin1Char(';')))
        return false;
    if (line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) != 0)
        return false;
    if (value)
        *value = line.mid(eq + 1).trimmed();
    return true;
}

struct Location
{
    int sectionLine = -1; // index of the header line
    int keyLine = -1;     // index of the key's line
    int lastEntry = -1;   // last non-blank line of the section
};

Location locate(const QStringList &lines, const QString &section, const QString &key)
{
    Location at;
    bool inside = false;
    for (int i = 0; i < lines.size(); ++i) {
        const QString name = sectionName(lines[i]);
        if (!name.isNull()) {
            if (inside)
                break;
            inside = name.compare(section, Qt::CaseInsensitive) == 0;
            if (inside) {
                at.sectionLine = i;
                at.lastEntry = i;
            }
            continue;
        }
        if (!inside)
            continue;
        if (!lines[i].trimmed().isEmpty())
            at.lastEntry = i;
        if (at.keyLine < 0 && isKeyLine(lines[i], key))
            at.keyLine = i;
    }
    return at;
}

} // namespace

IniFile IniFile::settingsOf(const QString &programFolder)
{
    return IniFile(ProgramFolder::resolve(programFolder, QStringLiteral("myini.ini")));
}

QString IniFile::read(const QString &section, const QString &key, const QString &defaultValue) const
{
    bool exists = false;
    const QStringList lines = readLines(m_path, &exists);
    const Location at = locate(lines, section, key);
    if (at.keyLine < 0)
        return defaultValue.left(kMaxValueLength);
    QString value;
    isKeyLine(lines[at.keyLine], key, &value);
    // The profile functions drop one pair of quotes around a value.
    if (value.size() >= 2
        && ((value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            || (value.startsWith(QLatin1Char('\'')) && value.endsWith(QLatin1Char('\''))))) {
        value = value.mid(1, value.size() - 2);
    }
    return value.left(kMaxValueLength);
}

void IniFile::write(const QString &section, const QString &key, const QString &value) const
{
    bool exists = false;
    QStringList lines = readLines(m_path, &exists);
    // A line break would end the value early and turn the rest into a line of its own.
    QString flat = value;
    flat.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));

    const Location at = locate(lines, section, key);
    if (at.keyLine >= 0) {
        const QString &old = lines[at.keyLine];
        lines[at.keyLine] = old.left(old.indexOf(QLatin1Char('='))).trimmed() + QLatin1Char('=') + flat;
    } else if (at.sectionLine >= 0) {
        lines.insert(at.lastEntry + 1, key + QLatin1Char('=') + flat);
    } else {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QString());
        lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        lines.append(key + QLatin1Char('=') + flat);
    }

    QStringEncoder encode(kCodePage);
    const QByteArray bytes = encode(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw Error(QStringLiteral("Unable to write to %1").arg(m_path));
}

} // namespace dagl
