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
//   jgwt  机构问题 codes, "办公室=BGS;财务科=CWK"; a 机构 without one gets the initials of
//         its name (办公室 -> BGS)
//   jgdh  "1" when the 机构 is part of the code (the default), "0" when items are numbered
//         through the year and retention period across 机构
struct ArchivalCodeSettings {
    static inline const QString kSection = QStringLiteral("dh");

    QString categoryCode = QStringLiteral("WS");
    int itemDigits = 4;
    QHash<QString, QString> retentionCodes = defaultRetentionCodes();
    QHash<QString, QString> classCodes;
    bool classSegment = true;

    static QHash<QString, QString> defaultRetentionCodes();
    // The retention periods in the order an office lists them: 永久, 长期, 30年, 短期, 10年.
    static const QStringList &retentionPeriods();
    // Where a retention period stands in that order; one past the end for any other text.
    static int retentionRank(const QString &period);

    // The code of a 机构: the one set for it, else the initials of its name.
    QString classCode(const QString &jgwt) const;
    // The initials of a 机构's name: the pinyin initial of each common Chinese character,
    // letters and digits as they are (in capitals), "JG" when nothing is left.
    static QString derivedClassCode(const QString &jgwt);
    // Codes for the 机构 `names`: each one's set code, else its initials, made distinct from
    // the codes before it by a number ("BGS", "BGS2").
    QHash<QString, QString> codesFor(const QStringList &names) const;

    // What is wrong with a code typed for `what` (a caption), empty when it may be used: a
    // code is not empty and holds no separator of the archival code nor a blank.
    static QString codeProblem(const QString &what, const QString &code);

    // Missing or unreadable values keep their defaults.
    static ArchivalCodeSettings load(const IniFile &settings);
    // Throws dagl::Error when the file refuses.
    void save(const IniFile &settings) const;
    // Counts the saves of this run: a code composed with settings loaded before another save
    // is out of date.
    static int generation();
};

// The numbering columns of one catalogue record, trimmed texts.
struct RecordNumber {
    QString qzh, gdnd, bgqx, jgwt, hh, jh; // by item (standard from 2000)
    QString mlh, ajh, sxh; // by volume (standard before 2000)

    // The catalogue columns behind the fields above, in that order.
    static const QStringList &columns();
    // `valueOf` gives the text of a column named as in columns().
    template <typename Lookup> static RecordNumber from(Lookup valueOf)
    {
        RecordNumber n;
        QString *fields[] = { &n.qzh, &n.gdnd, &n.bgqx, &n.jgwt, &n.hh, &n.jh, &n.mlh, &n.ajh, &n.sxh };
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

// Full-width digits ("２０２３", as Chinese input methods type them) as plain ones.
QString plainDigits(const QString &text);
// Whether `text` is one or more of the digits 0–9 and nothing else.
bool allDigits(const QString &text);

// The number an office reads in a numbering field: digits (full-width ones too) without
// their leading zeros ("0009", "９" and "9" are the same item), any other text as it stands.
QString numberKey(const QString &text);

// The item number written at the configured width ("9" -> "0009"); text that is not a
// number stays as it is, and a longer number is never cut.
QString paddedItem(const QString &jh, int digits);

// The archival code: by item 全宗号-门类代码·年度-保管期限代码-机构代码-件号
// ("0001-WS·2024-Y-BGS-0009"), by volume 全宗号-目录号-案卷号-顺序号; empty without numbers.
// Numbers are written without their leading zeros (the item number at its width), so that
// two records hold the same code exactly when they hold the same number; an empty part is
// left out with its hyphen. A retention period without a code is written as it stands.
QString compose(const RecordNumber &number, const ArchivalCodeSettings &settings);
// The same, numbered as the standard `byItem` says whatever fields are filled.
QString compose(const RecordNumber &number, const ArchivalCodeSettings &settings, bool byItem);
// The code without its last number: the series the record is numbered in.
QString series(const RecordNumber &number, const ArchivalCodeSettings &settings, bool byItem);

} // namespace ArchivalCode
} // namespace dagl
