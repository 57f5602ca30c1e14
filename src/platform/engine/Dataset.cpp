#include "Dataset.h"

#include "Collation.h"
#include "Connection.h"
#include "Error.h"
#include "Regional.h"
#include "SearchIndex.h"
#include "SelectShape.h"
#include "SortKeys.h"
#include "Sqlite.h"

#include <QDebug>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace dagl {

namespace {

const QString kKeyAlias = QStringLiteral("__dagl_key");
constexpr qlonglong kPending = std::numeric_limits<qlonglong>::min();
constexpr int kPageRows = 256;
constexpr int kCacheRows = 16 * kPageRows;
constexpr int kKeyTakeMs = 40; // between two takes of keys read apart

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
    return Collation::compare(a.toString(), b.toString());
}

// The statement of the keys shaped to give its first keys soonest: when the rows that may
// match are too many to sort at once, an index in the statement's order is walked and each of
// its rows checked, so the first keys come at once. Only where the engine does walk such an
// index; otherwise the statement of the keys as it is.
QString soonestKeys(sqlite3 *db, const SelectShape &shape, const QString &walkWhere, const QString &keySql)
{
    if (walkWhere.isEmpty() || shape.orderBy.isEmpty())
        return keySql;
    SelectShape walking = shape;
    walking.where = walkWhere;
    const QString sql = walking.keyStatement(SelectShape::AsWritten);
    try {
        Statement plan(db, QStringLiteral("EXPLAIN QUERY PLAN ") + sql);
        while (plan.step()) {
            if (plan.column(3).toString().contains(QLatin1String("ORDER BY")))
                return keySql; // sorted, not walked
        }
    } catch (const Error &) {
        return keySql;
    }
    return sql;
}

} // namespace

