#pragma once

#include <QApplication>
#include <QWidget>

namespace dagl {

// The application's one window of a kind that exists once (unit settings, the record
// editor, the import), found by its component name among the top-level windows. With
// `visibleOnly`, a closed window that waits to be freed does not count.
template <class Window> Window *findSingleWindow(const QString &name, bool visibleOnly = false)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window->objectName() == name && (!visibleOnly || window->isVisible())) {
            if (auto *found = qobject_cast<Window *>(window))
                return found;
        }
    }
    return nullptr;
}

} // namespace dagl
