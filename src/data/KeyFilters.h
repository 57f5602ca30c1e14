#pragma once

#include <QObject>

class QKeyEvent;
class QWidget;

namespace dagl {

// Keeps typed characters out of a field: only the digits 0 to 9, or none at all (a list
// field whose value is picked from its drop-down). Only typed characters are dropped:
// Tab, Enter, Backspace, Delete, arrows and shortcuts keep working (the list field also
// drops Backspace, which would change a picked value by typing). A character typed with
// Alt (a shortcut the window does not have) is dropped even if it is a digit.
class KeyFilter : public QObject {
    Q_OBJECT

public:
    enum class Kind { Digits, NoTyping };

    // Filters `field` (and the line edit inside an editable combo box); owned by the field.
    static KeyFilter *install(QWidget *field, Kind kind);

    // Whether a key press reaches the field.
    static bool passes(Kind kind, const QKeyEvent &key);
    // Whether text committed by an input method (or pasted) may reach the field.
    static bool passesText(Kind kind, const QString &text);

    Kind kind() const { return m_kind; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    KeyFilter(Kind kind, QObject *parent);

    Kind m_kind;
};

} // namespace dagl
