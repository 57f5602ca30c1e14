#pragma once

#include <QString>

namespace dagl {

// Which copies of the program have a database file open. Every open connection holds a
// shared lock on a file beside the database ("<database>.lock"); compaction and restore,
// which put a new file in place of the database, first make their hold exclusive, so they
// refuse while another copy would go on writing to the file they replace. The locks are
// the system's own (flock), held by open files: they end with the process that held them,
// however it ended, and two opens in one process are two holders like two programs.
class DatabaseLock {
public:
    DatabaseLock() = default;
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock &) = delete;
    DatabaseLock &operator=(const DatabaseLock &) = delete;

    static QString lockPathFor(const QString &database);

    // A shared hold on `database`. Throws dagl::Error (Cause::InUse) while another copy
    // holds it exclusively. Where no lock file can be made (a read-only folder, in which
    // nothing can replace the database either) the hold is taken without one.
    void lockShared(const QString &database);
    void unlock();
    bool isLocked() const { return m_locked; }
    bool isExclusive() const { return m_exclusive; }

    // Makes the shared hold exclusive without waiting: false, and still shared, while
    // anyone else holds the database. Throws dagl::Error when the lock file cannot be used.
    bool tryExclusive();
    // Back to a shared hold.
    void toShared();

private:
    QString m_database;
    int m_fd = -1;
    int m_gate = -1; // held while the hold is being changed and while it is exclusive
    bool m_locked = false;
    bool m_exclusive = false;
};

} // namespace dagl
