#pragma once

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>

namespace dagl {

// The busy cursor while work runs on the user-interface thread: the operator sees that the
// window is working, not stuck.
class BusyCursor {
public:
    BusyCursor()
        : m_shown(qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr)
    {
        if (m_shown)
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    }
    ~BusyCursor()
    {
        if (m_shown)
            QGuiApplication::restoreOverrideCursor();
    }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;

private:
    bool m_shown;
};

} // namespace dagl
