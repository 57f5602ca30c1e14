#include "ArchivalCode.h"

#include "IniFile.h"

#include <QSet>
#include <QStringDecoder>

#include <atomic>

namespace dagl {

namespace {

// In the order offices list them, longest kept first.
const char *const kRetentionEntries[][2] = {
    { "永久", "Y" },
    { "长期", "C" },
    { "30年", "D30" },
    { "短期", "D" },
    { "10年", "D10" },
};

const QString kCategoryKey = QStringLiteral("mldm");
const QString kDigitsKey = QStringLiteral("jhws");
const QString kClassKey = QStringLiteral("jgwt");
const QString kClassSegmentKey = QStringLiteral("jgdh");

const QChar kDash = QLatin1Char('-');
const QChar kDot = QChar(0x00B7);

std::atomic<int> g_generation { 0 };

QHash<QString, QString> parseClassCodes(const QString &text)
{
    QHash<QString, QString> codes;
    for (const QString &entry : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int eq = entry.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString name = entry.left(eq).trimmed();
        const QString code = entry.mid(eq + 1).trimmed();
        if (!name.isEmpty() && !code.isEmpty())
            codes.insert(name, code);
    }
    return codes;
}

QString joinClassCodes(const QHash<QString, QString> &codes)
{
    QStringList names = codes.keys();
    names.sort();
    QStringList entries;
    for (const QString &name : names)
        entries << name + QLatin1Char('=') + codes.value(name);
    return entries.join(QLatin1Char(';'));
}

// The first level of GB 2312 is in pinyin order: the code where each initial's characters
// begin (no word begins with I, U or V).
struct InitialStart {
    int code;
    char initial;
};
const InitialStart kInitials[] = {
    { 0xB0A1, 'A' },
    { 0xB0C5, 'B' },
    { 0xB2C1, 'C' },
    { 0xB4EE, 'D' },
    { 0xB6EA, 'E' },
    { 0xB7A2, 'F' },
    { 0xB8C1, 'G' },
    { 0xB9FE, 'H' },
    { 0xBBF7, 'J' },
    { 0xBFA6, 'K' },
    { 0xC0AC, 'L' },
    { 0xC2E8, 'M' },
    { 0xC4C3, 'N' },
    { 0xC5B6, 'O' },
    { 0xC5BE, 'P' },
    { 0xC6DA, 'Q' },
    { 0xC8BB, 'R' },
    { 0xC8F6, 'S' },
    { 0xCBFA, 'T' },
    { 0xCDDA, 'W' },
    { 0xCEF4, 'X' },
    { 0xD1B9, 'Y' },
    { 0xD4D1, 'Z' },
};
constexpr int kFirstLevelEnd = 0xD7FA;

const QHash<char16_t, char> &pinyinInitials()
{
    static const QHash<char16_t, char> table = [] {
        QHash<char16_t, char> initials;
        QStringDecoder decoder("GBK");
        if (!decoder.isValid())
            return initials;
        int at = 0;
        for (int code = kInitials[0].code; code < kFirstLevelEnd; ++code) {
            const int trail = code & 0xFF;
            if (trail < 0xA1 || trail > 0xFE)
                continue;
            while (at + 1 < int(std::size(kInitials)) && code >= kInitials[at + 1].code)
                ++at;
            const char bytes[] = { char(code >> 8), char(trail) };
            const QString decoded = decoder(QByteArrayView(bytes, 2));
            if (decoded.size() == 1 && decoded.at(0) != QChar::ReplacementCharacter)
                initials.insert(decoded.at(0).unicode(), kInitials[at].initial);
        }
        return initials;
    }();
    return table;
}

} // namespace

QHash<QString, QString> ArchivalCodeSettings::defaultRetentionCodes()
{
    QHash<QString, QString> codes;
    for (const auto &entry : kRetentionEntries)
        codes.insert(QString::fromUtf8(entry[0]), QString::fromLatin1(entry[1]));
    return codes;
}

const QStringList &ArchivalCodeSettings::retentionPeriods()
{
    static const QStringList periods = [] {
        QStringList list;
        for (const auto &entry : kRetentionEntries)
            list << QString::fromUtf8(entry[0]);
        return list;
    }();
    return periods;
}

int ArchivalCodeSettings::retentionRank(const QString &period)
{
    const int at = int(retentionPeriods().indexOf(period.trimmed()));
    return at < 0 ? int(retentionPeriods().size()) : at;
}

QString ArchivalCodeSettings::derivedClassCode(const QString &jgwt)
{
    const QHash<char16_t, char> &initials = pinyinInitials();
    QString code;
    // NFKC: full-width letters and digits as plain ones.
    for (QChar c : jgwt.normalized(QString::NormalizationForm_KC)) {
        if (c.unicode() < 0x80) {
            if (c.isLetterOrNumber())
                code += c.toUpper();
            continue;
        }
        const auto found = initials.constFind(c.unicode());
        if (found != initials.constEnd())
            code += QLatin1Char(found.value());
    }
    return code.isEmpty() ? QStringLiteral("JG") : code;
}

QString ArchivalCodeSettings::classCode(const QString &jgwt) const
{
    const QString name = jgwt.trimmed();
    const auto set = classCodes.constFind(name);
    return set != classCodes.constEnd() ? set.value() : derivedClassCode(name);
}

QHash<QString, QString> ArchivalCodeSettings::codesFor(const QStringList &names) const
{
    QHash<QString, QString> codes;
    QSet<QString> used;
    // Codes set by the office stand; derived ones give way to them and to each other.
    for (const QString &name : names) {
        if (classCodes.contains(name))
            used.insert(classCodes.value(name));
    }
    for (const QString &name : names) {
        QString code = classCodes.value(name);
        if (code.isEmpty()) {
            const QString base = derivedClassCode(name);
            code = base;
            for (int n = 2; used.contains(code); ++n)
                code = base + QString::number(n);
        }
        used.insert(code);
        codes.insert(name, code);
    }
    return codes;
}

QString ArchivalCodeSettings::codeProblem(const QString &what, const QString &code)
{
    const QString t = code.trimmed();
    if (t.isEmpty())
        return QStringLiteral("%1的代码不能为空。").arg(what);
    for (QChar c : t) {
        if (c == kDash || c == kDot || c == QChar(0x30FB) || c.isSpace() || c == QLatin1Char('=')
            || c == QLatin1Char(';'))
            return QStringLiteral("%1的代码“%2”不能含有“-”、“·”、“=”、“;”或空格。").arg(what, t);
    }
    return {};
}

ArchivalCodeSettings ArchivalCodeSettings::load(const IniFile &settings)
{
    ArchivalCodeSettings s;
    const QString category = settings.read(kSection, kCategoryKey, s.categoryCode).trimmed();
    if (!category.isEmpty())
        s.categoryCode = category;
    bool ok = false;
    const int digits = settings.read(kSection, kDigitsKey).trimmed().toInt(&ok);
    if (ok && digits >= 1 && digits <= 9)
        s.itemDigits = digits;
    for (const auto &entry : kRetentionEntries) {
        const QString name = QString::fromUtf8(entry[0]);
        const QString code = settings.read(kSection, name).trimmed();
        if (!code.isEmpty())
            s.retentionCodes.insert(name, code);
    }
    s.classCodes = parseClassCodes(settings.read(kSection, kClassKey));
    s.classSegment = settings.read(kSection, kClassSegmentKey, QStringLiteral("1")).trimmed() != QLatin1String("0");
    return s;
}

void ArchivalCodeSettings::save(const IniFile &settings) const
{
    settings.write(kSection, kCategoryKey, categoryCode);
    settings.write(kSection, kDigitsKey, QString::number(itemDigits));
    for (const auto &entry : kRetentionEntries) {
        const QString name = QString::fromUtf8(entry[0]);
        settings.write(kSection, name, retentionCodes.value(name));
    }
    settings.write(kSection, kClassKey, joinClassCodes(classCodes));
    settings.write(kSection, kClassSegmentKey, classSegment ? QStringLiteral("1") : QStringLiteral("0"));
    ++g_generation;
}

int ArchivalCodeSettings::generation()
{
    return g_generation.load();
}

const QStringList &RecordNumber::columns()
{
    static const QStringList names = {
        QStringLiteral("QZH"),
        QStringLiteral("GDND"),
        QStringLiteral("BGQX"),
        QStringLiteral("JGWT"),
        QStringLiteral("HH"),
        QStringLiteral("JH"),
        QStringLiteral("MLH"),
        QStringLiteral("AJH"),
        QStringLiteral("SXH"),
    };
    return names;
}

namespace ArchivalCode {

QString plainDigits(const QString &text)
{
    QString plain = text;
    for (QChar &c : plain) {
        if (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF19)
            c = QChar(char16_t(u'0' + (c.unicode() - 0xFF10)));
    }
    return plain;
}

bool allDigits(const QString &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
}

QString numberKey(const QString &text)
{
    const QString t = plainDigits(text.trimmed());
    if (!allDigits(t))
        return text.trimmed();
    int first = 0;
    while (first < t.size() - 1 && t.at(first) == QLatin1Char('0'))
        ++first;
    return t.mid(first);
}

QString paddedItem(const QString &jh, int digits)
{
    const QString key = numberKey(jh);
    if (!allDigits(key))
        return key;
    return key.rightJustified(digits, QLatin1Char('0'));
}

namespace {

// The parts of the code, the last number last; empty parts are left out when joined.
QStringList parts(const RecordNumber &n, const ArchivalCodeSettings &settings, bool byItem)
{
    if (byItem) {
        const QString year = numberKey(n.gdnd);
        const QString retention = settings.retentionCodes.value(n.bgqx, n.bgqx);
        const QString unit = settings.classSegment && !n.jgwt.isEmpty() ? settings.classCode(n.jgwt) : QString();
        return { n.qzh, settings.categoryCode + (year.isEmpty() ? QString() : kDot + year), retention, unit,
            paddedItem(n.jh, settings.itemDigits) };
    }
    return { n.qzh, numberKey(n.mlh), numberKey(n.ajh), numberKey(n.sxh) };
}

QString joined(QStringList parts)
{
    parts.removeAll(QString());
    return parts.join(kDash);
}

} // namespace

QString compose(const RecordNumber &n, const ArchivalCodeSettings &settings, bool byItem)
{
    return joined(parts(n, settings, byItem));
}

QString compose(const RecordNumber &n, const ArchivalCodeSettings &settings)
{
    if (n.byItem())
        return compose(n, settings, true);
    if (n.byVolume())
        return compose(n, settings, false);
    return {};
}

QString series(const RecordNumber &n, const ArchivalCodeSettings &settings, bool byItem)
{
    QStringList all = parts(n, settings, byItem);
    all.removeLast();
    return joined(all);
}

} // namespace ArchivalCode
} // namespace dagl
