#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace dagl {

class IniFile;

// How this office composes the archival code (档号) of a record. Kept per installation in
// myini.ini, section `dh`:
//   mldm  门类代码 (category code)                default "WS"
//   jhws  件号位数 (digits of the item number)     default 4
//   永久, 长期, 短期, 30年, 10年  the retention codes   defaults Y, C, D, D30, D10
//   jgwt  机构问题 codes, "办公室=BGS;财务科=CWK"       default none (no segment)
struct ArchivalCodeSettings {
    static inline const QString kSection = QStringLiteral("dh");

    QString categoryCode = QStringLiteral("WS");
    int itemDigits = 4;
    QHash<QString, QString> retentionCodes = defaultRetentionCodes();
    QHash<QString, QString> classCodes;

    static QHash<QString, QString> defaultRetentionCodes();
    // Missing or unreadable values keep their defaults.
    static ArchivalCodeSettings load(const IniFile &settings);
    // Throws dagl::Error when the file refuses.
    void save(const IniFile &settings) const;
};

// The numbering columns of one catalogue record, trimmed texts.
struct RecordNumber {
    QString qzh, gdnd, bgqx, jgwt, hh, jh;   // by item (standard from 2000)
    QString mlh, ajh, sxh;                   // by volume (standard before 2000)

    // The catalogue columns behind the fields above, in that order.
    static const QStringList &columns();
    // `valueOf` gives the text of a column named as in columns().
    template<typename Lookup>
    static RecordNumber from(Lookup valueOf)
    {
        RecordNumber n;
        QString *fields[] = {&n.qzh, &n.gdnd, &n.bgqx, &n.jgwt, &n.hh, &n.jh, &n.mlh, &n.ajh, &n.sxh};
        for (int i = 0; i < columns().size(); ++i)
            *fields[i] = QString(valueOf(columns().at(i))).trimmed();
        return n;
    }

    // Numbered by item when a box or item number is filled, by volume when a catalogue,
    // volume or sequence number is; neither for a record without numbers.
    bool byItem() const { return !hh.isEmpty() || !jh.isEmpty(); }
    bool byVolume() const { return !byItem() && (!mlh.isEmpty() || !ajh.isEmpty() || !sxh.isEmpty()); }
};

namespace ArchivalCode {

// The title of a column showing it.
inline const QString kTitle = QStringLiteral("档号");

// The number an office reads in a numbering field: digits without their leading zeros
// ("0009" and "9" are the same item), any other text as it stands.
QString numberKey(const QString &text);

// The item number written at the configured width ("9" -> "0009"); text that is not a
// number stays as it is, and a longer number is never cut.
QString paddedItem(const QString &jh, int digits);

// The archival code: by item 全宗号-门类代码·年度-保管期限代码[-机构问题代码]-件号
// ("0001-WS·2024-Y-0009"), by volume 全宗号-目录号-案卷号-顺序号; empty without numbers.
// A retention period without a code and a class without one are written as they stand,
// except that classes are left out entirely when no class codes are configured.
QString compose(const RecordNumber &number, const ArchivalCodeSettings &settings);

} // namespace ArchivalCode
} // namespace dagl
