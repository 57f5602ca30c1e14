#include "NumberRegister.h"

#include "Connection.h"

#include <QSet>

#include <algorithm>

namespace dagl::NumberRegister {

namespace {

// How a numbering column is compared: a text as it stands (trimmed), a number without its
// leading zeros and with full-width digits as plain ones, the volume number as the integer
// the column holds.
enum class Kind { Text, Number, Integer };

struct KeyColumn {
    const char *column;
    Kind kind;
    QString RecordNumber::*field;
};

// The columns that fix the archival code's number, in the indexes' order, the number last.
// Retention period and 机构 are left to the code: their codes may join several values.
const KeyColumn kItemKey[] = {
    { "QZH", Kind::Text, &RecordNumber::qzh },
    { "GDND", Kind::Number, &RecordNumber::gdnd },
    { "JH", Kind::Number, &RecordNumber::jh },
};
const KeyColumn kVolumeKey[] = {
    { "QZH", Kind::Text, &RecordNumber::qzh },
    { "MLH", Kind::Number, &RecordNumber::mlh },
    { "AJH", Kind::Integer, &RecordNumber::ajh },
    { "SXH", Kind::Number, &RecordNumber::sxh },
};

struct KeySpec {
    const char *index;
    const KeyColumn *columns;
    int count;
    // Only records holding their number are indexed: the index stays half the size, and a
    // partial index is never what the engine walks to read a table in its stored order.
    const char *present;
};

const KeySpec &specOf(bool byItem)
{
    static const KeySpec item { "ix_wjml_item_key", kItemKey, int(std::size(kItemKey)), "JH IS NOT NULL" };
    static const KeySpec volume { "ix_wjml_volume_key", kVolumeKey, int(std::size(kVolumeKey)), "SXH IS NOT NULL" };
    return byItem ? item : volume;
}

// The longest number the numbering columns hold (text 4).
constexpr int kNumberWidth = 4;

// The expression's full-width digits as plain ones, with the engine's replace().
QString plainDigitsExpression(QString expression)
{
    for (int d = 0; d < 10; ++d)
        expression = QStringLiteral("replace(%1,'%2','%3')").arg(expression, QChar(char16_t(0xFF10 + d))).arg(d);
    return expression;
}

// The key expression of a column. The file's look-ups are written exactly as its indexes;
// a server compares the integer column as text too.
QString expression(const KeyColumn &c, bool server = false)
{
    const QString column = QString::fromLatin1(c.column);
    switch (c.kind) {
    case Kind::Text:
        return QStringLiteral("ifnull(trim(%1),'')").arg(column);
    case Kind::Number:
        return QStringLiteral("ltrim(%1,'0')")
            .arg(plainDigitsExpression(QStringLiteral("ifnull(trim(%1),'')").arg(column)));
    case Kind::Integer:
        return server ? QStringLiteral("ifnull(CAST(%1 AS TEXT),'')").arg(column)
                      : QStringLiteral("ifnull(%1,'')").arg(column);
    }
    return {};
}

using ArchivalCode::allDigits;

// A value as its key expression gives it.
QVariant keyValue(const KeyColumn &c, const QString &text)
{
    const QString plain = ArchivalCode::plainDigits(text.trimmed());
    switch (c.kind) {
    case Kind::Text:
        return text.trimmed();
    case Kind::Number: {
        int first = 0;
        while (first < plain.size() && plain.at(first) == QLatin1Char('0'))
            ++first;
        return plain.mid(first);
    }
    case Kind::Integer:
        if (allDigits(plain) && plain.size() <= 18)
            return plain.toLongLong();
        return plain;
    }
    return {};
}

void bindKey(Query &query, int index, const QVariant &value, bool server)
{
    // Never NULL: an empty value is the empty text the expressions give for one.
    if (value.typeId() == QMetaType::LongLong && !server)
        query.bind(index, value);
    else
        query.bind(index, QVariant(QStringLiteral("") + value.toString()));
}

QString whereGroup(const KeySpec &spec, bool withNumber, bool server)
{
    QStringList terms;
    for (int i = 0; i < spec.count - (withNumber ? 0 : 1); ++i)
        terms << expression(spec.columns[i], server) + QStringLiteral("=?");
    terms << QString::fromLatin1(spec.present); // as the index says, or it is not used
    return terms.join(QStringLiteral(" AND "));
}

void bindGroup(Query &query, const KeySpec &spec, const RecordNumber &number, bool withNumber, bool server)
{
    query.reset();
    for (int i = 0; i < spec.count - (withNumber ? 0 : 1); ++i)
        bindKey(query, i + 1, keyValue(spec.columns[i], number.*spec.columns[i].field), server);
}

QString numberOf(const RecordNumber &number, bool byItem)
{
    return byItem ? number.jh : number.sxh;
}

const QString &numberColumns()
{
    static const QString columns = RecordNumber::columns().join(QLatin1Char(','));
    return columns;
}

// The numbers of a row read as SELECT ..., <numberColumns()> from column `first` on.
RecordNumber numberAt(const Query &query, int first)
{
    return RecordNumber::from([&](const QString &column) {
        return query.value(first + int(RecordNumber::columns().indexOf(column))).toString();
    });
}

} // namespace

QString indexCondition(bool byItem)
{
    return whereGroup(specOf(byItem), true, false);
}

QVariantList indexValues(const RecordNumber &number, bool byItem)
{
    const KeySpec &spec = specOf(byItem);
    QVariantList values;
    for (int i = 0; i < spec.count; ++i) {
        const QVariant value = keyValue(spec.columns[i], number.*spec.columns[i].field);
        values << (value.typeId() == QMetaType::LongLong ? value : QVariant(QStringLiteral("") + value.toString()));
    }
    return values;
}

Numbering numberingOf(const RecordNumber &number, bool byItem)
{
    if (numberOf(number, byItem).isEmpty())
        return Numbering::None;
    return byItem ? Numbering::Item : Numbering::Volume;
}

QStringList retiredIndexStatements()
{
    return { QStringLiteral("DROP INDEX IF EXISTS ix_wjml_item_no"),
        QStringLiteral("DROP INDEX IF EXISTS ix_wjml_volume_no") };
}

QStringList indexStatements(bool server)
{
    QStringList statements;
    for (bool byItem : { true, false }) {
        const KeySpec &spec = specOf(byItem);
        QStringList expressions;
        for (int i = 0; i < spec.count; ++i)
            expressions << expression(spec.columns[i], server);
        statements << QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON 文件目录 (%2) WHERE %3")
                          .arg(QString::fromLatin1(spec.index), expressions.join(QStringLiteral(", ")),
                              QString::fromLatin1(spec.present));
    }
    return statements;
}

// The prepared look-up of the holders of one number.
struct Batch::Lookup {
    Lookup(Connection &connection, bool itemStandard, const ArchivalCodeSettings &codeSettings)
        : spec(specOf(itemStandard))
        , server(connection.onServer())
        , statement(connection,
              QStringLiteral("SELECT str_m_date, TM, %1 FROM 文件目录 WHERE %2")
                  .arg(numberColumns(), whereGroup(spec, true, server)))
        , byItem(itemStandard)
        , settings(codeSettings)
    {
    }

