#include "DesktopConventions.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QWindow>

namespace dagl {

namespace {

// Marks a window given the stay-on-top hint here, so that it loses it again later.
const char *const kBroughtForward = "daglBroughtForward";

// Enter on a focused button clicks it. Qt already does so for a dialog's default and
// auto-default push buttons: those are left to it, so nothing is clicked twice.
bool pressFocusedButton(QObject *watched, const QKeyEvent &key)
{
    if (key.key() != Qt::Key_Return && key.key() != Qt::Key_Enter)
        return false;
    if (key.modifiers() & ~Qt::KeyboardModifiers(Qt::KeypadModifier))
        return false;
    QAbstractButton *button = qobject_cast<QPushButton *>(watched);
    if (!button)
        button = qobject_cast<QToolButton *>(watched);
    if (!button || !button->hasFocus() || !button->isEnabled())
        return false;
    if (auto *push = qobject_cast<QPushButton *>(button); push && (push->autoDefault() || push->isDefault()))
        return false;
    if (!key.isAutoRepeat())
        button->click();
    return true;
}

// A box entered from the keyboard (Tab, Shift+Tab, a shortcut) or moved into by the
// program (an Enter chain, a failed check) selects its text; a mouse click, a return to
// the window or a closed popup leave the caret where it is.
void selectOnEntry(QObject *watched, const QFocusEvent &focus)
{
    switch (focus.reason()) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
    case Qt::OtherFocusReason:
        break;
    default:
        return;
    }
    QLineEdit *edit = qobject_cast<QLineEdit *>(watched);
    if (auto *combo = qobject_cast<QComboBox *>(watched))
        edit = combo->lineEdit(); // the box of an editable list takes its list's focus
    if (edit)
        edit->selectAll();
}

bool isStayOnTop(const QWidget *window)
{
    return window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) && !window->property(kBroughtForward).toBool();
}

// A window shown while a stay-on-top window is up takes the same hint, or it would open
// hidden under it (a modal one leaving the program seemingly frozen); shown again when no
// such window is up, it gives the hint back.
void keepInFront(QWidget *window)
{
    const Qt::WindowType type = window->windowType();
    if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::SplashScreen || type == Qt::Desktop)
        return;
    if (isStayOnTop(window))
        return;
    bool overTopmost = false;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget *other : windows) {
        if (other != window && other->isVisible() && other->windowType() != Qt::Popup && isStayOnTop(other))
            overTopmost = true;
    }
    if (overTopmost == window->property(kBroughtForward).toBool())
        return;
    Qt::WindowFlags flags = window->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, overTopmost);
    // Not setWindowFlags(): that would hide the window being shown.
    window->overrideWindowFlags(flags);
    if (QWindow *handle = window->windowHandle())
        handle->setFlags(flags);
    window->setProperty(kBroughtForward, overTopmost);
}

} // namespace

void DesktopConventions::install()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || app->findChild<DesktopConventions *>(QString(), Qt::FindDirectChildrenOnly))
        return;
    app->installEventFilter(new DesktopConventions(app));
}

bool DesktopConventions::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        if (pressFocusedButton(watched, *static_cast<QKeyEvent *>(event)))
            return true;
        break;
    case QEvent::FocusIn:
        selectOnEntry(watched, *static_cast<QFocusEvent *>(event));
        break;
    case QEvent::Show:
        if (!event->spontaneous() && watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow())
            keepInFront(static_cast<QWidget *>(watched));
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace dagl
