#include "Dataset.h"

#include "Collation.h"
#include "Connection.h"
#include "Error.h"
#include "Regional.h"
#include "RowSource.h"
#include "RowWriter.h"

#include <QDebug>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace dagl {

namespace {

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
    if (connection) {
        connect(connection, &Connection::closing, this, &Dataset::close);
        connect(connection, &Connection::reconnected, this, &Dataset::readsBack);
    }
}

void Dataset::noteReadFailure(const Error &error) const
{
    if (m_readFailed)
        return;
    m_readFailed = true;
    qWarning().noquote() << m_name << "rows not read:" << error.logText();
    // Told once the read is over: the grid asking is painting or scrolling now.
    auto *self = const_cast<Dataset *>(this);
    const QString message = error.message();
    QTimer::singleShot(0, self, [self, message] { emit self->readFailed(message); });
}

// The connection is back: rows that could not be read are read again as they are shown.
void Dataset::readsBack()
{
    if (!m_readFailed)
        return;
    m_readFailed = false;
    m_lastKey = kPending;
    if (isOpen())
        emit rowsReset();
}

void Dataset::refresh()
{
    requireNotPending();
    if (!isOpen()) {
        open();
        return;
    }
    const Bookmark current = bookmark();
    const int place = m_current;
    if (m_source && !m_appendOnly && !m_keyReader) {
        // The keys in the present order, read anew; the rows come fresh as they are shown.
        QVector<qlonglong> keys = m_source->readKeys();
        m_keys = std::move(keys);
        m_cache.clear();
        m_lastKey = kPending;
        m_readFailed = false;
    } else {
        const QString order = m_sortText;
        close();
        open();
        if (!order.isEmpty())
            sort(order);
    }
    emit rowsReset();
    int row = m_source ? rowOf(current) : -1;
    if (row < 0)
        row = m_keys.isEmpty() ? -1 : std::clamp(place, 0, int(m_keys.size()) - 1);
    m_current = -2;
    setCurrent(row);
}