Dataset::Dataset(const QString &name, QObject *parent) : QObject(parent), m_name(name)
{
    setObjectName(name);
    // Keys read apart are taken over while the windows show the first of them.
    m_keyTimer = new QTimer(this);
    m_keyTimer->setInterval(kKeyTakeMs);
    connect(m_keyTimer, &QTimer::timeout, this, [this] {
        try {
            takeKeys(false);
        } catch (const Error &error) {
            qWarning().noquote() << m_name << "rows not read:" << error.message();
        }
    });
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

void Dataset::setAppendOnly(bool appendOnly)
{
    close();
    m_appendOnly = appendOnly;
}

void Dataset::requireOpen() const
{
    if (m_state == State::Inactive)
        throw Error(QStringLiteral("%1: Cannot perform this operation on a closed dataset").arg(m_name));
}

void Dataset::requireRow() const
{
    requireOpen();
    if (m_current < 0 || m_current >= m_keys.size())
        throw Error(QStringLiteral("%1: Cannot perform this operation on an empty dataset").arg(m_name));
}

void Dataset::requireNotPending() const
{
    if (isEditing())
        throw Error(QStringLiteral("当前记录尚未保存，请先保存或取消正在录入、修改的记录。"));
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
    m_eof = m_keys.isEmpty();
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

    SelectShape shape;
    QString plain;
    QString walkWhere; // the condition for walking an index in the statement's order
    if (!m_tableName.isEmpty()) {
        shape.plain = true;
        shape.selectList = QStringLiteral("*");
        shape.table = quoteIdentifier(m_tableName);
        plain = QStringLiteral("SELECT * FROM %1").arg(shape.table);
    } else {
        plain = m_connection->translate(m_commandText);
        shape = SelectShape::of(plain);
        // Fragments searched through the index read only the rows that may hold them.
        if (shape.plain && !shape.where.isEmpty())
            shape.where = SearchIndex::narrow(
                db, m_connection->searchIndex(), shape.table, shape.where, m_keyReader ? &walkWhere : nullptr);
    }

    // A plain select of one table is read by key: its rows are fetched a page at a time
    // from the statement below, which yields the same columns as the statement itself.
    std::unique_ptr<Statement> statement;
    int skip = 0;
    QString base;
    if (shape.plain) {
        QStringList marks;
        for (int i = 0; i < kPageRows; ++i)
            marks << QStringLiteral("?");
        try {
            statement = std::make_unique<Statement>(
                db, QStringLiteral("SELECT rowid AS %1, %2 FROM %3 WHERE rowid IN (%4)")
                        .arg(kKeyAlias, shape.selectList, shape.table, marks.join(QLatin1Char(','))));
            skip = 1;
        } catch (const Error &) {
            statement.reset();
        }
    }
    if (statement) {
        sqlite3_stmt *stmt = statement->handle();
        bool oneTable = true;
        for (int i = skip; i < statement->columnCount() && oneTable; ++i) {
            const char *table = sqlite3_column_table_name(stmt, i);
            const char *origin = sqlite3_column_origin_name(stmt, i);
            const QString name = table ? QString::fromUtf8(table) : QString();
            oneTable = table && origin && (base.isEmpty() || base.compare(name, Qt::CaseInsensitive) == 0);
            base = name;
        }
        if (!oneTable)
            statement.reset(); // a computed column: the rows are read whole
    }
    const bool lazy = statement != nullptr;
    if (!lazy) {
        skip = 0;
        base.clear();
        statement = std::make_unique<Statement>(db, plain);
    }

    // What each result column is.
    sqlite3_stmt *stmt = statement->handle();
    const int count = statement->columnCount();
    QVector<Column> result;
    for (int i = skip; i < count; ++i) {
        Column column;
        const QString name = QString::fromUtf8(sqlite3_column_name(stmt, i));
        const char *table = sqlite3_column_table_name(stmt, i);
        const char *origin = sqlite3_column_origin_name(stmt, i);
        if (table && origin) {
            column.def = m_connection->column(QString::fromUtf8(table), QString::fromUtf8(origin));
            column.origin = QString::fromUtf8(origin);
        } else {
            const char *declared = sqlite3_column_decltype(stmt, i);
            column.def = fieldFromDeclaredType(name, QString::fromUtf8(declared ? declared : ""), false);
        }
        column.def.name = name;
        column.source = i;
        result.push_back(column);
    }

    // The fields offered, and where each comes from.
    QVector<Column> fields;
    if (m_declared.isEmpty()) {
        fields = result;
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
        }
    }
    m_fields = fields;
    m_lazy = lazy;

    try {
        if (lazy) {
            m_keySql = shape.keyStatement(SelectShape::SortMatches);
            m_orderedRowsFrom.clear();
            m_selectList = shape.selectList;
            m_keyFrom = QStringLiteral("FROM ") + shape.table
                        + (shape.where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + shape.where);
            m_keyOrder = shape.orderBy;
            m_wholeTable = shape.where.isEmpty();
            m_pageStatement = std::move(statement);
            m_baseTable = m_tableName.isEmpty() ? base : m_tableName;
            if (!m_appendOnly && m_keyReader) {
                m_orderedKeySql = m_keySql;
                m_keySource = m_keyReader(m_keySql, soonestKeys(db, shape, walkWhere, m_keySql));
                m_keys.clear();
                if (m_keySource) {
                    m_keys = m_keySource->take(false);
                    if (m_keySource->atEnd())
                        m_keySource.reset();
                    else
                        m_keyTimer->start();
                }
            } else if (!m_appendOnly) {
                readKeys(m_keySql);
            }
        } else {
            readAll(*statement);
        }
    } catch (...) {
        m_keySource.reset();
        m_fields.clear();
        m_keys.clear();
        m_all.clear();
        m_pageStatement.reset();
        m_baseTable.clear();
        throw;
    }

    m_sortText.clear();
    m_current = m_keys.isEmpty() ? -1 : 0;
    m_eof = m_keys.isEmpty();
    setState(State::Browse);
    emit rowsReset();
    emit currentChanged(m_current);
    emit opened();
}

void Dataset::readKeys(const QString &sql)
{
    m_orderedKeySql = sql;
    Statement keys(m_connection->handle(), sql);
    QVector<qlonglong> read;
    read.reserve(std::max<qsizetype>(m_keys.size(), 1024));
    sqlite3_stmt *stmt = keys.handle();
    while (keys.step())
        read.push_back(sqlite3_column_int64(stmt, 0));
    m_keys = std::move(read);
}

