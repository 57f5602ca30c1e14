#pragma once

#include <QString>
#include <QVariant>
#include <QVector>

namespace dagl {

// A row as the cursor read it: its key and its values in the writer's columns, empty when
// the cursor holds none of them. A server shared by several workstations checks that the
// row is still so before it writes.
struct RowImage
{
    qlonglong key = 0;
    QVector<QVariant> values;
};

// A value for one of the writer's columns, by its place among them.
struct ColumnValue
{
    int column = 0;
    QVariant value;
};

enum class WriteOutcome {
    Done,
    ChangedByOther, // the row changed since it was read: nothing written
    DeletedByOther, // the row is gone: nothing written
};

struct WriteResult
{
    WriteOutcome outcome = WriteOutcome::Done;
    qlonglong key = 0; // of a row inserted
    QString message; // the operator's words for a refusal, when the writer has its own
    // The row as stored may differ from the values written (the server turned them into its
    // own types): the cursor reads it again rather than keep what it wrote.
    bool readAgain = false;
    bool done() const { return outcome == WriteOutcome::Done; }
};

// Writes single rows of one table for a cursor. A refusal is an outcome, not an error: the
// cursor keeps what it holds and tells the operator. Other failures throw dagl::Error.
class RowWriter
{
public:
    virtual ~RowWriter() = default;
    // The result's key names the new row.
    virtual WriteResult insert(const QVector<ColumnValue> &values) = 0;
    virtual WriteResult update(const RowImage &asRead, const QVector<ColumnValue> &changes) = 0;
    virtual WriteResult remove(const RowImage &asRead) = 0;
    // Deletes the rows in one transaction, all of them or, on an error, none; rows already
    // gone (or refused) are skipped. `everyRow`: the rows are every row of the table as it
    // was read. Returns the keys of the rows deleted.
    virtual QVector<qlonglong> removeRows(const QVector<RowImage> &rows, bool everyRow) = 0;
    // After an insert or an update failed with the connection to the server lost, once it
    // is back: whether the write reached the server all the same (its answer was what got
    // lost), and then the key of the row. A file's writes are never in doubt.
    virtual bool lostWriteStored(qlonglong &key)
    {
        (void)key;
        return false;
    }
};

} // namespace dagl
