#pragma once

#include "Connection.h"
#include "Field.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QVector>

#include <QHash>

#include <functional>
#include <limits>
#include <memory>

QT_FORWARD_DECLARE_CLASS(QTimer)

namespace dagl {

class Error;
class KeyedRowSource;
class ResultRows;
class RowDriver;
class RowStream;
class RowWriter;
struct WriteResult;

// A set of rows from a query or a whole table with a current row. Rows are changed
// through the current row: edit or append, set fields, then post or cancel. Every window
// bound to the same dataset shares its current row and sees its changes through the
// signals. Failures throw dagl::Error.
//
// A whole table or a plain single-table select is read lazily: opening reads only the keys
// of its rows in the statement's order; the rows themselves are fetched by key in pages
// when they are asked for and kept in a small cache. Such a dataset may write rows back.
// Any other statement (grouped, joined, ...) is read whole at opening and is read-only.
// Rows are read and written through the connection's RowDriver (see RowSource, RowWriter),
// which knows the server; the dataset keeps the current row, the order and the edit.
//
// A pending row (edit or insert state) is never posted behind the operator's back: moving
// to another row, appending or sorting while a row is pending is refused with an error;
// the window that started the change posts or cancels it.
//
// Declared fields fix the columns the dataset offers: each must be in the result with a
// compatible type, or open() fails with "Field '%s' not found" or "Type mismatch for
// field '%s', expecting: %s actual: %s". Without declared fields the dataset offers the
// columns of whatever statement it last ran.
class Dataset : public QObject
{
    Q_OBJECT

public:
    enum class State { Inactive, Browse, Edit, Insert };
    // A row's lasting identity (its key in the table), valid while the row exists, whatever
    // sorts, appends and deletes move it to another position. 0 for no row.
    using Bookmark = qlonglong;

    explicit Dataset(const QString &name, QObject *parent = nullptr);
    ~Dataset() override;

    void setConnection(Connection *connection);
    Connection *connection() const { return m_connection; }
    // Rows read and written through `driver` instead of the connection's own; none for the
    // connection's. Takes effect at the next open().
    void setRowDriver(std::shared_ptr<RowDriver> driver);

    // A query dataset runs its command text; a table dataset reads a whole table.
    void setCommandText(const QString &sql);
    const QString &commandText() const { return m_commandText; }
    void setTableName(const QString &table);
    const QString &tableName() const { return m_tableName; }
    void setDeclaredFields(const QVector<FieldDef> &fields) { m_declared = fields; }
    // An append-only dataset reads no rows when opened: it only takes new ones, each
    // written by one prepared statement reused for every post.
    void setAppendOnly(bool appendOnly);
    bool isAppendOnly() const { return m_appendOnly; }

    void open();
    void close();
    // Reads the rows again, so that what other workstations added, changed and deleted
    // shows: the order stays, and the current row where it still exists (else the row now
    // at its place). Opens a closed dataset; refused while a row is pending.
    void refresh();
    // Keys of a lazily read result read elsewhere (on another thread, say) and handed over
    // as they come.
    class KeySource {
    public:
        virtual ~KeySource() = default;
        // The keys read since the last call; with `wait`, every key left. Throws dagl::Error.
        virtual QVector<qlonglong> take(bool wait) = 0;
        virtual bool atEnd() const = 0;
    };
    // Reads the keys of a lazily read result for open() instead of the dataset's own
    // connection; none for the dataset's own reading. It is given the statement of the keys
    // in the result's order and the same statement shaped to give its first keys soonest
    // (walking an index in that order), and returns the source of the keys after their first
    // screen is read, or null when the operator stopped the read (the result is then empty).
    // While the rest comes the dataset shows what it has (recordCount() grows, rowsAppended
    // tells of it); anything that needs every row (moving to the last, sorting, changing a
    // row, bookmarks of unread rows, RowTexts) waits for the rest first.
    using KeyReader = std::function<std::unique_ptr<KeySource>(const QString &sql, const QString &soonest)>;
    void setKeyReader(KeyReader reader) { m_keyReader = std::move(reader); }
    // Waits for the keys still to come, if any.
    void readRemainingRows() const;
    bool allRowsRead() const { return !m_keySource; }
    bool isOpen() const { return m_state != State::Inactive; }
    // Throws the closed-dataset error unless the dataset is open.
    void requireOpen() const;
    State state() const { return m_state; }
    bool isEditing() const { return m_state == State::Edit || m_state == State::Insert; }
    bool canModify() const { return !m_baseTable.isEmpty(); }

    // Rows and the current row.
    int recordCount() const;
    int currentRow() const { return m_current; } // -1 when there is none
    bool isEmpty() const { return recordCount() == 0; }
    bool eof() const;
    void first();
    void next();
    void prior();
    void last();
    void moveTo(int row);

    // Bookmarks: rows by identity rather than by position.
    Bookmark bookmark() const; // of the current row
    Bookmark bookmarkAt(int row) const;
    int rowOf(Bookmark bookmark) const; // -1 when the row is gone
    bool gotoBookmark(Bookmark bookmark);
    // Deletes the rows in one transaction: all of them or, on an error, none. Returns how
    // many were deleted (rows already gone are skipped).
    int deleteBookmarks(const QVector<Bookmark> &bookmarks);

    // Fields.
    int fieldCount() const { return int(m_fields.size()); }
    const FieldDef &fieldDef(int index) const { return m_fields.at(index).def; }
    int fieldIndex(const QString &name) const; // -1 when missing
    int fieldByName(const QString &name) const; // throws "Field '%s' not found"

