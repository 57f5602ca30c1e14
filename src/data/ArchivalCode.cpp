#include "ArchivalCode.h"

#include "IniFile.h"

namespace dagl {

namespace {

const char *const kRetentionEntries[][2] = {
    {"永久", "Y"}, {"长期", "C"}, {"短期", "D"}, {"30年", "D30"}, {"10年", "D10"},
};

const QString kCategoryKey = QStringLiteral("mldm");
const QString kDigitsKey = QStringLiteral("jhws");
const QString kClassKey = QStringLiteral("jgwt");

bool allDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

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

} // namespace

QHash<QString, QString> ArchivalCodeSettings::defaultRetentionCodes()
{
    QHash<QString, QString> codes;
    for (const auto &entry : kRetentionEntries)
        codes.insert(QString::fromUtf8(entry[0]), QString::fromLatin1(entry[1]));
    return codes;
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
}

const QStringList &RecordNumber::columns()
{
    static const QStringList names = {
        QStringLiteral("QZH"), QStringLiteral("GDND"), QStringLiteral("BGQX"), QStringLiteral("JGWT"),
        QStringLiteral("HH"), QStringLiteral("JH"), QStringLiteral("MLH"), QStringLiteral("AJH"),
        QStringLiteral("SXH"),
    };
    return names;
}

namespace ArchivalCode {

QString numberKey(const QString &text)
{
    const QString t = text.trimmed();
    if (!allDigits(t))
        return t;
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

QString compose(const RecordNumber &n, const ArchivalCodeSettings &settings)
{
    const QChar dash = QLatin1Char('-');
    if (n.byItem()) {
        QString code = n.qzh + dash + settings.categoryCode + QChar(0x00B7) + n.gdnd + dash
            + settings.retentionCodes.value(n.bgqx, n.bgqx);
        if (!settings.classCodes.isEmpty())
            code += dash + settings.classCodes.value(n.jgwt, n.jgwt);
        return code + dash + paddedItem(n.jh, settings.itemDigits);
    }
    if (n.byVolume())
        return QStringList{n.qzh, n.mlh, n.ajh, n.sxh}.join(dash);
    return {};
}

} // namespace ArchivalCode
} // namespace dagl
