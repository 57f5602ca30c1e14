#include "RecordCheck.h"

namespace dagl::RecordCheck {

namespace {

bool isBlank(QChar c)
{
    return c.unicode() <= 0x20 || c.isSpace();
}

bool empty(const RecordValues &texts, const char *column)
{
    return trimmed(texts.value(QString::fromUtf8(column))).isEmpty();
}

} // namespace

QString trimmed(const QString &text)
{
    int begin = 0;
    int end = int(text.size());
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

QStringList otherStandardColumns(int standard)
{
    if (standard == ByItem)
        return { QStringLiteral("MLH"), QStringLiteral("AJH"), QStringLiteral("SXH") };
    return { QStringLiteral("HH"), QStringLiteral("JH") };
}

std::optional<Failure> check(int standard, const RecordValues &texts)
{
    // The numbers of the other standard count as emptied, whatever the texts say.
    RecordValues values = texts;
    for (const QString &column : otherStandardColumns(standard))
        values.insert(column, QString());

    if (empty(values, "DWDM") && empty(values, "QZH"))
        return Failure { QStringLiteral("DWDM"), kNoCode };
    if (empty(values, "DWMC"))
        return Failure { QStringLiteral("DWMC"), kNoUnitName };
    if (standard == ByItem) {
        if (empty(values, "HH") || empty(values, "JH"))
            return Failure { QStringLiteral("HH"), kItemIncomplete };
        if (empty(values, "GDND"))
            return Failure { QStringLiteral("GDND"), kNoYear };
    } else if (empty(values, "MLH") || empty(values, "AJH") || empty(values, "SXH")) {
        return Failure { QStringLiteral("MLH"), kVolumeIncomplete };
    }
    if (empty(values, "BGQX"))
        return Failure { QStringLiteral("BGQX"), kNoRetention };
    if (empty(values, "TM"))
        return Failure { QStringLiteral("TM"), kNoTitle };
    if (empty(values, "YH"))
        return Failure { QStringLiteral("YH"), kNoPages };
    return std::nullopt;
}

int standardFor(const QString &mlh, const QString &hh, const QString &kxpl, int current, bool *fromSetting)
{
    if (fromSetting)
        *fromSetting = false;
    const bool hasVolume = !trimmed(mlh).isEmpty();
    if (hasVolume || !trimmed(hh).isEmpty())
        return hasVolume ? ByVolume : ByItem;
    if (kxpl == QLatin1String("0") || kxpl == QLatin1String("1")) {
        if (fromSetting)
            *fromSetting = true;
        return kxpl == QLatin1String("0") ? ByVolume : ByItem;
    }
    return current;
}

const QStringList &carriedColumns()
{
    static const QStringList columns = {
        QStringLiteral("GDM"),
        QStringLiteral("DWDM"),
        QStringLiteral("QZH"),
        QStringLiteral("DWMC"),
        QStringLiteral("MLH"),
        QStringLiteral("AJH"),
        QStringLiteral("SXH"),
        QStringLiteral("HH"),
        QStringLiteral("JH"),
        QStringLiteral("GDND"),
        QStringLiteral("ZRZ"),
        QStringLiteral("BGQX"),
        QStringLiteral("WH"),
        QStringLiteral("JGWT"),
        QStringLiteral("MJ"),
        QStringLiteral("TM"),
        QStringLiteral("CWSJ"),
        QStringLiteral("YH"),
        QStringLiteral("DALX"),
        QStringLiteral("KZBS"),
        QStringLiteral("BZ"),
        QStringLiteral("PSZ"),
        QStringLiteral("PSDD"),
        QStringLiteral("人名"),
    };
    return columns;
}

const QStringList &alwaysCarriedColumns()
{
    static const QStringList columns
        = { QStringLiteral("GDM"), QStringLiteral("DWDM"), QStringLiteral("QZH"), QStringLiteral("DWMC"),
              QStringLiteral("BGQX"), QStringLiteral("MJ"), QStringLiteral("DALX"), QStringLiteral("KZBS") };
    return columns;
}

QStringList columnsToCarry(bool copyPrevious)
{
    return copyPrevious ? carriedColumns() : alwaysCarriedColumns();
}

const QStringList &listColumns()
{
    static const QStringList columns
        = { QStringLiteral("BGQX"), QStringLiteral("MJ"), QStringLiteral("DALX"), QStringLiteral("KZBS") };
    return columns;
}

const QStringList &listEntries(const QString &column)
{
    static const QHash<QString, QStringList> entries = {
        { QStringLiteral("BGQX"),
            { QStringLiteral("永久"), QStringLiteral("长期"), QStringLiteral("短期"), QStringLiteral("30年"),
                QStringLiteral("10年") } },
        { QStringLiteral("MJ"), { QStringLiteral("秘密"), QStringLiteral("机密"), QStringLiteral("绝密") } },
        { QStringLiteral("DALX"),
            { QStringLiteral("纸质"), QStringLiteral("视频"), QStringLiteral("音频"), QStringLiteral("图片") } },
        { QStringLiteral("KZBS"), { QStringLiteral("控制"), QStringLiteral("开放") } },
    };
    static const QStringList none;
    const auto found = entries.constFind(column);
    return found == entries.constEnd() ? none : *found;
}

} // namespace dagl::RecordCheck