    // The current row's values.
    QVariant value(const QString &name) const;
    QString text(const QString &name) const;
    qlonglong integer(const QString &name) const;
    QVariant value(int field) const;
    QString text(int field) const;
    void setValue(const QString &name, const QVariant &value);
    void setText(const QString &name, const QString &text);
    void setValue(int field, const QVariant &value);
    void setText(int field, const QString &text);

    // Any row's values, for grids; the current row shows its pending changes.
    QVariant valueAt(int row, int field) const;
    QString textAt(int row, int field) const;

    // The texts of some fields of every row in the present order, as textAt gives them, for
    // reading a whole result front to back (export, print): rows asked for in rising order
    // come from one statement stepped forward in that order, their fields read by position.
    // Any other row, a row being edited, or one the statement gives out of step (changed
    // meanwhile) is looked up by key. Valid while the dataset stays open and unsorted.
    class RowTexts {
    public:
        RowTexts(const Dataset &dataset, const QVector<int> &fields);
        ~RowTexts();
        RowTexts(const RowTexts &) = delete;
        RowTexts &operator=(const RowTexts &) = delete;
        // The text of field `fields[column]` of `row`.
        QString text(int row, int column);

    private:
        bool advanceTo(int row);
        const Dataset &m_dataset;
        QVector<int> m_fields;
        std::unique_ptr<RowStream> m_rows;
        int m_row = -1; // the row the statement stands on
        bool m_done = false;
        QVector<QString> m_texts; // of m_row
    };

    // Called at the start of every post, while `owner` lives: controls holding typed text
    // that is not yet a field value hand it over there (and may throw).
    void addPostHook(QObject *owner, std::function<void()> hook);

    void edit();
    void append();
    void post();
    // After post() failed with the connection to the server lost, once it is back: whether
    // the row reached the server all the same (only its answer was lost); the row is then
    // saved as post() leaves it. False, the row still pending, when it did not.
    bool lostSaveStored();
    void cancel();
    void deleteRecord();

    // Reorders the rows locally by "COLUMN ASC" or "COLUMN DESC"; an empty text restores
    // the order the rows were read in. The current record stays current.
    void sort(const QString &sortText);
    const QString &sortText() const { return m_sortText; }

signals:
    void opened();
    void closed();
    void stateChanged(dagl::Dataset::State state);
    void currentChanged(int row);
    // The rows were reordered or replaced.
    void rowsReset();
    // Rows first..last came at the end of the result, read after it opened; an empty range
    // when only the end of the result came.
    void rowsAppended(int first, int last);
    void rowInserted(int row);
    void rowRemoved(int row);
    // Values of a row changed (a field set, a post or a cancel).
    void rowChanged(int row);
    // Rows a grid asked for could not be read (the server went away): they show empty
    // until the connection is back. Told once, after the read, for each such failure.
    void readFailed(const QString &message);

private:
    struct Column
    {
        FieldDef def;
        QString origin; // the column of the base table it comes from
        int source = -1; // its place in a row read
    };
    using Values = QVector<QVariant>;

    void requireRow() const;
    void requireNotPending() const;
    void setState(State state);
    void setCurrent(int row);
    QVariant fromStorage(const QVariant &stored, FieldType type) const;
    QVariant converted(int field, const QVariant &value) const;
    void readKeys();
    void noteReadFailure(const Error &error) const;
    void readsBack();
    void takeKeys(bool wait) const;
    void readAll(ResultRows &rows);
    Values valuesOf(const RowStream &row) const;
    const Values &rowValues(int row) const;
    const Values *heldValues(qlonglong key) const;
    void fetchPageAround(int row) const;
    void remember(qlonglong key, const Values &values) const;
    RowWriter &writer();
    void throwRefusal(const WriteResult &result, bool deleting) const;
    bool writeInsert(); // whether the row is to be read again
    bool writeUpdate();
    void posted(bool readAgain);

    QString m_name;
    bool m_appendOnly = false;
    QPointer<Connection> m_connection;
    std::shared_ptr<RowDriver> m_driver; // set instead of the connection's
    std::shared_ptr<RowDriver> m_rows; // what the open dataset reads and writes through
    QString m_commandText;
    QString m_tableName;
    QVector<FieldDef> m_declared;

    State m_state = State::Inactive;
    QVector<Column> m_fields;
    QString m_baseTable; // the table rows are written to; empty when read-only

    // The rows in their present order, by key: the source's key of a row read lazily, the
    // place in m_all of a row of a result read whole. A pending insert has the key kPending.
    QVector<qlonglong> m_keys;
    std::unique_ptr<KeyedRowSource> m_source; // of rows read lazily; null for a result read whole
    std::unique_ptr<RowWriter> m_writer; // made at the first write
    KeyReader m_keyReader;
    mutable std::unique_ptr<KeySource> m_keySource; // the keys still to come
    QTimer *m_keyTimer = nullptr;
    QVector<Values> m_all; // rows of a dataset read whole, by key
    mutable QHash<qlonglong, Values> m_cache; // rows of a lazy dataset fetched so far, by key
    mutable qlonglong m_lastKey = std::numeric_limits<qlonglong>::min(); // the row read last
    mutable Values m_lastValues;

    int m_current = -1;
    int m_beforeInsert = -1;
    Values m_asRead; // the current row as it was read, while editing it
    Values m_buffer; // pending values of the current row while editing
    QVector<bool> m_changed;
    QString m_sortText;
    QVector<QPair<QPointer<QObject>, std::function<void()>>> m_postHooks;
    bool m_eof = true;
    bool m_lostWrite = false; // the last post failed with the connection lost
    mutable bool m_readFailed = false; // rows are not read again until the connection is back
};

} // namespace dagl
