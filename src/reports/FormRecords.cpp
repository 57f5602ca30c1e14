#include "FormRecords.h"

#include "Connection.h"
#include "Schema.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace dagl {

namespace {

// The columns read, in the order of FormRecord's fields.
const char *const kColumns[] = { "QZH", "GDND", "BGQX", "JGWT", "HH", "JH", "MLH", "AJH", "SXH", "WH", "ZRZ", "TM",
    "CWSJ", "MJ", "YH", "BZ", "DWMC" };
// Columns whose values repeat from record to record (numbers, names, dates): read once,
// shared by all. Titles, document numbers and notes are each a record's own.
bool repeats(int column)
{
    constexpr int kWh = 9, kTm = 11, kBz = 15;
    return column != kWh && column != kTm && column != kBz;
}

// A column as text without its blanks, numbers and dates included.
QString trimmed(const QString &column)
{
    return QStringLiteral("ifnull(trim(CAST(%1 AS TEXT)),'')").arg(column);
}

// Numbers first by value, then other texts, blanks among them. A server casts only what
// is a number.
QString numericOrder(const QString &column, bool server)
{
    const QString t = trimmed(column);
    if (server)
        return QStringLiteral("(%1 = '' OR %1 ~ '[^0-9]'), CASE WHEN %1 ~ '^[0-9]{1,18}$' THEN CAST(%1 AS BIGINT) END, %1")
            .arg(t);
    return QStringLiteral("(%1 = '' OR %1 GLOB '*[^0-9]*'), CAST(%1 AS INTEGER), %1").arg(t);
}

// The retention periods from the longest to the shortest; others come after them.
QString retentionOrder()
{
    const QStringList &periods = ArchivalCodeSettings::retentionPeriods();
    QString cases;
    for (int i = 0; i < periods.size(); ++i)
        cases += QStringLiteral(" WHEN '%1' THEN %2").arg(periods.at(i)).arg(i);
    return QStringLiteral("CASE %1%2 ELSE %3 END, %1").arg(trimmed(QStringLiteral("BGQX")), cases).arg(periods.size());
}

// Records numbered by volume: no box or item number, a catalogue, volume or sequence number.
QString byVolume()
{
    return QStringLiteral("(%1 = '' AND %2 = '' AND (%3 <> '' OR %4 <> '' OR %5 <> ''))")
        .arg(trimmed(QStringLiteral("HH")), trimmed(QStringLiteral("JH")), trimmed(QStringLiteral("MLH")),
            trimmed(QStringLiteral("AJH")), trimmed(QStringLiteral("SXH")));
}

// Carriage returns and tabs would draw as boxes; a line break stays one.
QString printable(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return text;
}

using ArchivalCode::allDigits;

} // namespace

RecordNumber FormRecord::number() const
{
    RecordNumber n;
    n.qzh = qzh;
    n.gdnd = gdnd;
    n.bgqx = bgqx;
    n.jgwt = jgwt;
    n.hh = hh;
    n.jh = jh;
    n.mlh = mlh;
    n.ajh = ajh;
    n.sxh = sxh;
    return n;
}

int FormRecord::pages() const
{
    bool ok = false;
    const int n = yh.toInt(&ok);
    return ok && n > 0 ? n : 0;
}