void Dataset::setRowDriver(std::shared_ptr<RowDriver> driver)
{
    close();
    m_driver = std::move(driver);
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
        if (stored.typeId() == QMetaType::QDateTime) // a server that keeps dates typed
            return stored;
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
    if (!m_driver && !m_connection)
        throw Error(QStringLiteral("%1: Missing Connection or ConnectionString").arg(m_name));
    std::shared_ptr<RowDriver> rows = m_driver;
    if (!rows)
        rows = m_connection->rowDriver();

    // A plain select of one table is read by key, its rows fetched a page at a time; any
    // other statement is read whole.
    RowQuery query;
    query.table = m_tableName;
    query.sql = m_commandText;
    query.soonest = bool(m_keyReader);
    std::unique_ptr<KeyedRowSource> source = rows->keyedRows(query);
    std::unique_ptr<ResultRows> whole;
    if (!source)
        whole = rows->wholeResult(query);
    const QVector<SourceColumn> &result = source ? source->columns() : whole->columns();

    // The fields offered, and where each comes from.
    QVector<Column> fields;
    if (m_declared.isEmpty()) {
        for (int i = 0; i < result.size(); ++i)
            fields.push_back({result[i].def, result[i].origin, i});
    }
    for (const FieldDef &declared : std::as_const(m_declared)) {
        const auto it = std::find_if(result.cbegin(), result.cend(), [&](const SourceColumn &c) {
            return c.def.name.compare(declared.name, Qt::CaseInsensitive) == 0;
        });
        if (it == result.cend())
            throw Error(QStringLiteral("%1: Field '%2' not found").arg(m_name, declared.name));
        if (it->def.type != FieldType::Unknown && !fieldTypesCompatible(declared.type, it->def.type))
            throw Error(QStringLiteral("%1: Type mismatch for field '%2', expecting: %3 actual: %4")
                            .arg(m_name, declared.name, fieldTypeName(declared.type), fieldTypeName(it->def.type)));
        fields.push_back({declared, it->origin, int(it - result.cbegin())});
    }
    m_fields = fields;
    m_rows = rows;

    try {
        if (source) {
            m_source = std::move(source);
            m_baseTable = m_source->table();
            if (!m_appendOnly && m_keyReader) {
                m_keySource = m_keyReader(m_source->keyStatement(), m_source->soonestKeyStatement());
                m_keys.clear();
                if (m_keySource) {
                    m_keys = m_keySource->take(false);
                    if (m_keySource->atEnd())
                        m_keySource.reset();
                    else
                        m_keyTimer->start();
                }
            } else if (!m_appendOnly) {
                readKeys();
            }
        } else {
            readAll(*whole);
        }
    } catch (...) {
        m_keySource.reset();
        m_fields.clear();
        m_keys.clear();
        m_all.clear();
        m_source.reset();
        m_rows.reset();
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

void Dataset::readKeys()
{
    m_keys = m_source->readKeys();
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
        self->readKeys();
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

void Dataset::readAll(ResultRows &result)
{
    QVector<Values> rows;
    while (result.next()) {
        Values row;
        row.reserve(m_fields.size());
        for (Column &field : m_fields) {
            const QVariant stored = result.value(field.source);
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
    m_writer.reset();
    m_source.reset();
    m_rows.reset();
    m_fields.clear();
    m_asRead.clear();
    m_buffer.clear();
    m_changed.clear();
    m_baseTable.clear();
    m_current = -1;
    m_eof = true;
    m_readFailed = false;
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

Dataset::Values Dataset::valuesOf(const RowStream &row) const
{
    Values values;
    values.reserve(m_fields.size());
    for (const Column &field : m_fields)
        values.push_back(fromStorage(row.value(field.source), field.def.type));
    return values;
}

void Dataset::fetchPageAround(int row) const
{
    // The page the row lies in, so that a grid scrolling through the rows fetches each
    // page once.
    const int start = row - row % kPageRows;
    const int end = std::min(int(m_keys.size()), start + kPageRows);
    QVector<qlonglong> keys;
    for (int i = start; i < end; ++i) {
        const qlonglong key = m_keys[i];
        if (key != kPending && !m_cache.contains(key))
            keys.push_back(key);
    }
    if (keys.isEmpty())
        return;
    if (m_cache.size() + keys.size() > kCacheRows)
        m_cache.clear();
    m_source->fetch(keys, [this](const RowStream &fetched) { m_cache.insert(fetched.key(), valuesOf(fetched)); });
}

const Dataset::Values &Dataset::rowValues(int row) const
{
    static const Values none;
    const qlonglong key = m_keys.at(row);
    if (!m_source)
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

// The values of a row the dataset holds now, without reading it; null when it holds none.
const Dataset::Values *Dataset::heldValues(qlonglong key) const
{
    if (key == m_lastKey)
        return &m_lastValues;
    const auto it = m_cache.constFind(key);
    return it == m_cache.constEnd() ? nullptr : &*it;
}

QVariant Dataset::valueAt(int row, int field) const
{
    if (!isOpen() || row < 0 || row >= m_keys.size() || field < 0 || field >= m_fields.size())
        return {};
    if (row == m_current && isEditing())
        return m_buffer.at(field);
    const qlonglong key = m_keys.at(row);
    if (m_readFailed && m_source && key != m_lastKey && !m_cache.contains(key))
        return {};
    try {
        const Values &values = rowValues(row);
        return field < values.size() ? values.at(field) : QVariant();
    } catch (const Error &error) {
        // A grid asks while painting: the row shows empty, and the failure is told after.
        noteReadFailure(error);
        return {};
    }
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
    m_asRead = stored;
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

RowWriter &Dataset::writer()
{
    if (!m_writer) {
        QStringList columns;
        for (const Column &field : std::as_const(m_fields))
            columns << (field.origin.isEmpty() ? field.def.name : field.origin);
        m_writer = m_rows->writer(m_baseTable, columns);
    }
    return *m_writer;
}

// A write the server refused is told in the writer's words, or else in the dataset's.
void Dataset::throwRefusal(const WriteResult &result, bool deleting) const
{
    if (!result.message.isEmpty())
        throw Error(result.message, Cause::Conflict);
    if (!deleting)
        throw Error(result.outcome == WriteOutcome::DeletedByOther
                ? QStringLiteral("该记录已被删除，未保存。")
                : QStringLiteral("%1: Row cannot be located for updating. Some values may have been changed "
                                 "since it was last read.")
                      .arg(m_name),
            Cause::Conflict);
    throw Error(result.outcome == WriteOutcome::DeletedByOther
            ? QStringLiteral("该记录已被删除，不能再删除。")
            : QStringLiteral("该记录在读出后已被修改，未删除。请重新打开列表后再删除。"),
        Cause::Conflict);
}

bool Dataset::writeInsert()
{
    QVector<ColumnValue> values;
    for (int f = 0; f < m_fields.size(); ++f) {
        if (!m_buffer[f].isNull() && m_fields[f].def.type != FieldType::AutoInc)
            values.push_back({f, m_buffer[f]});
    }
    const WriteResult result = writer().insert(values);
    if (!result.done())
        throwRefusal(result, false);
    for (int f = 0; f < m_fields.size(); ++f) {
        if (m_fields[f].def.type == FieldType::AutoInc)
            m_buffer[f] = result.key;
    }
    m_keys[m_current] = result.key;
    return result.readAgain;
}

bool Dataset::writeUpdate()
{
    QVector<ColumnValue> changes;
    for (int f = 0; f < m_fields.size(); ++f) {
        if (m_changed[f])
            changes.push_back({f, m_buffer[f]});
    }
    if (changes.isEmpty())
        return false;
    const WriteResult result = writer().update({m_keys[m_current], m_asRead}, changes);
    if (!result.done())
        throwRefusal(result, false);
    return result.readAgain;
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
    bool readAgain = false;
    m_lostWrite = false;
    try {
        readAgain = m_state == State::Insert ? writeInsert() : writeUpdate();
    } catch (const Error &error) {
        // The server may have stored it and the answer got lost: looked for once it is back.
        m_lostWrite = error.cause() == Cause::ConnectionLost;
        throw;
    }
    posted(readAgain);
}

bool Dataset::lostSaveStored()
{
    const bool lost = m_lostWrite;
    m_lostWrite = false;
    if (!lost || !isEditing() || !m_writer)
        return false;
    qlonglong key = 0;
    if (!m_writer->lostWriteStored(key))
        return false;
    if (m_state == State::Insert) {
        for (int f = 0; f < m_fields.size(); ++f) {
            if (m_fields[f].def.type == FieldType::AutoInc)
                m_buffer[f] = key;
        }
        m_keys[m_current] = key;
    }
    posted(true);
    return true;
}

// The pending row is stored: the dataset holds it as saved.
void Dataset::posted(bool readAgain)
{
    const qlonglong key = m_keys[m_current];
    m_lastKey = kPending;
    if (m_appendOnly || readAgain)
        m_cache.remove(key); // appended rows are not read again here
    else
        remember(key, m_buffer);
    m_asRead.clear();
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
        m_asRead.clear();
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
    const Values *held = heldValues(key);
    const WriteResult result = writer().remove({key, held ? *held : Values()});
    // A row changed meanwhile stays; one already gone leaves the list, and either is told.
    if (result.outcome == WriteOutcome::ChangedByOther)
        throwRefusal(result, true);
    m_cache.remove(key);
    m_lastKey = kPending;
    const int at = m_current;
    m_keys.removeAt(at);
    m_current = m_keys.isEmpty() ? -1 : std::min(at, int(m_keys.size()) - 1);
    m_eof = m_keys.isEmpty();
    emit rowRemoved(at);
    emit currentChanged(m_current);
    if (!result.done())
        throwRefusal(result, true);
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
    if (m_source) {
        if (!m_appendOnly) {
            if (field < 0) {
                m_source->setOrder(QString(), false, false);
            } else {
                const Column &by = m_fields.at(field);
                m_source->setOrder(by.origin.isEmpty() ? by.def.name : by.origin, by.def.isText(), descending);
            }
            readKeys();
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
    if (!dataset.m_source || dataset.m_appendOnly)
        return; // rows read whole are at hand already
    m_rows = dataset.m_source->rowsInOrder();
}

Dataset::RowTexts::~RowTexts() = default;

bool Dataset::RowTexts::advanceTo(int row)
{
    if (!m_rows || m_done || row <= m_row)
        return false;
    while (m_row < row) {
        if (!m_rows->next()) {
            m_done = true;
            return false;
        }
        ++m_row;
    }
    // A row out of step with the keys (changed meanwhile) is not taken from here.
    if (m_row >= m_dataset.m_keys.size() || m_rows->key() != m_dataset.m_keys.at(m_row))
        return false;
    for (int i = 0; i < m_fields.size(); ++i) {
        const Column &field = m_dataset.m_fields.at(m_fields.at(i));
        const QVariant value = m_dataset.fromStorage(m_rows->value(field.source), field.def.type);
        m_texts[i] = value.typeId() == QMetaType::QDateTime ? Regional::displayDateTime(value.toDateTime())
                                                            : value.toString();
    }
    return true;
}

QString Dataset::RowTexts::text(int row, int column)
{
    const int field = m_fields.at(column);
    if (row == m_dataset.m_current && m_dataset.isEditing())
        return m_dataset.textAt(row, field);
    if (row == m_row && m_rows && !m_done && m_rows->key() == m_dataset.m_keys.value(row))
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
    return m_source ? m_keys[row] : m_keys[row] + 1;
}

int Dataset::rowOf(Bookmark bookmark) const
{
    if (!isOpen() || bookmark == 0)
        return -1;
    const qlonglong key = m_source ? bookmark : bookmark - 1;
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
    QVector<Bookmark> ordered = bookmarks;
    std::sort(ordered.begin(), ordered.end());
    ordered.erase(std::unique(ordered.begin(), ordered.end()), ordered.end());
    QVector<RowImage> rows;
    rows.reserve(ordered.size());
    for (const Bookmark key : std::as_const(ordered)) {
        const Values *held = heldValues(key);
        rows.push_back({key, held ? *held : Values()});
    }
    const bool everyRow = m_source->wholeTable() && ordered.size() == m_keys.size();
    QVector<qlonglong> gone = writer().removeRows(rows, everyRow);
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
