#include "NumberRegister.h"

#include "Connection.h"

#include <QSet>

#include <algorithm>

namespace dagl::NumberRegister {

namespace {

// How a numbering column is compared: a text as it stands (trimmed), a number without its
// leading zeros, the volume number as the integer the column holds.
enum class Kind { Text, Number, Integer };

struct KeyColumn {
    const char *column;
    Kind kind;
    QString RecordNumber::*field;
};

// The group columns first, the number last: the indexes' column order.
const KeyColumn kItemKey[] = {
    { "QZH", Kind::Text, &RecordNumber::qzh },
    { "GDND", Kind::Text, &RecordNumber::gdnd },
    { "BGQX", Kind::Text, &RecordNumber::bgqx },
    { "JGWT", Kind::Text, &RecordNumber::jgwt },
    { "JH", Kind::Number, &RecordNumber::jh },
};
const KeyColumn kVolumeKey[] = {
    { "QZH", Kind::Text, &RecordNumber::qzh },
    { "MLH", Kind::Text, &RecordNumber::mlh },
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
    static const KeySpec item { "ix_wjml_item_no", kItemKey, int(std::size(kItemKey)), "JH IS NOT NULL" };
    static const KeySpec volume { "ix_wjml_volume_no", kVolumeKey, int(std::size(kVolumeKey)), "SXH IS NOT NULL" };
    return byItem ? item : volume;
}

// The longest number the numbering columns hold (text 4).
constexpr int kNumberWidth = 4;

// The key expression of a column. The file's look-ups are written exactly as its indexes;
// a server compares the integer column as text too.
QString expression(const KeyColumn &c, bool server = false)
{
    const QString column = QString::fromLatin1(c.column);
    switch (c.kind) {
    case Kind::Text:
        return QStringLiteral("ifnull(trim(%1),'')").arg(column);
    case Kind::Number:
        return QStringLiteral("ltrim(ifnull(trim(%1),''),'0')").arg(column);
    case Kind::Integer:
        return server ? QStringLiteral("ifnull(CAST(%1 AS TEXT),'')").arg(column)
                      : QStringLiteral("ifnull(%1,'')").arg(column);
    }
    return {};
}

bool allDigits(const QString &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
}

// A value as its key expression gives it.
QVariant keyValue(const KeyColumn &c, const QString &text)
{
    switch (c.kind) {
    case Kind::Text:
        return text;
    case Kind::Number: {
        int first = 0;
        while (first < text.size() && text.at(first) == QLatin1Char('0'))
            ++first;
        return text.mid(first);
    }
    case Kind::Integer:
        if (allDigits(text) && text.size() <= 18)
            return text.toLongLong();
        return text;
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

bool sameGroup(const RecordNumber &a, const RecordNumber &b, bool byItem)
{
    const KeySpec &spec = specOf(byItem);
    for (int i = 0; i < spec.count - 1; ++i) {
        const KeyColumn &c = spec.columns[i];
        if (keyValue(c, a.*c.field) != keyValue(c, b.*c.field))
            return false;
    }
    return true;
}

} // namespace

Numbering numberingOf(const RecordNumber &number, bool byItem)
{
    if (numberOf(number, byItem).isEmpty())
        return Numbering::None;
    return byItem ? Numbering::Item : Numbering::Volume;
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
    Lookup(Connection &connection, bool itemStandard)
        : spec(specOf(itemStandard))
        , server(connection.onServer())
        , statement(connection,
              QStringLiteral("SELECT str_m_date, TM, %1 FROM 文件目录 WHERE %2")
                  .arg(RecordNumber::columns().join(QLatin1Char(',')), whereGroup(spec, true, server)))
        , byItem(itemStandard)
    {
    }

    std::optional<Holder> find(const RecordNumber &number, qlonglong except)
    {
        bindGroup(statement, spec, number, true, server);
        const QString wanted = ArchivalCode::numberKey(numberOf(number, byItem));
        while (statement.step()) {
            const qlonglong key = statement.value(0).toLongLong();
            if (key == except)
                continue;
            Holder holder;
            holder.key = key;
            holder.title = statement.value(1).toString();
            holder.number = RecordNumber::from([&](const QString &column) {
                return statement.value(2 + int(RecordNumber::columns().indexOf(column))).toString();
            });
            // The index matches "0" with an empty number and "09a" with "9a": the office's
            // reading decides.
            if (ArchivalCode::numberKey(numberOf(holder.number, byItem)) == wanted) {
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
};

QString duplicateQuestion(const Holder &holder, const ArchivalCodeSettings &settings)
{
    return QStringLiteral("编号重复：档号%1已被档案“%2”使用。\n确实要保存这条编号重复的档案吗？")
        .arg(ArchivalCode::compose(holder.number, settings), holder.title.trimmed());
}

std::optional<Holder> holderOf(Connection &connection, const RecordNumber &number, bool byItem, qlonglong except)
{
    if (numberingOf(number, byItem) == Numbering::None)
        return std::nullopt;
    Batch::Lookup lookup(connection, byItem);
    return lookup.find(number, except);
}

QString proposeNext(Connection &connection, const RecordNumber &previous, const RecordNumber &current, bool byItem)
{
    const QString last = numberOf(previous, byItem);
    if (!allDigits(last) || last.size() > kNumberWidth)
        return {};
    const int width = last.size() > 1 && last.startsWith(QLatin1Char('0')) ? int(last.size()) : 0;
    const auto written = [width](qlonglong n) { return QString::number(n).rightJustified(width, QLatin1Char('0')); };
    const auto fits = [&](qlonglong n) { return written(n).size() <= kNumberWidth ? written(n) : QString(); };

    const bool continuing = sameGroup(previous, current, byItem);
    qlonglong next = last.toLongLong() + 1;
    if (continuing) {
        // A series goes on where the previous record stands: one look-up as a rule.
        RecordNumber probe = current;
        (byItem ? probe.jh : probe.sxh) = QString::number(next);
        if (!holderOf(connection, probe, byItem))
            return fits(next);
    }
    const KeySpec &spec = specOf(byItem);
    const bool server = connection.onServer();
    Query statement(connection,
        QStringLiteral("SELECT %1 FROM 文件目录 WHERE %2")
            .arg(expression(spec.columns[spec.count - 1], server), whereGroup(spec, false, server)));
    bindGroup(statement, spec, current, false, server);
    QSet<qlonglong> taken;
    qlonglong highest = 0;
    while (statement.step()) {
        const QString key = statement.value(0).toString();
        if (!allDigits(key) || key.size() > 18)
            continue;
        const qlonglong n = key.toLongLong();
        taken.insert(n);
        highest = std::max(highest, n);
    }
    if (!continuing)
        return fits(highest + 1);
    while (taken.contains(next))
        ++next;
    return fits(next);
}

Batch::Batch(Connection &connection)
    : m_connection(connection)
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
        lookup = std::make_unique<Lookup>(m_connection, byItem);

    const KeySpec &spec = specOf(byItem);
    QStringList parts { byItem ? QStringLiteral("item") : QStringLiteral("volume") };
    for (int i = 0; i < spec.count; ++i) {
        const KeyColumn &c = spec.columns[i];
        const QString text = number.*c.field;
        parts << (c.kind == Kind::Text ? text : ArchivalCode::numberKey(text));
    }
    const QString key = parts.join(QChar(0x1f));

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