void Dataset::takeKeys(bool wait) const
{
    if (!m_keySource)
        return;
    auto *self = const_cast<Dataset *>(this);
    QVector<qlonglong> keys;
    try {
        keys = m_keySource->take(wait);
    } catch (const Error &error) {
        // The read apart failed midway: the keys are read here instead, in the same order.
        qWarning().noquote() << m_name << "keys read here after:" << error.message();
        m_keySource.reset();
        m_keyTimer->stop();
        const Bookmark current = bookmark();
        self->readKeys(m_orderedKeySql);
        emit self->rowsReset();
        self->m_current = -2;
        const int row = current ? rowOf(current) : -1;
        self->setCurrent(row >= 0 ? row : (m_keys.isEmpty() ? -1 : 0));
        return;
    }
    const bool ended = m_keySource->atEnd();
    if (ended) {
        m_keySource.reset();
        m_keyTimer->stop();
    }
    if (keys.isEmpty()) {
        if (ended)
            emit self->rowsAppended(int(m_keys.size()), int(m_keys.size()) - 1);
        return;
    }
    const int first = int(m_keys.size());
    self->m_keys += keys;
    if (m_current < 0) {
        self->m_current = 0;
        self->m_eof = false;
    }
    emit self->rowsAppended(first, int(m_keys.size()) - 1);
}

void Dataset::readRemainingRows() const
{
    takeKeys(true);
}

void Dataset::readAll(Statement &statement)
{
    QVector<Values> rows;
    while (statement.step()) {
        Values row;
        row.reserve(m_fields.size());
        for (Column &field : m_fields) {
            const QVariant stored = statement.column(field.source);
            // A computed column takes the type of the first value it holds.
            if (field.def.type == FieldType::Unknown && !stored.isNull()) {
                switch (stored.typeId()) {
                case QMetaType::LongLong:
                    field.def.type = FieldType::Integer;
                    break;
                case QMetaType::Double:
                    field.def.type = FieldType::Float;
                    break;
                case QMetaType::QString:
                    field.def.type = FieldType::WideString;
                    break;
                default:
                    break;
                }
            }
            row.push_back(fromStorage(stored, field.def.type));
        }
        rows.push_back(std::move(row));
    }
    m_all = std::move(rows);
    m_keys.resize(m_all.size());
    for (int i = 0; i < m_all.size(); ++i)
        m_keys[i] = i;
}

void Dataset::close()
{
    if (m_state == State::Inactive)
        return;
    m_keySource.reset();
    m_keyTimer->stop();
    m_keys.clear();
    m_all.clear();
    m_cache.clear();
    m_lastKey = kPending;
    m_pageStatement.reset();
    m_insertStatement.reset();
    m_insertSql.clear();
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
    return isOpen() ? int(m_keys.size()) : 0;
}

bool Dataset::eof() const
{
    return !isOpen() || m_keys.isEmpty() || m_eof;
}

void Dataset::moveTo(int row)
{
    requireOpen();
    if (m_keys.isEmpty())
        return;
    row = std::clamp(row, 0, int(m_keys.size()) - 1);
    if (row != m_current)
        requireNotPending();
    setCurrent(row);
}

void Dataset::first()
{
    moveTo(0);
}

void Dataset::last()
{
    readRemainingRows();
    moveTo(int(m_keys.size()) - 1);
}

void Dataset::prior()
{
    moveTo(m_current - 1);
}

