#pragma once

#include "Dataset.h"

#include <QString>
#include <QVector>

#include <functional>
#include <memory>

namespace dagl {

class Connection;

// Reads what only reads on a thread of its own, through a read-only connection of its own to
// the same file, so that the calling thread stays free to repaint its windows meanwhile.
namespace ReadApart {

// The first column of the rows of `sql`, as integers, read on a thread of its own through the
// connection's reader (opened at the first read; opening costs the password's key derivation
// once) while the caller takes them as they come. Only one stream reads through a connection's
// reader at a time. Destroying the stream stops the read.
class KeyStream : public Dataset::KeySource {
public:
    // Starts the read; an empty statement only opens the reader.
    KeyStream(Connection &connection, const QString &sql);
    ~KeyStream() override;
    KeyStream(const KeyStream &) = delete;
    KeyStream &operator=(const KeyStream &) = delete;

    // Waits until `count` keys are read or the last one is. `waiting` is called on the calling
    // thread at once and then every few milliseconds meanwhile; answering false stops the
    // read and returns false.
    bool waitFor(qsizetype count, const std::function<bool()> &waiting);
    // The keys read since the last call; with `wait`, every key left, after the last is read.
    // Throws dagl::Error when the statement failed.
    QVector<qlonglong> take(bool wait) override;
    // Whether every key has been taken (or the read failed and its error was thrown).
    bool atEnd() const override;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

// Opens the connection's reader on a thread of its own ahead of the first read, so that the
// first search does not wait for the password's key derivation; held until then (dropping it
// waits for the opening to end). Null when the reader is open already or the connection closed.
std::unique_ptr<KeyStream> openAhead(Connection &connection);

// Every key of `sql` at once (see KeyStream); `*cancelled` tells whether `waiting` stopped it,
// and then nothing is returned. Throws dagl::Error when the statement fails.
QVector<qlonglong> keys(
    Connection &connection, const QString &sql, const std::function<bool()> &waiting, bool *cancelled);

} // namespace ReadApart
} // namespace dagl