namespace FormRecords {

QString statement(ArchivalForm form, const FormSelection &selection, QStringList *binds, bool server)
{
    const auto numericOrder = [server](const QString &column) { return dagl::numericOrder(column, server); };
    QStringList columns;
    for (const char *column : kColumns)
        columns << trimmed(QString::fromLatin1(column));
    QStringList where;
    switch (form) {
    case ArchivalForm::ItemCatalogue:
        where << QStringLiteral("NOT ") + byVolume();
        break;
    case ArchivalForm::VolumeCatalogue:
        where << byVolume();
        break;
    default: // the box forms
        where << trimmed(QStringLiteral("HH")) + QStringLiteral(" <> ''");
        break;
    }
    if (selection.onlyRows) {
        QStringList keys;
        for (qlonglong row : selection.rows)
            keys << QString::number(row);
        where << QStringLiteral("str_m_date IN (%1)").arg(keys.join(QLatin1Char(',')));
    } else {
        const QPair<const char *, QString> filters[] = { { "QZH", selection.qzh }, { "GDND", selection.gdnd },
            { "BGQX", selection.bgqx }, { "JGWT", selection.jgwt } };
        for (const auto &filter : filters) {
            if (filter.second.trimmed().isEmpty())
                continue;
            where << trimmed(QString::fromLatin1(filter.first)) + QStringLiteral(" = ?");
            if (binds)
                *binds << filter.second.trimmed();
        }
    }
    QStringList order;
    if (form == ArchivalForm::VolumeCatalogue) {
        order << numericOrder(QStringLiteral("QZH")) << numericOrder(QStringLiteral("MLH"))
              << numericOrder(QStringLiteral("AJH")) << numericOrder(QStringLiteral("SXH"));
    } else {
        order << numericOrder(QStringLiteral("QZH")) << numericOrder(QStringLiteral("GDND")) << retentionOrder()
              << trimmed(QStringLiteral("JGWT")) << numericOrder(QStringLiteral("HH"))
              << numericOrder(QStringLiteral("JH"));
    }
    order << QStringLiteral("str_m_date");
    return QStringLiteral("SELECT %1 FROM %2 WHERE %3 ORDER BY %4")
        .arg(columns.join(QStringLiteral(", ")), Schema::kCatalogueTable, where.join(QStringLiteral(" AND ")),
            order.join(QStringLiteral(", ")));
}

FormData read(
    Connection &connection, ArchivalForm form, const FormSelection &selection, const ArchivalCodeSettings &settings)
{
    FormData data;
    data.settings = settings;
    data.unitName = unitName(connection);
    data.extract = selection.onlyRows;
    if (selection.onlyRows && selection.rows.isEmpty())
        return data;
    QStringList binds;
    Query query(connection, statement(form, selection, &binds, connection.onServer()));
    for (int i = 0; i < binds.size(); ++i)
        query.bind(i + 1, binds.at(i));
    // Values that repeat are kept once, so that a long catalogue holds little more than its titles.
    QHash<QString, QString> shared;
    auto share = [&shared](const QString &value) {
        auto it = shared.constFind(value);
        if (it != shared.constEnd())
            return *it;
        if (shared.size() < 100000)
            shared.insert(value, value);
        return value;
    };
    while (query.step()) {
        FormRecord r;
        QString *fields[] = { &r.qzh, &r.gdnd, &r.bgqx, &r.jgwt, &r.hh, &r.jh, &r.mlh, &r.ajh, &r.sxh, &r.wh, &r.zrz,
            &r.tm, &r.cwsj, &r.mj, &r.yh, &r.bz, &r.dwmc };
        for (int c = 0; c < int(std::size(fields)); ++c) {
            const QString value = query.value(c).toString();
            *fields[c] = repeats(c) || value.isEmpty() ? share(value) : printable(value);
        }
        data.records.push_back(std::move(r));
    }
    data.records.squeeze();
    return data;
}

QString unitName(Connection &connection)
{
    Query query(connection, QStringLiteral("SELECT ifnull(trim(DWMC),'') FROM ljserver LIMIT 1"));
    return query.step() ? query.value(0).toString() : QString();
}

Choices choices(Connection &connection)
{
    // One pass over the columns as stored; the engine's DISTINCT over four columns is many
    // times slower on a large catalogue than keeping the few values here.
    Query query(connection, QStringLiteral("SELECT QZH, GDND, BGQX, JGWT FROM %1").arg(Schema::kCatalogueTable));
    QSet<QString> found[4];
    while (query.step()) {
        for (int c = 0; c < 4; ++c) {
            const QString value = query.value(c).toString().trimmed();
            if (!value.isEmpty())
                found[c].insert(value);
        }
    }
    auto sorted = [](const QSet<QString> &values) {
        QStringList list(values.begin(), values.end());
        std::sort(list.begin(), list.end(), naturalLess);
        return list;
    };
    // Retention periods longest first, as offices list them; other values after them.
    QStringList periods = sorted(found[2]);
    std::stable_sort(periods.begin(), periods.end(), [](const QString &a, const QString &b) {
        return ArchivalCodeSettings::retentionRank(a) < ArchivalCodeSettings::retentionRank(b);
    });
    return Choices { sorted(found[0]), sorted(found[1]), periods, sorted(found[3]) };
}

bool naturalLess(const QString &a, const QString &b)
{
    const bool na = allDigits(a), nb = allDigits(b);
    if (na != nb)
        return na;
    if (na) {
        const QString ka = ArchivalCode::numberKey(a), kb = ArchivalCode::numberKey(b);
        if (ka.size() != kb.size())
            return ka.size() < kb.size();
        if (ka != kb)
            return ka < kb;
    }
    return a < b;
}

QVector<RecordRun> runs(
    const QVector<FormRecord> &records, const std::function<bool(const FormRecord &, const FormRecord &)> &together)
{
    QVector<RecordRun> found;
    for (int i = 0; i < records.size(); ++i) {
        if (found.isEmpty() || !together(records.at(found.last().first), records.at(i)))
            found.push_back({ i, 0 });
        ++found.last().count;
    }
    return found;
}

bool sameGroup(const FormRecord &a, const FormRecord &b)
{
    return a.qzh == b.qzh && a.gdnd == b.gdnd && a.bgqx == b.bgqx && a.jgwt == b.jgwt;
}

bool sameBox(const FormRecord &a, const FormRecord &b)
{
    return sameGroup(a, b) && a.hh == b.hh;
}

bool sameVolume(const FormRecord &a, const FormRecord &b)
{
    return a.qzh == b.qzh && a.mlh == b.mlh && a.ajh == b.ajh;
}

} // namespace FormRecords
} // namespace dagl
