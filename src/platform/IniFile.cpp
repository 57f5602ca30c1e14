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

// One line of the file: its bytes are [start, end), its break [end, next).
struct Line {
    qsizetype start = -1;
    qsizetype end = -1;
    qsizetype next = -1;
    bool valid() const { return start >= 0; }
};

// The file as bytes. A call decodes only the lines it has to look at (section headers and
// the keys of its section), all with one stateless decoder, so a large file costs one pass
// over its bytes; a write changes only the bytes of the line it is about.
struct RawFile {
    bool exists = false;
    bool utf8 = false; // a UTF-8 file marked by its byte order mark
    QByteArray data; // the whole file, the byte order mark included
    qsizetype body = 0; // where the first line starts
    mutable QStringDecoder decoder { kCodePage, QStringDecoder::Flag::Stateless };

    QString decode(const Line &line) const
    {
        const QByteArrayView bytes(data.constData() + line.start, line.end - line.start);
        if (utf8)
            return QString::fromUtf8(bytes);
        return decoder.decode(bytes);
    }
    QByteArray encode(const QString &line) const
    {
        if (utf8)
            return line.toUtf8();
        QStringEncoder encoder(kCodePage);
        return encoder(line);
    }
    QByteArray join() const { return data; }

    // The line from `from` on; invalid at the end of the file.
    Line lineAt(qsizetype from) const
    {
        Line line;
        if (from >= data.size())
            return line;
        const qsizetype newline = data.indexOf('\n', from);
        line.start = from;
        line.end = newline < 0 ? data.size() : newline;
        if (newline >= 0 && line.end > from && data.at(line.end - 1) == '\r')
            --line.end;
        line.next = newline < 0 ? data.size() : newline + 1;
        return line;
    }
    void replace(const Line &line, const QString &text)
    {
        data.replace(line.start, line.end - line.start, encode(text));
    }
    // After `line`, which gets a break if it ended the file without one.
    void insertAfter(const Line &line, const QString &text)
    {
        const QByteArray bytes = encode(text) + "\r\n";
        if (line.next == line.end)
            data.insert(line.end, "\r\n" + bytes);
        else
            data.insert(line.next, bytes);
    }
    void append(const QString &text)
    {
        if (data.size() > body && !data.endsWith('\n'))
            data += "\r\n";
        data += encode(text) + "\r\n";
    }
};

RawFile readFile(const QString &path)
{
    RawFile raw;
    QFile file(path);
    raw.exists = file.open(QIODevice::ReadOnly);
    if (!raw.exists)
        return raw;
    raw.data = file.readAll();
    if (raw.data.startsWith(kUtf8Bom)) {
        raw.utf8 = true;
        raw.body = kUtf8Bom.size();
    }
    return raw;
}

inline bool isBlankByte(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// What a line's bytes tell without decoding: its first byte that is no ASCII blank, or -1
// when it holds nothing else. A byte above ASCII may begin a blank of the code page (an
// ideographic space): such a line is decoded to decide.
int firstByte(const RawFile &raw, const Line &line)
{
    for (qsizetype i = line.start; i < line.end; ++i) {
        const char c = raw.data.at(i);
        if (!isBlankByte(c))
            return static_cast<unsigned char>(c);
    }
    return -1;
}

bool isAscii(int byte)
{
    return byte < 0x80;
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

// Whether the line names `key`, looking at its bytes where they are plain ASCII.
bool lineHasKey(const RawFile &raw, const Line &line, int first, const QString &key)
{
    if (first == ';' || first == '[')
        return false;
    const qsizetype eq = raw.data.indexOf('=', line.start);
    if (eq < 0 || eq >= line.end)
        return false;
    qsizetype from = line.start, to = eq;
    bool ascii = true;
    for (qsizetype i = from; i < to && ascii; ++i)
        ascii = !(raw.data.at(i) & 0x80);
    if (!ascii)
        return isKeyLine(raw.decode(line), key);
    while (from < to && isBlankByte(raw.data.at(from)))
        ++from;
    while (to > from && isBlankByte(raw.data.at(to - 1)))
        --to;
    return QLatin1String(raw.data.constData() + from, to - from).compare(key, Qt::CaseInsensitive) == 0;
}

struct Location {
    Line section; // the header line
    Line key; // the key's line
    QString keyText; // the key's line, decoded
    Line lastEntry; // last non-blank line of the section
};

Location locate(const RawFile &raw, const QString &section, const QString &key)
{
    Location at;
    bool inside = false;
    for (Line line = raw.lineAt(raw.body); line.valid(); line = raw.lineAt(line.next)) {
        const int first = firstByte(raw, line);
        QString decoded;
        bool header = first == '[';
        if (!isAscii(first)) {
            decoded = raw.decode(line);
            header = !sectionName(decoded).isNull();
        }
        if (header) {
            if (inside)
                break;
            if (decoded.isNull())
                decoded = raw.decode(line);
            inside = sectionName(decoded).compare(section, Qt::CaseInsensitive) == 0;
            if (inside) {
                at.section = line;
                at.lastEntry = line;
            }
            continue;
        }
        if (!inside)
            continue;
        if (decoded.isNull() ? first >= 0 : !decoded.trimmed().isEmpty())
            at.lastEntry = line;
        if (!at.key.valid() && (!decoded.isNull() ? isKeyLine(decoded, key) : lineHasKey(raw, line, first, key))) {
            at.key = line;
            at.keyText = decoded.isNull() ? raw.decode(line) : decoded;
        }
    }
    return at;
}

// Whether the file's last line holds anything but blanks.
bool endsWithEntry(const RawFile &raw)
{
    if (raw.data.size() <= raw.body)
        return false;
    qsizetype before = raw.data.size() - 1;
    if (raw.data.endsWith('\n'))
        --before; // the break of the last line itself
    const qsizetype newline = before >= raw.body ? raw.data.lastIndexOf('\n', before) : -1;
    const Line last = raw.lineAt(std::max(raw.body, newline + 1));
    const int first = firstByte(raw, last);
    return isAscii(first) ? first >= 0 : !raw.decode(last).trimmed().isEmpty();
}

} // namespace

IniFile IniFile::settingsOf(const QString &programFolder)
{
    return IniFile(ProgramFolder::resolve(programFolder, QStringLiteral("myini.ini")));
}

QString IniFile::read(const QString &section, const QString &key, const QString &defaultValue) const
{
    const RawFile raw = readFile(m_path);
    const Location at = locate(raw, section, key);
    if (!at.key.valid())
        return defaultValue.left(kMaxValueLength);
    QString value;
    isKeyLine(at.keyText, key, &value);
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

    const Location at = locate(raw, section, key);
    if (at.key.valid()) {
        const QString &old = at.keyText;
        raw.replace(at.key, old.left(old.indexOf(QLatin1Char('='))).trimmed() + QLatin1Char('=') + flat);
    } else if (at.section.valid()) {
        raw.insertAfter(at.lastEntry, key + QLatin1Char('=') + flat);
    } else {
        if (endsWithEntry(raw))
            raw.append(QString());
        raw.append(QLatin1Char('[') + section + QLatin1Char(']'));
        raw.append(key + QLatin1Char('=') + flat);
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
