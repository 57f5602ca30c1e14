#include "PgRowWriter.h"

#include "Error.h"
#include "PgConnection.h"
#include "PgSchema.h"
#include "PgDialect.h"

namespace dagl {

namespace {

QString parameter(int number)
{
    return QLatin1Char('$') + QString::number(number);
}

} // namespace

PgRowWriter::PgRowWriter(PgConnection &connection, const QString &table)
    : m_connection(connection)
    , m_table(table.toLower())
{
    const QVector<FieldDef> all = connection.tableColumns(m_table);
    if (all.isEmpty())
        throw Error(QStringLiteral("数据库服务器上没有表“%1”。").arg(table), Cause::NotFound);
    m_key = connection.keyColumn(m_table);
    if (m_key.isEmpty())
        throw Error(QStringLiteral("服务器上的表“%1”没有键列，不能逐行保存。").arg(table), Cause::NotFound);
    QStringList names { PgSchema::quotedName(m_key) };
    for (const FieldDef &c : all) {
        if (c.name != m_key) {
            m_columns.push_back(c);
            names << PgSchema::quotedName(c.name);
        }
    }
    m_returning = names.join(QStringLiteral(", "));
}

int PgRowWriter::columnIndex(const QString &name) const
{
    for (int i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString PgRowWriter::selectStatement(const QString &where) const
{
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(m_returning, PgSchema::quotedName(m_table));
    if (!where.isEmpty())
        sql += QLatin1Char(' ') + where;
    return sql;
}

PgRowImage PgRowWriter::imageOf(const QVariantList &row) const
{
    PgRowImage image;
    if (row.isEmpty())
        return image;
    image.key = row.first().toLongLong();
    image.values = row.mid(1);
    while (image.values.size() < m_columns.size())
        image.values << QVariant();
    return image;
}

PgRowImage PgRowWriter::read(qlonglong key)
{
    PgRows rows(m_connection, selectStatement(QStringLiteral("WHERE %1 = $1").arg(PgSchema::quotedName(m_key))), { key }, true);
    QVariantList row;
    if (rows.next()) {
        for (int c = 0; c < rows.columnCount(); ++c)
            row << rows.value(c);
    }
    // Read to the end: rows left unread are cancelled, which costs the server a process.
    while (rows.next()) { }
    return imageOf(row);
}

// A value as its column takes it, so that the server compares like with like: texts as
// texts (the server gives them the column's type), numbers and dates typed; a text that is
// no number or date for such a column is refused here, named.
QVariant PgRowWriter::columnValue(int column, const QVariant &value) const
{
    const FieldDef &def = m_columns[column];
    if (value.isNull())
        return QVariant();
    const bool isText = value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray;
    const QString text = value.toString();
    auto refuse = [&](const QString &what) {
        return Error(QStringLiteral("“%1”列的值“%2”不是%3。").arg(def.name, text.left(50), what));
    };
    switch (def.type) {
    case FieldType::Integer:
    case FieldType::AutoInc: {
        if (isText && text.trimmed().isEmpty())
            return QVariant();
        bool ok = false;
        const qlonglong number = isText ? text.trimmed().toLongLong(&ok) : value.toLongLong(&ok);
        if (!ok)
            throw refuse(QStringLiteral("整数"));
        return number;
    }
    case FieldType::Float: {
        if (isText && text.trimmed().isEmpty())
            return QVariant();
        bool ok = false;
        const double number = isText ? text.trimmed().toDouble(&ok) : value.toDouble(&ok);
        if (!ok)
            throw refuse(QStringLiteral("数值"));
        return number;
    }
    case FieldType::DateTime: {
        if (value.typeId() == QMetaType::QDateTime || value.typeId() == QMetaType::QDate)
            return value;
        if (text.trimmed().isEmpty())
            return QVariant();
        const QDateTime when = PgDialect::parseDateTime(text.trimmed());
        if (!when.isValid())
            throw refuse(QStringLiteral("日期"));
        return when;
    }
    default:
        return text;
    }
}

QVector<PgRowWriter::Bound> PgRowWriter::boundValues(const QVariantMap &values) const
{
    QVector<Bound> bound;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const int column = columnIndex(it.key());
        if (column < 0)
            throw Error(QStringLiteral("服务器上的表“%1”中没有列“%2”。").arg(m_table, it.key()), Cause::NotFound);
        bound.push_back({ column, columnValue(column, it.value()) });
    }
    return bound;
}

// "key = $n AND every column IS NOT DISTINCT FROM its value as read", its values appended.
QString PgRowWriter::matchAsRead(const PgRowImage &asRead, QVariantList &params) const
{
    const bool some = !asRead.columns.isEmpty();
    if (asRead.values.size() != (some ? asRead.columns.size() : m_columns.size()))
        throw Error(QStringLiteral("要保存的行与服务器上的表“%1”的列不符。").arg(m_table));
    params << asRead.key;
    QStringList parts { QStringLiteral("%1 = %2").arg(PgSchema::quotedName(m_key), parameter(params.size())) };
    for (int i = 0; i < asRead.values.size(); ++i) {
        const int c = some ? asRead.columns[i] : i;
        if (c < 0 || c >= m_columns.size())
            throw Error(QStringLiteral("要保存的行与服务器上的表“%1”的列不符。").arg(m_table));
        params << columnValue(c, asRead.values[i]);
        // A time is read to the second; a fraction another tool stored is no change here.
        const QString column = m_columns[c].type == FieldType::DateTime
            ? QStringLiteral("date_trunc('second', %1)").arg(PgSchema::quotedName(m_columns[c].name))
            : PgSchema::quotedName(m_columns[c].name);
        parts << QStringLiteral("%1 IS NOT DISTINCT FROM %2").arg(column, parameter(params.size()));
    }
    return parts.join(QStringLiteral(" AND "));
}

// Why a write named by key and values found no row: read again, outside the statement,
// as the newest committed row.
PgWriteOutcome PgRowWriter::missedOutcome(qlonglong key)
{
    const QVariant found = m_connection.scalarNative(
        QStringLiteral("SELECT 1 FROM %1 WHERE %2 = $1").arg(PgSchema::quotedName(m_table), PgSchema::quotedName(m_key)), { key });
    return found.isValid() ? PgWriteOutcome::ChangedByOther : PgWriteOutcome::DeletedByOther;
}

PgWriteResult PgRowWriter::refused(PgWriteOutcome outcome, Action action) const
{
    PgWriteResult result;
    result.outcome = outcome;
    result.message = message(outcome, action);
    return result;
}

// Runs a statement that returns the one row it wrote (key and columns), or none.
PgWriteResult PgRowWriter::stored(const QString &sql, const QVariantList &params)
{
    QVariantList row;
    {
        PgRows rows(m_connection, sql, params, true);
        if (rows.next()) {
            for (int c = 0; c < rows.columnCount(); ++c)
                row << rows.value(c);
        }
        while (rows.next()) { }
    }
    PgWriteResult result;
    result.row = imageOf(row);
    return result;
}

PgWriteResult PgRowWriter::insert(const QVariantMap &values)
{
    const QVector<Bound> bound = boundValues(values);
    m_lastKey = 0;
    const qlonglong key = m_connection
                              .scalarNative(QStringLiteral("SELECT nextval(pg_get_serial_sequence($1, $2))"),
                                  { PgSchema::quotedName(m_table), m_key })
                              .toLongLong();
    if (key <= 0)
        throw Error(QStringLiteral("服务器没有给新行键值。"));
    m_lastKey = key;
    QVariantList params { key };
    QStringList names { PgSchema::quotedName(m_key) }, places { parameter(1) };
    for (const Bound &b : bound) {
        params << b.value;
        names << PgSchema::quotedName(m_columns[b.column].name);
        places << parameter(params.size());
    }
    const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                            .arg(PgSchema::quotedName(m_table), names.join(QStringLiteral(", ")), places.join(QStringLiteral(", ")));
    PgWriteResult result = stored(sql + QStringLiteral(" RETURNING ") + m_returning, params);
    if (!result.row.isValid())
        throw Error(QStringLiteral("服务器没有给新行键值。"));
    return result;
}

bool PgRowWriter::holds(qlonglong key, const QVariantMap &values)
{
    QVariantList params { key };
    QStringList parts { QStringLiteral("%1 = $1").arg(PgSchema::quotedName(m_key)) };
    for (const Bound &b : boundValues(values)) {
        params << b.value;
        const QString column = m_columns[b.column].type == FieldType::DateTime
            ? QStringLiteral("date_trunc('second', %1)").arg(PgSchema::quotedName(m_columns[b.column].name))
            : PgSchema::quotedName(m_columns[b.column].name);
        parts << QStringLiteral("%1 IS NOT DISTINCT FROM %2").arg(column, parameter(params.size()));
    }
    return m_connection
        .scalarNative(QStringLiteral("SELECT 1 FROM %1 WHERE %2").arg(PgSchema::quotedName(m_table), parts.join(QStringLiteral(" AND "))),
            params)
        .isValid();
}

PgWriteResult PgRowWriter::update(const PgRowImage &asRead, const QVariantMap &changes)
{
    const QVector<Bound> bound = boundValues(changes);
    QVariantList params;
    QStringList sets;
    for (const Bound &b : bound) {
        params << b.value;
        sets << QStringLiteral("%1 = %2").arg(PgSchema::quotedName(m_columns[b.column].name), parameter(params.size()));
    }
    const QString match = matchAsRead(asRead, params);
    // Nothing changed: nothing is written, but the row must still be as read, or the
    // operator would take another workstation's values for their own.
    const QString sql = sets.isEmpty() ? selectStatement(QStringLiteral("WHERE ") + match)
                                       : QStringLiteral("UPDATE %1 SET %2 WHERE %3 RETURNING %4")
                                             .arg(PgSchema::quotedName(m_table), sets.join(QStringLiteral(", ")), match, m_returning);
    PgWriteResult result = stored(sql, params);
    if (!result.row.isValid())
        return refused(missedOutcome(asRead.key), Action::Save);
    return result;
}

PgWriteResult PgRowWriter::remove(qlonglong key)
{
    const int removed = m_connection.executeNative(
        QStringLiteral("DELETE FROM %1 WHERE %2 = $1").arg(PgSchema::quotedName(m_table), PgSchema::quotedName(m_key)), { key });
    if (removed == 0)
        return refused(PgWriteOutcome::DeletedByOther, Action::Delete);
    return {};
}

PgWriteResult PgRowWriter::remove(const PgRowImage &asRead)
{
    QVariantList params;
    const QString match = matchAsRead(asRead, params);
    const int removed
        = m_connection.executeNative(QStringLiteral("DELETE FROM %1 WHERE %2").arg(PgSchema::quotedName(m_table), match), params);
    if (removed == 0)
        return refused(missedOutcome(asRead.key), Action::Delete);
    return {};
}

QString PgRowWriter::message(PgWriteOutcome outcome, Action action)
{
    const bool save = action == Action::Save;
    switch (outcome) {
    case PgWriteOutcome::Done:
        break;
    case PgWriteOutcome::ChangedByOther:
        return save ? QStringLiteral("该记录已被其他工作站修改，未保存。请重新打开列表后再修改。")
                    : QStringLiteral("该记录已被其他工作站修改，未删除。请重新打开列表后再删除。");
    case PgWriteOutcome::DeletedByOther:
        return save ? QStringLiteral("该记录已被其他工作站删除，未保存。")
                    : QStringLiteral("该记录已被其他工作站删除。");
    }
    return {};
}

} // namespace dagl
