#pragma once

#include "Cause.h"

#include <QSaveFile>

namespace dagl {

// A file written under a temporary name and put in place only once every byte is known to
// be in it. QSaveFile alone is not enough: it can report a commit as done although its last
// buffered write failed (a full disk), renaming a short file over the old one. This one
// writes without Qt's buffer, so each failure is seen with its reason, and commitChecked()
// compares the file's size with what was written and syncs it before the rename.
class CheckedSaveFile : public QSaveFile {
public:
    explicit CheckedSaveFile(const QString &name);
    ~CheckedSaveFile() override;

    // Opens for writing; always unbuffered.
    bool open(OpenMode mode) override;

    // Puts the file in place of the target when all is well. `expectedSize`, when not
    // negative, is the size the file must have (a copy: the source's size); otherwise it
    // must hold every byte written. Throws dagl::Error, its message the cause in Chinese,
    // when anything falls short; the target is then as it was and the temporary file gone.
    void commitChecked(qint64 expectedSize = -1);

    // Why the first failed write or the commit failed; Cause::Unknown while none has.
    Cause failure() const { return m_failure; }

protected:
    qint64 writeData(const char *data, qint64 len) override;

private:
    [[noreturn]] void fail(Cause cause, const QString &detail);

    Cause m_failure = Cause::Unknown;
    bool m_failed = false;
    qint64 m_end = 0; // the furthest byte a write asked for
};

// The cause of a failure of `device`: a CheckedSaveFile knows it; any other file says what
// kind of failure Qt saw.
Cause causeOfDeviceFailure(const QIODevice &device);

} // namespace dagl