void Dataset::next()
{
    requireOpen();
    if (m_current >= m_keys.size() - 1)
        readRemainingRows();
    if (m_current >= m_keys.size() - 1) {
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

void Dataset::remember(qlonglong key, const Values &values) const
{
    if (m_cache.size() >= kCacheRows)
        m_cache.clear();
    m_cache.insert(key, values);
    m_lastKey = kPending;
}

void Dataset::fetchPageAround(int row) const
{
    // The page the row lies in, so that a grid scrolling through the rows fetches each
    // page once.
    const int start = row - row % kPageRows;
    const int end = std::min(int(m_keys.size()), start + kPageRows);
    Statement &page = *m_pageStatement;
    page.reset();
    int bound = 0;
    for (int i = start; i < end; ++i) {
        const qlonglong key = m_keys[i];
        if (key != kPending && !m_cache.contains(key))
            page.bind(++bound, key);
    }
    if (bound == 0)
        return;
    if (m_cache.size() + bound > kCacheRows)
        m_cache.clear();
    sqlite3_stmt *stmt = page.handle();
    while (page.step()) {
        Values values;
        values.reserve(m_fields.size());
        for (const Column &field : m_fields)
            values.push_back(fromStorage(page.column(field.source), field.def.type));
        m_cache.insert(sqlite3_column_int64(stmt, 0), values);
    }
    page.reset();
}

const Dataset::Values &Dataset::rowValues(int row) const
{
    static const Values none;
    const qlonglong key = m_keys.at(row);
    if (!m_lazy)
        return m_all.at(int(key));
    if (key == kPending)
        return none;
    // A grid asks for the fields of one row one after another.
    if (key == m_lastKey)
        return m_lastValues;
    auto it = m_cache.constFind(key);
    if (it == m_cache.constEnd()) {
        fetchPageAround(row);
        it = m_cache.constFind(key);
        if (it == m_cache.constEnd()) // deleted behind our back
            return none;
    }
    m_lastKey = key;
    m_lastValues = *it;
    return m_lastValues;
}

qlonglong Dataset::rowidAt(int row) const
{
    return m_lazy ? m_keys.at(row) : -1;
}

QVariant Dataset::valueAt(int row, int field) const
{
    if (!isOpen() || row < 0 || row >= m_keys.size() || field < 0 || field >= m_fields.size())
        return {};
    if (row == m_current && isEditing())
        return m_buffer.at(field);
    const Values &values = rowValues(row);
    return field < values.size() ? values.at(field) : QVariant();
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
        return cutToSize(text, def.size);
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
    readRemainingRows();
    const Values &stored = rowValues(m_current);
    m_buffer = stored.isEmpty() ? Values(m_fields.size()) : stored;
    m_changed = QVector<bool>(m_fields.size(), false);
    setState(State::Edit);
}

void Dataset::append()
{
    requireOpen();
    if (!canModify())
        throw Error(QStringLiteral("%1: 数据集是只读的，不能添加").arg(m_name));
    requireNotPending();
    readRemainingRows();
    m_beforeInsert = m_current;
    m_keys.push_back(kPending);
    m_buffer = Values(m_fields.size());
    m_changed = QVector<bool>(m_fields.size(), false);
    // The dataset is consistent before anyone hears of the change: a view that moves its
    // own current row in answer must find the new row current already.
    m_current = int(m_keys.size()) - 1;
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

void Dataset::writeInsert()
{
    sqlite3 *db = m_connection->handle();
    QStringList columns;
    Values values;
    for (int f = 0; f < m_fields.size(); ++f) {
        if (m_buffer[f].isNull() || m_fields[f].def.type == FieldType::AutoInc)
            continue;
        columns << quoteIdentifier(m_fields[f].origin.isEmpty() ? m_fields[f].def.name : m_fields[f].origin);
        values << m_buffer[f];
    }
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
    // Rows of the same shape (a batch import) share one prepared statement.
    if (sql != m_insertSql || !m_insertStatement) {
        m_insertStatement.reset();
        m_insertStatement = std::make_unique<Statement>(db, sql);
        m_insertSql = sql;
    }
    Statement &insert = *m_insertStatement;
    insert.reset();
    for (int i = 0; i < values.size(); ++i)
        insert.bind(i + 1, values[i]);
    insert.step();
    insert.reset();
    const qlonglong rowid = sqlite3_last_insert_rowid(db);
    for (int f = 0; f < m_fields.size(); ++f) {
        if (m_fields[f].def.type == FieldType::AutoInc)
            m_buffer[f] = rowid;
    }
    m_keys[m_current] = rowid;
}

void Dataset::writeUpdate()
{
    sqlite3 *db = m_connection->handle();
    QStringList sets;
    Values values;
    for (int f = 0; f < m_fields.size(); ++f) {
        if (!m_changed[f])
            continue;
        sets << quoteIdentifier(m_fields[f].origin.isEmpty() ? m_fields[f].def.name : m_fields[f].origin)
                    + QStringLiteral("=?");
        values << m_buffer[f];
    }
    if (sets.isEmpty())
        return;
    Statement update(db, QStringLiteral("UPDATE %1 SET %2 WHERE rowid=?")
                             .arg(quoteIdentifier(m_baseTable), sets.join(QLatin1Char(','))));
    for (int i = 0; i < values.size(); ++i)
        update.bind(i + 1, values[i]);
    update.bind(int(values.size()) + 1, rowidAt(m_current));
    update.step();
    if (sqlite3_changes(db) == 0)
        throw Error(QStringLiteral("%1: Row cannot be located for updating. Some values may have been changed "
                                   "since it was last read.")
                        .arg(m_name));
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
    if (m_state == State::Insert)
        writeInsert();
    else
        writeUpdate();
    const qlonglong key = m_keys[m_current];
    m_lastKey = kPending;
    if (m_appendOnly)
        m_cache.remove(key); // appended rows are not read again here
    else
        remember(key, m_buffer);
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
        m_keys.removeAt(at);
        m_buffer.clear();
        m_changed.clear();
        m_state = State::Browse;
        m_current = m_beforeInsert >= 0 && m_beforeInsert < m_keys.size() ? m_beforeInsert : int(m_keys.size()) - 1;
        m_eof = m_keys.isEmpty();
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
    readRemainingRows();
    const qlonglong key = m_keys[m_current];
    Statement remove(m_connection->handle(),
                     QStringLiteral("DELETE FROM %1 WHERE rowid=?").arg(quoteIdentifier(m_baseTable)));
    remove.bind(1, key);
    remove.step();
    m_cache.remove(key);
    m_lastKey = kPending;
    const int at = m_current;
    m_keys.removeAt(at);
    m_current = m_keys.isEmpty() ? -1 : std::min(at, int(m_keys.size()) - 1);
    m_eof = m_keys.isEmpty();
    emit rowRemoved(at);
    emit currentChanged(m_current);
}

bool Dataset::needsCollation(const QString &column) const
{
    // Text of digits, capitals and signs sorts the same by its bytes, which lets the engine
    // walk an index instead of sorting; any other character needs the operator's order.
    Statement probe(m_connection->handle(),
                    QStringLiteral("SELECT 1 FROM %1 WHERE %2 GLOB '*[^ -`{-~]*' LIMIT 1")
                        .arg(quoteIdentifier(m_baseTable), column));
    return probe.step();
}

QString Dataset::orderedKeyStatement(int field, bool descending)
{
    const Column &def = m_fields.at(field);
    const QString name = def.origin.isEmpty() ? def.def.name : def.origin;
    const QString column = quoteIdentifier(name);
    // The whole table in a column with kept keys: their index is walked.
    const SortKeys::Spec &kept = m_connection->sortKeys();
    sqlite3 *db = m_connection->handle();
    if (m_wholeTable && kept.covers(m_baseTable, name) && SortKeys::exists(db, name)) {
        try {
            SortKeys::refresh(db, kept.table, name);
            m_orderedRowsFrom = SortKeys::rowsFrom(quoteIdentifier(m_baseTable), name, descending);
            return SortKeys::keyStatement(name, descending);
        } catch (const Error &) {
            // Keys that cannot be brought up to date now (a read-only file): the rows are sorted.
        }
    }
    // A filtered result sorts its matches: walking an index of the whole table to pick out a
    // few rows costs far more.
    QString sql = QStringLiteral("SELECT rowid ") + m_keyFrom + QStringLiteral(" ORDER BY ")
        + (m_wholeTable ? QString() : QStringLiteral("+")) + column;
    if (def.def.isText() && needsCollation(column))
        sql += QStringLiteral(" COLLATE ") + QLatin1String(Collation::kName);
    if (descending)
        sql += QStringLiteral(" DESC");
    m_orderedRowsFrom.clear();
    return sql;
}

void Dataset::sort(const QString &sortText)
{
    requireOpen();
    requireNotPending();
    const QStringList parts = sortText.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    int field = -1;
    bool descending = false;
    if (!parts.isEmpty()) {
        field = fieldByName(parts[0]);
        descending = parts.size() > 1 && parts[1].compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0;
    }
    readRemainingRows();
    const Bookmark current = bookmark();
    if (m_lazy) {
        if (!m_appendOnly) {
            m_orderedRowsFrom.clear();
            readKeys(field < 0 ? m_keySql : orderedKeyStatement(field, descending));
        }
    } else {
        std::stable_sort(m_keys.begin(), m_keys.end(), [&](qlonglong a, qlonglong b) {
            if (field < 0)
                return a < b;
            const int c = compareValues(m_all[int(a)][field], m_all[int(b)][field]);
            return descending ? c > 0 : c < 0;
        });
    }
    m_sortText = sortText;
    emit rowsReset();
    const int row = current ? rowOf(current) : -1;
    m_current = -2;
    setCurrent(row >= 0 ? row : (m_keys.isEmpty() ? -1 : 0));
}

Dataset::RowTexts::RowTexts(const Dataset &dataset, const QVector<int> &fields)
    : m_dataset(dataset)
    , m_fields(fields)
    , m_texts(fields.size())
{
    dataset.requireOpen();
    dataset.readRemainingRows();
    if (!dataset.m_lazy || dataset.m_appendOnly || dataset.m_orderedKeySql.isEmpty())
        return; // rows read whole are at hand already
    // The statement the keys came from, giving the row's columns beside its key.
    const QString keyHead = QStringLiteral("SELECT rowid ");
    QString from = dataset.m_orderedRowsFrom;
    if (from.isEmpty() && dataset.m_orderedKeySql.startsWith(keyHead))
        from = dataset.m_orderedKeySql.mid(keyHead.size());
    if (from.isEmpty())
        return;
    // Only the table's own columns, whatever else the statement reads.
    const QString table = quoteIdentifier(dataset.m_baseTable);
    const QString list = dataset.m_selectList.trimmed() == QLatin1String("*") ? table + QStringLiteral(".*")
                                                                              : dataset.m_selectList;
    const QString sql = QStringLiteral("SELECT %1.rowid AS %2, %3 %4").arg(table, kKeyAlias, list, from);
    try {
        m_statement = std::make_unique<Statement>(dataset.m_connection->handle(), sql);
    } catch (const Error &) {
        m_statement.reset(); // looked up by key instead
    }
}

Dataset::RowTexts::~RowTexts() = default;

bool Dataset::RowTexts::advanceTo(int row)
{
    if (!m_statement || m_done || row <= m_row)
        return false;
    sqlite3_stmt *stmt = m_statement->handle();
    while (m_row < row) {
        if (!m_statement->step()) {
            m_done = true;
            return false;
        }
        ++m_row;
    }
    // A row out of step with the keys (changed meanwhile) is not taken from here.
    if (m_row >= m_dataset.m_keys.size() || sqlite3_column_int64(stmt, 0) != m_dataset.m_keys.at(m_row))
        return false;
    for (int i = 0; i < m_fields.size(); ++i) {
        const Column &field = m_dataset.m_fields.at(m_fields.at(i));
        const int source = field.source;
        const int type = sqlite3_column_type(stmt, source);
        QString &text = m_texts[i];
        if (type == SQLITE_NULL) {
            text.clear();
        } else if (type == SQLITE_TEXT && field.def.isText()) {
            text = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, source)),
                sqlite3_column_bytes(stmt, source));
        } else if (type == SQLITE_INTEGER
            && (field.def.type == FieldType::Integer || field.def.type == FieldType::AutoInc)) {
            text = QString::number(sqlite3_column_int64(stmt, source));
        } else {
            const QVariant value = m_dataset.fromStorage(m_statement->column(source), field.def.type);
            text = value.typeId() == QMetaType::QDateTime ? Regional::displayDateTime(value.toDateTime())
                                                           : value.toString();
        }
    }
    return true;
}