    std::optional<Holder> find(const RecordNumber &number, qlonglong except)
    {
        bindGroup(statement, spec, number, true, server);
        const QString wanted = ArchivalCode::compose(number, settings, byItem);
        while (statement.step()) {
            const qlonglong key = statement.value(0).toLongLong();
            if (key == except)
                continue;
            Holder holder;
            holder.key = key;
            holder.title = statement.value(1).toString();
            holder.number = numberAt(statement, 2);
            // The index narrows by year and number; the archival code says whether the
            // retention period and 机构 make it another series.
            if (ArchivalCode::compose(holder.number, settings, byItem) == wanted) {
                statement.reset();
                return holder;
            }
        }
        statement.reset();
        return std::nullopt;
    }

    const KeySpec &spec;
    bool server;
    Query statement;
    bool byItem;
    const ArchivalCodeSettings &settings;
};

QString duplicateQuestion(const Holder &holder, const ArchivalCodeSettings &settings)
{
    return QStringLiteral("编号重复：档号%1已被档案“%2”使用。\n确实要保存这条编号重复的档案吗？")
        .arg(ArchivalCode::compose(holder.number, settings), holder.title.trimmed());
}

std::optional<Holder> holderOf(Connection &connection, const RecordNumber &number, bool byItem,
    const ArchivalCodeSettings &settings, qlonglong except)
{
    if (numberingOf(number, byItem) == Numbering::None)
        return std::nullopt;
    Batch::Lookup lookup(connection, byItem, settings);
    return lookup.find(number, except);
}

QString proposeNext(Connection &connection, const RecordNumber &previous, const RecordNumber &current, bool byItem,
    const ArchivalCodeSettings &settings)
{
    const QString last = ArchivalCode::plainDigits(numberOf(previous, byItem));
    if (!allDigits(last) || last.size() > kNumberWidth)
        return {};
    const int width = last.size() > 1 && last.startsWith(QLatin1Char('0')) ? int(last.size()) : 0;
    const auto written = [width](qlonglong n) { return QString::number(n).rightJustified(width, QLatin1Char('0')); };
    const auto fits = [&](qlonglong n) { return written(n).size() <= kNumberWidth ? written(n) : QString(); };

    const QString series = ArchivalCode::series(current, settings, byItem);
    const bool continuing = ArchivalCode::series(previous, settings, byItem) == series;
    qlonglong next = last.toLongLong() + 1;
    if (continuing) {
        // A series goes on where the previous record stands: one look-up as a rule.
        RecordNumber probe = current;
        (byItem ? probe.jh : probe.sxh) = QString::number(next);
        if (!holderOf(connection, probe, byItem, settings))
            return fits(next);
    }
    const KeySpec &spec = specOf(byItem);
    const bool server = connection.onServer();
    Query statement(connection,
        QStringLiteral("SELECT %1 FROM 文件目录 WHERE %2").arg(numberColumns(), whereGroup(spec, false, server)));
    bindGroup(statement, spec, current, false, server);
    QSet<qlonglong> taken;
    qlonglong highest = 0;
    while (statement.step()) {
        const RecordNumber held = numberAt(statement, 0);
        if (ArchivalCode::series(held, settings, byItem) != series)
            continue;
        const QString key = ArchivalCode::numberKey(numberOf(held, byItem));
        if (!allDigits(key) || key.size() > 18)
            continue;
        const qlonglong n = key.toLongLong();
        if (n == 0)
            continue;
        taken.insert(n);
        highest = std::max(highest, n);
    }
    if (!continuing)
        return fits(highest + 1);
    while (taken.contains(next))
        ++next;
    return fits(next);
}

QStringList classNames(Connection &connection)
{
    Query query(connection, QStringLiteral("SELECT DISTINCT trim(JGWT) FROM 文件目录 WHERE JGWT IS NOT NULL"));
    QSet<QString> names;
    while (query.step()) {
        const QString name = query.value(0).toString().trimmed();
        if (!name.isEmpty())
            names.insert(name);
    }
    QStringList sorted(names.begin(), names.end());
    sorted.sort();
    return sorted;
}

QVector<SharedCode> sharedCodes(Connection &connection, const ArchivalCodeSettings &settings, int limit)
{
    Query query(connection,
        QStringLiteral(
            "SELECT str_m_date, TM, %1 FROM 文件目录 WHERE JH IS NOT NULL OR SXH IS NOT NULL ORDER BY str_m_date")
            .arg(numberColumns()));
    QVector<SharedCode> found;
    QHash<QString, int> first; // code -> the first record's place in `holders`, or -(1 + place in `found`)
    QVector<Holder> holders;
    while (query.step()) {
        Holder holder;
        holder.key = query.value(0).toLongLong();
        holder.title = query.value(1).toString();
        holder.number = numberAt(query, 2);
        const bool byItem = holder.number.byItem();
        if (numberingOf(holder.number, byItem) == Numbering::None)
            continue;
        const QString code = ArchivalCode::compose(holder.number, settings, byItem);
        const auto seen = first.find(code);
        if (seen == first.end()) {
            first.insert(code, int(holders.size()));
            holders << holder;
        } else if (seen.value() >= 0) {
            if (found.size() >= limit)
                continue;
            found.push_back({ code, { holders.at(seen.value()), holder } });
            seen.value() = -int(found.size());
        } else {
            found[-seen.value() - 1].holders << holder;
        }
    }
    return found;
}

Batch::Batch(Connection &connection, const ArchivalCodeSettings &settings)
    : m_connection(connection)
    , m_settings(settings)
{
}

Batch::~Batch() = default;

std::optional<Batch::Collision> Batch::add(const RecordNumber &number)
{
    const int row = m_rows++;
    const bool byItem = number.byItem();
    if (numberingOf(number, byItem) == Numbering::None)
        return std::nullopt;
    std::unique_ptr<Lookup> &lookup = byItem ? m_item : m_volume;
    if (!lookup)
        lookup = std::make_unique<Lookup>(m_connection, byItem, m_settings);

    const QString key = (byItem ? QStringLiteral("item") : QStringLiteral("volume")) + QChar(0x1f)
        + ArchivalCode::compose(number, m_settings, byItem);
    Collision collision;
    const auto seen = m_seen.constFind(key);
    if (seen != m_seen.constEnd())
        collision.earlier = seen.value();
    else
        m_seen.insert(key, row);
    collision.holder = lookup->find(number, 0);
    if (collision.earlier < 0 && !collision.holder)
        return std::nullopt;
    return collision;
}

} // namespace dagl::NumberRegister
