#include "KeyFilters.h"

#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QMimeData>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>

namespace dagl {

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

KeyFilter::KeyFilter(Kind kind, QObject *parent)
    : QObject(parent)
    , m_kind(kind)
{
}

KeyFilter *KeyFilter::install(QWidget *field, Kind kind)
{
    auto *filter = new KeyFilter(kind, field);
    field->installEventFilter(filter);
    if (auto *combo = qobject_cast<QComboBox *>(field); combo && combo->lineEdit())
        combo->lineEdit()->installEventFilter(filter);
    return filter;
}

bool KeyFilter::passesText(Kind kind, const QString &text)
{
    if (text.isEmpty())
        return true;
    if (kind == Kind::NoTyping)
        return false;
    return std::all_of(text.begin(), text.end(), isDigit);
}

bool KeyFilter::passes(Kind kind, const QKeyEvent &key)
{
    // Pasting is typing by other means; the other shortcuts (Ctrl+C, Alt+S, ...) are not.
    if (key.matches(QKeySequence::Paste)) {
        const QClipboard *clipboard = QGuiApplication::clipboard();
        return passesText(kind, clipboard ? clipboard->text() : QString()) && kind == Kind::Digits;
    }
    if (kind == Kind::NoTyping
        && (key.matches(QKeySequence::Cut) || key.matches(QKeySequence::Undo) || key.matches(QKeySequence::Redo)))
        return false;
    const QString text = key.text();
    // Keys without a printable character: Tab, Enter, Delete, arrows, Home, F-keys.
    const bool printable = !text.isEmpty() && text.at(0).isPrint();
    const Qt::KeyboardModifiers modifiers = key.modifiers();
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        // The window's shortcuts never get here. A box types nothing for Ctrl+letter,
        // but it would type the letter of Alt+letter (or of Ctrl+Alt, AltGr on Windows).
        const bool controlOnly = (modifiers & Qt::ControlModifier) && !(modifiers & (Qt::AltModifier | Qt::MetaModifier));
        return !printable || controlOnly;
    }
    if (key.key() == Qt::Key_Backspace)
        return kind == Kind::Digits;
    if (!printable)
        return true;
    return passesText(kind, text);
}

bool KeyFilter::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        if (!passes(m_kind, *static_cast<QKeyEvent *>(event)))
            return true;
        break;
    case QEvent::InputMethod: {
        auto *input = static_cast<QInputMethodEvent *>(event);
        if (!passesText(m_kind, input->commitString())) {
            // Drop the committed text but let the input method close its composition.
            QInputMethodEvent cleared;
            QCoreApplication::sendEvent(watched, &cleared);
            return true;
        }
        break;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        // Text dragged in from elsewhere is typing by other means too.
        auto *drop = static_cast<QDropEvent *>(event);
        if (drop->mimeData() && !passesText(m_kind, drop->mimeData()->text())) {
            drop->ignore();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace dagl