QString Dataset::RowTexts::text(int row, int column)
{
    const int field = m_fields.at(column);
    if (row == m_dataset.m_current && m_dataset.isEditing())
        return m_dataset.textAt(row, field);
    if (row == m_row && m_statement && !m_done
        && sqlite3_column_int64(m_statement->handle(), 0) == m_dataset.m_keys.value(row))
        return m_texts.at(column);
    // A jump far ahead (a preview's last page) is one lookup, not a walk through the rows.
    if (row > m_row && row - m_row <= kPageRows && advanceTo(row))
        return m_texts.at(column);
    return m_dataset.textAt(row, field);
}

Dataset::Bookmark Dataset::bookmark() const
{
    return bookmarkAt(m_current);
}

Dataset::Bookmark Dataset::bookmarkAt(int row) const
{
    if (!isOpen() || row < 0 || row >= m_keys.size() || m_keys[row] == kPending)
        return 0;
    // Rows read whole are known by their place in the result, counted from 1.
    return m_lazy ? m_keys[row] : m_keys[row] + 1;
}

int Dataset::rowOf(Bookmark bookmark) const
{
    if (!isOpen() || bookmark == 0)
        return -1;
    const qlonglong key = m_lazy ? bookmark : bookmark - 1;
    const int row = int(m_keys.indexOf(key));
    if (row >= 0 || !m_keySource)
        return row;
    readRemainingRows();
    return int(m_keys.indexOf(key));
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
    requireOpen();
    requireNotPending();
    if (!canModify())
        throw Error(QStringLiteral("%1: 数据集是只读的，不能删除").arg(m_name));
    if (bookmarks.isEmpty())
        return 0;
    readRemainingRows();
    std::vector<qlonglong> gone;
    gone.reserve(size_t(bookmarks.size()));
    {
        // In key order the rows are met in the order the file holds them.
        QVector<Bookmark> ordered = bookmarks;
        std::sort(ordered.begin(), ordered.end());
        ordered.erase(std::unique(ordered.begin(), ordered.end()), ordered.end());
        sqlite3 *db = m_connection->handle();
        // Each row leaves every index of its table: a larger page cache for the batch keeps
        // the indexes' pages at hand instead of reading and writing them again and again.
        const bool large = bookmarks.size() > kCacheRows;
        if (large)
            sqlite3_exec(db, "PRAGMA cache_size = -32768", nullptr, nullptr, nullptr);
        const auto restore = qScopeGuard([&] {
            if (large)
                sqlite3_exec(db, "PRAGMA cache_size = -2000", nullptr, nullptr, nullptr);
        });
        Transaction transaction(*m_connection);
        if (m_wholeTable) {
            // Every row of the whole table chosen: the engine empties it in one step.
            Statement count(db, QStringLiteral("SELECT count(*) ") + m_keyFrom);
            count.step();
            if (count.column(0).toLongLong() == ordered.size() && ordered.size() == m_keys.size()) {
                Statement(db, QStringLiteral("DELETE FROM %1").arg(quoteIdentifier(m_baseTable))).step();
                gone.assign(ordered.cbegin(), ordered.cend());
                ordered.clear();
            }
        }
        Statement remove(db, QStringLiteral("DELETE FROM %1 WHERE rowid=?").arg(quoteIdentifier(m_baseTable)));
        for (const Bookmark key : std::as_const(ordered)) {
            remove.bind(1, key);
            remove.step();
            if (sqlite3_changes(db) > 0)
                gone.push_back(key);
            remove.reset();
        }
        transaction.commit();
    }
    std::sort(gone.begin(), gone.end());
    const auto isGone = [&](qlonglong key) { return std::binary_search(gone.begin(), gone.end(), key); };
    const int oldCurrent = m_current;
    QVector<qlonglong> kept;
    kept.reserve(m_keys.size() - qsizetype(gone.size()));
    int newCurrent = -1;
    for (int i = 0; i < m_keys.size(); ++i) {
        const qlonglong key = m_keys[i];
        if (isGone(key)) {
            m_cache.remove(key);
            m_lastKey = kPending;
            continue;
        }
        if (newCurrent < 0 && i >= oldCurrent)
            newCurrent = int(kept.size()); // the current row or the first one after it that stays
        kept.push_back(key);
    }
    m_keys = std::move(kept);
    if (newCurrent < 0 || newCurrent >= m_keys.size())
        newCurrent = int(m_keys.size()) - 1;
    m_eof = m_keys.isEmpty();
    emit rowsReset();
    m_current = -2;
    setCurrent(newCurrent);
    return int(gone.size());
}

} // namespace dagl
