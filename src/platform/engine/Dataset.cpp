#include "Dataset.h"

#include "Connection.h"
#include "Error.h"
#include "Regional.h"
#include "Sqlite.h"

#include <algorithm>

namespace dagl {

namespace {

const QString kRowidAlias = QStringLiteral("__dagl_rowid");

int compareValues(const QVariant &a, const QVariant &b)
{
    const bool nullA = a.isNull(), nullB = b.isNull();
    if (nullA || nullB)
        return int(nullB) - int(nullA);
    switch (a.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Double:
        if (b.typeId() != QMetaType::QString) {
            const double x = a.toDouble(), y = b.toDouble();
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        break;
    case QMetaType::QDateTime: {
        const QDateTime x = a.toDateTime(), y = b.toDateTime();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    default:
        break;
    }
    return a.toString().compare(b.toString());
}

} // namespace

Dataset::Dataset(const QString &name, QObject *parent) : QObject(parent), m_name(name)
{
    setObjectName(name);
}

Dataset::~Dataset() = default;

void Dataset::setConnection(Connection *connection)
{
    if (m_connection == connection)
        return;
    if (m_connection)
        disconnect(m_connection, nullptr, this, nullptr);
    close();
    m_connection = connection;
    if (connection)
        connect(connection, &Connection::closing, this, &Dataset::close);
}

void Dataset::setCommandText(const QString &sql)
{
    close();
    m_commandText = sql;
    m_tableName.clear();
}

void Dataset::setTableName(const QString &table)
{
    close();
    m_tableName = table;
    m_commandText.clear();
}

void Dataset::requireOpen() const
{
    if (m_state == State::Inactive)
        throw Error(QStringLiteral("%1: Cannot perform this operation on a closed dataset").arg(m_name));
}

void Dataset::requireRow() const
{
    requireOpen();
    if (m_current < 0 || m_current >= m_rows.size())
        throw Error(QStringLiteral("%1: Cannot perform this operation on an empty dataset").arg(m_name));
}

void Dataset::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void Dataset::setCurrent(int row)
{
    m_eof = m_rows.isEmpty();
    if (m_current == row)
        return;
    m_current = row;
    emit currentChanged(row);
}

QVariant Dataset::fromStorage(const QVariant &stored, FieldType type) const
{
    if (stored.isNull())
        return {};
    switch (type) {
    case FieldType::Integer:
    case FieldType::AutoInc: {
        bool ok = false;
        const qlonglong number = stored.toLongLong(&ok);
        return ok ? QVariant(number) : stored;
    }
    case FieldType::Float:
        return stored.toDouble();
    case FieldType::DateTime: {
        const QDateTime dt = Regional::fromStorageText(stored.toString());
        return dt.isValid() ? QVariant(dt) : stored;
    }
    case FieldType::WideString:
    case FieldType::FixedWideString:
    case FieldType::Memo:
        return stored.toString();
    case FieldType::Unknown:
        break;
    }
    return stored;
}

void Dataset::open()
{
    if (isOpen())
        return;
    if (!m_connection)
        throw Error(QStringLiteral("%1: Missing Connection or ConnectionString").arg(m_name));
    sqlite3 *db = m_connection->handle();

    // The rows are read with their row ids wherever the statement allows it, so that
    // changes can be written back to the one table they come from.
    QString plain;
    if (!m_tableName.isEmpty())
        plain = QStringLiteral("SELECT * FROM %1").arg(quoteIdentifier(m_tableName));
    else
        plain = m_connection->translate(m_commandText);
    std::unique_ptr<Statement> statement;
    int skip = 0;
    const QString trimmed = plain.trimmed();
    if (trimmed.startsWith(QLatin1String("select"), Qt::CaseInsensitive) && trimmed.size() > 6
        && trimmed[6].isSpace()) {
        try {
            statement = std::make_unique<Statement>(
                db, QStringLiteral("SELECT rowid AS %1, %2").arg(kRowidAlias, trimmed.mid(7)));
            skip = 1;
        } catch (const Error &) {
            statement.reset();
        }
    }
    if (!statement)
        statement = std::make_unique<Statement>(db, plain);

    // What each result column is.
    sqlite3_stmt *stmt = statement->handle();
    const int count = statement->columnCount();
    QVector<Column> result;
    QString base;
    bool oneTable = skip == 1;
    for (int i = skip; i < count; ++i) {
        Column column;
        const QString name = QString::fromUtf8(sqlite3_column_name(stmt, i));
        const char *table = sqlite3_column_table_name(stmt, i);
        const char *origin = sqlite3_column_origin_name(stmt, i);
        if (table && origin) {
            column.def = m_connection->column(QString::fromUtf8(table), QString::fromUtf8(origin));
            column.origin = QString::fromUtf8(origin);
            if (base.isEmpty())
                base = QString::fromUtf8(table);
            else if (base.compare(QString::fromUtf8(table), Qt::CaseInsensitive) != 0)
                oneTable = false;
        } else {
            const char *declared = sqlite3_column_decltype(stmt, i);
            column.def = fieldFromDeclaredType(name, QString::fromUtf8(declared ? declared : ""), false);
            oneTable = false;
        }
        column.def.name = name;
        result.push_back(column);
    }

    // The fields offered, and where each comes from.
    QVector<Column> fields;
    QVector<int> sources;
    if (m_declared.isEmpty()) {
        fields = result;
        for (int i = 0; i < result.size(); ++i)
            sources.push_back(i + skip);
    } else {
        for (const FieldDef &declared : m_declared) {
            const auto it = std::find_if(result.cbegin(), result.cend(), [&](const Column &c) {
                return c.def.name.compare(declared.name, Qt::CaseInsensitive) == 0;
            });
            if (it == result.cend())
                throw Error(QStringLiteral("%1: Field '%2' not found").arg(m_name, declared.name));
            if (it->def.type != FieldType::Unknown && !fieldTypesCompatible(declared.type, it->def.type))
                throw Error(QStringLiteral("%1: Type mismatch for field '%2', expecting: %3 actual: %4")
                                .arg(m_name, declared.name, fieldTypeName(declared.type),
                                     fieldTypeName(it->def.type)));
            Column column = *it;
            column.def = declared;
            fields.push_back(column);
            sources.push_back(int(it - result.cbegin()) + skip);
        }
    }

    QVector<Row> rows;
    int order = 0;
    while (statement->step()) {
        Row row;
        row.rowid = skip ? sqlite3_column_int64(stmt, 0) : -1;
        row.readOrder = order++;
        row.values.reserve(fields.size());
        for (int f = 0; f < fields.size(); ++f) {
            const QVariant stored = statement->column(sources[f]);
            // A computed column takes the type of the first value it holds.
            if (fields[f].def.type == FieldType::Unknown && !stored.isNull()) {
                switch (stored.typeId()) {
                case QMetaType::LongLong:
                    fields[f].def.type = FieldType::Integer;
                    break;
                case QMetaType::Double:
                    fields[f].def.type = FieldType::Float;
                    break;
                case QMetaType::QString:
                    fields[f].def.type = FieldType::WideString;
                    break;
                default:
                    break;
                }
            }
            row.values.push_back(fromStorage(stored, fields[f].def.type));
        }
        rows.push_back(std::move(row));
    }

    m_fields = fields;
    m_rows = std::move(rows);
    m_nextReadOrder = order;
    m_baseTable = oneTable ? (m_tableName.isEmpty() ? base : m_tableName) : QString();
    m_sortText.clear();
    m_current = m_rows.isEmpty() ? -1 : 0;
    m_eof = m_rows.isEmpty();
    setState(State::Browse);
    emit rowsReset();
    emit currentChanged(m_current);
    emit opened();
}

void Dataset::close()
{
    if (m_state == State::Inactive)
        return;
    m_rows.clear();
    m_fields.clear();
    m_buffer.clear();
    m_changed.clear();
    m_baseTable.clear();
    m_current = -1;
    m_eof = true;
    setState(State::Inactive);
    emit rowsReset();
    emit currentChanged(-1);
    emit closed();
}

int Dataset::recordCount() const
{
    return isOpen() ? int(m_rows.size()) : 0;
}

bool Dataset::eof() const
{
    return !isOpen() || m_rows.isEmpty() || m_eof;
}

void Dataset::moveTo(int row)
{
    requireOpen();
    if (m_rows.isEmpty())
        return;
    row = std::clamp(row, 0, int(m_rows.size()) - 1);
    if (row != m_current && isEditing())
        post();
    if (row >= m_rows.size()) // a failed insert may have gone
        row = int(m_rows.size()) - 1;
    setCurrent(row);
}

void Dataset::first()
{
    moveTo(0);
}

void Dataset::last()
{
    moveTo(int(m_rows.size()) - 1);
}

void Dataset::prior()
{
    moveTo(m_current - 1);
}

void Dataset::next()
{
    requireOpen();
    if (m_current >= m_rows.size() - 1) {
        if (isEditing())
            post();
        m_eof = true;
        return;
    }
    moveTo(m_current + 1);
}

int Dataset::fieldIndex(const QString &name) const
{
    for (int i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].def.name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int Dataset::fieldByName(const QString &name) const
{
    requireOpen();
    const int index = fieldIndex(name);
    if (index < 0)
        throw Error(QStringLiteral("%1: Field '%2' not found").arg(m_name, name));
    return index;
}

QVariant Dataset::valueAt(int row, int field) const
{
    if (!isOpen() || row < 0 || row >= m_rows.size() || field < 0 || field >= m_fields.size())
        return {};
    if (row == m_current && isEditing())
        return m_buffer.at(field);
    return m_rows.at(row).values.at(field);
}

QString Dataset::textAt(int row, int field) const
{
    const QVariant v = valueAt(row, field);
    if (v.isNull())
        return {};
    if (v.typeId() == QMetaType::QDateTime)
        return Regional::displayDateTime(v.toDateTime());
    return v.toString();
}

QVariant Dataset::value(int field) const
{
    requireOpen();
    if (m_current < 0)
        return {};
    return valueAt(m_current, field);
}

QString Dataset::text(int field) const
{
    requireOpen();
    return m_current < 0 ? QString() : textAt(m_current, field);
}

QVariant Dataset::value(const QString &name) const
{
    return value(fieldByName(name));
}

QString Dataset::text(const QString &name) const
{
    return text(fieldByName(name));
}

qlonglong Dataset::integer(const QString &name) const
{
    const QVariant v = value(name);
    if (v.isNull())
        return 0;
    bool ok = false;
    const qlonglong number = v.toLongLong(&ok);
    if (!ok)
        throw Error(QStringLiteral("“%1”不是有效的整数").arg(v.toString()));
    return number;
}

QVariant Dataset::converted(int field, const QVariant &value) const
{
    const FieldDef &def = m_fields.at(field).def;
    if (value.isNull())
        return {};
    const bool isString = value.typeId() == QMetaType::QString;
    const QString text = value.toString();
    switch (def.type) {
    case FieldType::WideString:
    case FieldType::FixedWideString:
    case FieldType::Memo:
        // An empty text is stored as no value; a longer text is cut to the column's size.
        if (text.isEmpty())
            return {};
        return def.size > 0 ? text.left(def.size) : text;
    case FieldType::Integer:
    case FieldType::AutoInc: {
        if (isString && text.trimmed().isEmpty())
            return {};
        bool ok = false;
        const qlonglong number = isString ? text.trimmed().toLongLong(&ok) : value.toLongLong(&ok);
        if (!ok)
            throw Error(QStringLiteral("“%1”不是有效的整数").arg(text));
        return number;
    }
    case FieldType::Float: {
        if (isString && text.trimmed().isEmpty())
            return {};
        bool ok = false;
        const double number = isString ? text.trimmed().toDouble(&ok) : value.toDouble(&ok);
        if (!ok)
            throw Error(QStringLiteral("“%1”不是有效的数值").arg(text));
        return number;
    }
    case FieldType::DateTime: {
        if (value.typeId() == QMetaType::QDateTime)
            return value;
        if (value.typeId() == QMetaType::QDate)
            return QDateTime(value.toDate(), QTime(0, 0));
        if (text.trimmed().isEmpty())
            return {};
        const QDateTime dt = Regional::parseDateTime(text);
        if (!dt.isValid())
            throw Error(QStringLiteral("“%1”不是有效的日期时间").arg(text));
        return dt;
    }
    case FieldType::Unknown:
        break;
    }
    return value;
}

void Dataset::setValue(int field, const QVariant &value)
{
    requireRow();
    if (!isEditing())
        throw Error(QStringLiteral("%1: Dataset not in edit or insert mode").arg(m_name));
    if (field < 0 || field >= m_fields.size())
        throw Error(QStringLiteral("%1: Field index out of range").arg(m_name));
    m_buffer[field] = converted(field, value);
    m_changed[field] = true;
    emit rowChanged(m_current);
}

void Dataset::setText(int field, const QString &text)
{
    setValue(field, QVariant(text));
}

void Dataset::setValue(const QString &name, const QVariant &value)
{
    setValue(fieldByName(name), value);
}

void Dataset::setText(const QString &name, const QString &text)
{
    setValue(fieldByName(name), QVariant(text));
}

void Dataset::edit()
{
    requireOpen();
    if (isEditing())
        return;
    if (!canModify())
        throw Error(QStringLiteral("%1: 数据集是只读的，不能修改").arg(m_name));
    requireRow();
    m_buffer = m_rows[m_current].values;
    m_changed = QVector<bool>(m_fields.size(), false);
    setState(State::Edit);
}

void Dataset::append()
{
    requireOpen();
    if (!canModify())
        throw Error(QStringLiteral("%1: 数据集是只读的，不能添加").arg(m_name));
    if (isEditing())
        post();
    Row row;
    row.readOrder = m_nextReadOrder++;
    row.values = QVector<QVariant>(m_fields.size());
    m_beforeInsert = m_current;
    m_rows.push_back(row);
    m_buffer = row.values;
    m_changed = QVector<bool>(m_fields.size(), false);
    // The dataset is consistent before anyone hears of the change: a view that moves its
    // own current row in answer must find the new row current already.
    m_current = int(m_rows.size()) - 1;
    m_eof = false;
    m_state = State::Insert;
    emit rowInserted(m_current);
    emit stateChanged(m_state);
    emit currentChanged(m_current);
}

void Dataset::addPostHook(QObject *owner, std::function<void()> hook)
{
    m_postHooks.push_back({QPointer<QObject>(owner), std::move(hook)});
}

void Dataset::post()
{
    requireOpen();
    if (!isEditing())
        return;
    m_postHooks.erase(std::remove_if(m_postHooks.begin(), m_postHooks.end(),
                                     [](const auto &hook) { return hook.first.isNull(); }),
                      m_postHooks.end());
    const auto hooks = m_postHooks;
    for (const auto &hook : hooks)
        hook.second();
    if (!isEditing())
        return;
    sqlite3 *db = m_connection->handle();
    Row &row = m_rows[m_current];
    QStringList columns;
    QVector<QVariant> values;
    for (int f = 0; f < m_fields.size(); ++f) {
        const bool wanted = m_state == State::Insert ? !m_buffer[f].isNull() && m_fields[f].def.type != FieldType::AutoInc
                                                     : m_changed[f];
        if (!wanted)
            continue;
        columns << quoteIdentifier(m_fields[f].origin.isEmpty() ? m_fields[f].def.name : m_fields[f].origin);
        values << m_buffer[f];
    }
    if (m_state == State::Insert) {
        QString sql;
        if (columns.isEmpty()) {
            sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoteIdentifier(m_baseTable));
        } else {
            QStringList marks;
            for (int i = 0; i < columns.size(); ++i)
                marks << QStringLiteral("?");
            sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                      .arg(quoteIdentifier(m_baseTable), columns.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
        }
        Statement insert(db, sql);
        for (int i = 0; i < values.size(); ++i)
            insert.bind(i + 1, values[i]);
        insert.step();
        row.rowid = sqlite3_last_insert_rowid(db);
        for (int f = 0; f < m_fields.size(); ++f) {
            if (m_fields[f].def.type == FieldType::AutoInc)
                m_buffer[f] = row.rowid;
        }
    } else if (!columns.isEmpty()) {
        QStringList sets;
        for (const QString &column : columns)
            sets << column + QStringLiteral("=?");
        Statement update(db, QStringLiteral("UPDATE %1 SET %2 WHERE rowid=?")
                                 .arg(quoteIdentifier(m_baseTable), sets.join(QLatin1Char(','))));
        for (int i = 0; i < values.size(); ++i)
            update.bind(i + 1, values[i]);
        update.bind(int(values.size()) + 1, row.rowid);
        update.step();
        if (sqlite3_changes(db) == 0)
            throw Error(QStringLiteral("%1: Row cannot be located for updating. Some values may have been changed "
                                       "since it was last read.").arg(m_name));
    }
    row.values = m_buffer;
    m_buffer.clear();
    m_changed.clear();
    setState(State::Browse);
    emit rowChanged(m_current);
}

void Dataset::cancel()
{
    requireOpen();
    if (m_state == State::Insert) {
        const int at = m_current;
        m_rows.removeAt(at);
        m_buffer.clear();
        m_changed.clear();
        m_state = State::Browse;
        m_current = m_beforeInsert >= 0 && m_beforeInsert < m_rows.size() ? m_beforeInsert : int(m_rows.size()) - 1;
        m_eof = m_rows.isEmpty();
        emit rowRemoved(at);
        emit stateChanged(m_state);
        emit currentChanged(m_current);
    } else if (m_state == State::Edit) {
        m_buffer.clear();
        m_changed.clear();
        setState(State::Browse);
        emit rowChanged(m_current);
    }
}

void Dataset::deleteRecord()
{
    requireRow();
    if (m_state == State::Insert) {
        cancel();
        return;
    }
    if (!canModify())
        throw Error(QStringLiteral("%1: 数据集是只读的，不能删除").arg(m_name));
    if (m_state == State::Edit)
        cancel();
    Statement remove(m_connection->handle(),
                     QStringLiteral("DELETE FROM %1 WHERE rowid=?").arg(quoteIdentifier(m_baseTable)));
    remove.bind(1, m_rows[m_current].rowid);
    remove.step();
    const int at = m_current;
    m_rows.removeAt(at);
    m_current = m_rows.isEmpty() ? -1 : std::min(at, int(m_rows.size()) - 1);
    m_eof = m_rows.isEmpty();
    emit rowRemoved(at);
    emit currentChanged(m_current);
}

void Dataset::sort(const QString &sortText)
{
    requireOpen();
    if (isEditing())
        post();
    const QStringList parts = sortText.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    int field = -1;
    bool descending = false;
    if (!parts.isEmpty()) {
        field = fieldByName(parts[0]);
        descending = parts.size() > 1 && parts[1].compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0;
    }
    const int currentOrder = m_current >= 0 ? m_rows[m_current].readOrder : -1;
    std::stable_sort(m_rows.begin(), m_rows.end(), [&](const Row &a, const Row &b) {
        if (field < 0)
            return a.readOrder < b.readOrder;
        const int c = compareValues(a.values[field], b.values[field]);
        return descending ? c > 0 : c < 0;
    });
    m_sortText = sortText;
    emit rowsReset();
    if (currentOrder >= 0) {
        const auto it = std::find_if(m_rows.cbegin(), m_rows.cend(),
                                     [&](const Row &r) { return r.readOrder == currentOrder; });
        m_current = -2;
        setCurrent(int(it - m_rows.cbegin()));
    }
}

void Dataset::setAppendOnly(bool appendOnly)
{
    close();
    m_appendOnly = appendOnly;
}

Dataset::Bookmark Dataset::bookmark() const
{
    return bookmarkAt(m_current);
}

Dataset::Bookmark Dataset::bookmarkAt(int row) const
{
    if (!isOpen() || row < 0 || row >= m_rows.size())
        return 0;
    return m_rows[row].rowid > 0 ? m_rows[row].rowid : 0;
}

int Dataset::rowOf(Bookmark bookmark) const
{
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].rowid == bookmark)
            return i;
    }
    return -1;
}

bool Dataset::gotoBookmark(Bookmark bookmark)
{
    const int row = rowOf(bookmark);
    if (row < 0)
        return false;
    moveTo(row);
    return true;
}

int Dataset::deleteBookmarks(const QVector<Bookmark> &bookmarks)
{
    int deleted = 0;
    for (Bookmark b : bookmarks) {
        if (gotoBookmark(b)) {
            deleteRecord();
            ++deleted;
        }
    }
    return deleted;
}

} // namespace dagl

