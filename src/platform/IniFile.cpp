#include "IniFile.h"

#include "CheckedSaveFile.h"
#include "Error.h"
#include "ProgramFolder.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>
#include <QVector>

namespace dagl {

namespace {

const char *const kCodePage = "GBK";
const QByteArray kUtf8Bom("\xEF\xBB\xBF");

// The file as raw lines: each line's own bytes and its line break are kept so that a
// write changes only the line it is about. Lines are decoded one by one for matching.
struct RawFile {
    bool exists = false;
    bool utf8 = false; // a UTF-8 file marked by its byte order mark
    QByteArray prefix; // the byte order mark, when there is one
    QVector<QByteArray> bytes; // each line without its break
    QVector<QByteArray> breaks; // "\r\n", "\n" or nothing (the last line)
    QStringList lines; // decoded

    QString decode(const QByteArray &line) const
    {
        if (utf8)
            return QString::fromUtf8(line);
        QStringDecoder decoder(kCodePage);
        return decoder(line);
    }
    QByteArray encode(const QString &line) const
    {
        if (utf8)
            return line.toUtf8();
        QStringEncoder encoder(kCodePage);
        return encoder(line);
    }
    QByteArray join() const
    {
        QByteArray all = prefix;
        for (int i = 0; i < bytes.size(); ++i)
            all += bytes[i] + breaks[i];
        return all;
    }
    void insert(int at, const QString &line)
    {
        // The line before gets a break if it ended the file without one.
        if (at > 0 && breaks[at - 1].isEmpty())
            breaks[at - 1] = "\r\n";
        bytes.insert(at, encode(line));
        breaks.insert(at, "\r\n");
        lines.insert(at, line);
    }
};

RawFile readFile(const QString &path)
{
    RawFile raw;
    QFile file(path);
    raw.exists = file.open(QIODevice::ReadOnly);
    if (!raw.exists)
        return raw;
    QByteArray all = file.readAll();
    if (all.startsWith(kUtf8Bom)) {
        raw.utf8 = true;
        raw.prefix = kUtf8Bom;
        all.remove(0, kUtf8Bom.size());
    }
    qsizetype from = 0;
    while (from < all.size()) {
        const qsizetype newline = all.indexOf('\n', from);
        const qsizetype end = newline < 0 ? all.size() : newline;
        qsizetype contentEnd = end;
        if (newline >= 0 && contentEnd > from && all.at(contentEnd - 1) == '\r')
            --contentEnd;
        raw.bytes.push_back(all.mid(from, contentEnd - from));
        raw.breaks.push_back(newline < 0 ? QByteArray() : all.mid(contentEnd, newline + 1 - contentEnd));
        raw.lines.push_back(raw.decode(raw.bytes.last()));
        from = newline < 0 ? all.size() : newline + 1;
    }
    return raw;
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

struct Location {
    int sectionLine = -1; // index of the header line
    int keyLine = -1; // index of the key's line
    int lastEntry = -1; // last non-blank line of the section
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
    const RawFile raw = readFile(m_path);
    const Location at = locate(raw.lines, section, key);
    if (at.keyLine < 0)
        return defaultValue.left(kMaxValueLength);
    QString value;
    isKeyLine(raw.lines[at.keyLine], key, &value);
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
    RawFile raw = readFile(m_path);
    // A line break would end the value early and turn the rest into a line of its own.
    QString flat = value;
    flat.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));

    const Location at = locate(raw.lines, section, key);
    if (at.keyLine >= 0) {
        const QString &old = raw.lines[at.keyLine];
        const QString line = old.left(old.indexOf(QLatin1Char('='))).trimmed() + QLatin1Char('=') + flat;
        raw.bytes[at.keyLine] = raw.encode(line);
        raw.lines[at.keyLine] = line;
    } else if (at.sectionLine >= 0) {
        raw.insert(at.lastEntry + 1, key + QLatin1Char('=') + flat);
    } else {
        if (!raw.lines.isEmpty() && !raw.lines.last().trimmed().isEmpty())
            raw.insert(int(raw.lines.size()), QString());
        raw.insert(int(raw.lines.size()), QLatin1Char('[') + section + QLatin1Char(']'));
        raw.insert(int(raw.lines.size()), key + QLatin1Char('=') + flat);
    }

    const QByteArray bytes = raw.join();
    const QString refused = QStringLiteral("Unable to write to %1").arg(m_path);
    CheckedSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(withCause(refused, file.failure()), file.failure(), file.errorString());
    file.write(bytes);
    try {
        file.commitChecked(bytes.size());
    } catch (const Error &error) {
        throw Error(withCause(refused, error.cause()), error.cause(), error.detail());
    }
}

} // namespace dagl
