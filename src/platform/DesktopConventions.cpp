#include "DesktopConventions.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

namespace dagl {

namespace {

// Marks a window given the stay-on-top hint here, so that it loses it again later.
const char *const kBroughtForward = "daglBroughtForward";
// Marks a box the program put the focus in while its window was not active: the focus
// reaches it only when the window manager activates the window again.
const char *const kFocusedWhileInactive = "daglFocusedWhileInactive";
// Marks a window whose focus changes are watched.
const char *const kWatched = "daglFocusWatched";
// The control that had the focus when a window opened, for when it closes.
const char *const kOpener = "daglOpener";

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
// program (an Enter chain, a failed check, the first box of a new window) selects its
// text; a mouse click, a return to the window or a closed popup leave the caret where it
// is. The program often moves the focus while a message box is still being taken down:
// the box then gets it only when its window is active again, for that reason, and is
// selected all the same.
void selectOnEntry(QObject *watched, const QFocusEvent &focus)
{
    const bool movedMeanwhile = watched->property(kFocusedWhileInactive).toBool();
    if (movedMeanwhile)
        watched->setProperty(kFocusedWhileInactive, QVariant());
    switch (focus.reason()) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
    case Qt::OtherFocusReason:
        break;
    case Qt::ActiveWindowFocusReason:
        if (movedMeanwhile)
            break;
        return;
    default:
        return;
    }
    QLineEdit *edit = qobject_cast<QLineEdit *>(watched);
    if (auto *combo = qobject_cast<QComboBox *>(watched))
        edit = combo->lineEdit(); // the box of an editable list takes its list's focus
    if (edit)
        edit->selectAll();
}

// A letter typed with Alt that is no shortcut of the window (those never reach a box) would
// be typed into the box as if Alt were not held; on the Windows desktop it types nothing.
bool typesAltLetter(QObject *watched, const QKeyEvent &key)
{
    const Qt::KeyboardModifiers modifiers = key.modifiers();
    // Ctrl+Alt is AltGr on Windows keyboards, which types characters of its own.
    if (!(modifiers & (Qt::AltModifier | Qt::MetaModifier)) || (modifiers & Qt::ControlModifier))
        return false;
    const QString text = key.text();
    if (text.isEmpty() || !text.at(0).isPrint())
        return false;
    return qobject_cast<QLineEdit *>(watched) || qobject_cast<QComboBox *>(watched)
        || qobject_cast<QAbstractSpinBox *>(watched) || qobject_cast<QPlainTextEdit *>(watched)
        || qobject_cast<QTextEdit *>(watched);
}

bool isOrdinaryWindow(const QWidget *window)
{
    const Qt::WindowType type = window->windowType();
    return type != Qt::Popup && type != Qt::ToolTip && type != Qt::SplashScreen && type != Qt::Desktop;
}

// A window opening remembers where the focus was; when it closes the focus goes back
// there and that window is active again, unless the program has moved the focus since
// (after a message box, into the box it names) or another window took over. Without
// this the window manager may leave no window active, or the focus on the tool bar.
void rememberOpener(QWidget *window)
{
    QWidget *opener = QApplication::focusWidget();
    if (!opener || opener->window() == window)
        opener = QApplication::activeWindow();
    if (opener && opener->window() != window)
        window->setProperty(kOpener, QVariant::fromValue(QPointer<QObject>(opener)));
}

void returnToOpener(QWidget *window)
{
    const QPointer<QObject> stored = window->property(kOpener).value<QPointer<QObject>>();
    window->setProperty(kOpener, QVariant());
    const QPointer<QWidget> opener = qobject_cast<QWidget *>(stored.data());
    if (!opener || QCoreApplication::closingDown())
        return;
    const QPointer<QWidget> focusAtClose = opener->window()->focusWidget();
    QTimer::singleShot(0, opener, [opener, focusAtClose] {
        QWidget *home = opener->window();
        QWidget *active = QApplication::activeWindow();
        if (!opener->isVisible() || (active && active != home))
            return;
        if (home->focusWidget() == focusAtClose && opener != home && opener->isEnabled()
            && opener->focusPolicy() != Qt::NoFocus && focusAtClose != opener)
            opener->setFocus(Qt::ActiveWindowFocusReason);
    });
    // The window manager activates the next window at once; where it has activated none
    // a moment later, the window it came from is activated.
    constexpr int kActivationWaitMs = 250;
    QTimer::singleShot(kActivationWaitMs, opener, [opener] {
        if (!QApplication::activeWindow() && opener->isVisible() && !QCoreApplication::closingDown())
            opener->window()->activateWindow();
    });
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
    if (!isOrdinaryWindow(window) || isStayOnTop(window))
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

void DesktopConventions::watchFocus(QWidget *window)
{
    QWindow *handle = window->windowHandle();
    if (!handle || handle->property(kWatched).toBool())
        return;
    handle->setProperty(kWatched, true);
    connect(handle, &QWindow::focusObjectChanged, this, [window](QObject *object) {
        // Qt tells nothing else when the focus is moved in a window that is not active.
        if (object && object->isWidgetType() && !window->isActiveWindow())
            object->setProperty(kFocusedWhileInactive, true);
    });
}

bool DesktopConventions::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto &key = *static_cast<QKeyEvent *>(event);
        if (pressFocusedButton(watched, key) || typesAltLetter(watched, key))
            return true;
        break;
    }
    case QEvent::FocusIn:
        selectOnEntry(watched, *static_cast<QFocusEvent *>(event));
        break;
    case QEvent::MouseButtonPress:
        // A click into a window not yet active gives the focus first: the caret goes where
        // the click was, nothing is selected.
        if (watched->isWidgetType()) {
            if (QWidget *focus = static_cast<QWidget *>(watched)->window()->focusWidget())
                focus->setProperty(kFocusedWhileInactive, QVariant());
        }
        break;
    case QEvent::Show:
        if (!event->spontaneous() && watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow()) {
            auto *window = static_cast<QWidget *>(watched);
            keepInFront(window);
            watchFocus(window);
            if (isOrdinaryWindow(window))
                rememberOpener(window);
        }
        break;
    case QEvent::Hide:
        if (!event->spontaneous() && watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow())
            returnToOpener(static_cast<QWidget *>(watched));
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace dagl
