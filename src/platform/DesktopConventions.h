#pragma once

#include <QObject>

class QWidget;

namespace dagl {

// What every window of the program does as the Windows desktop does, done once for the
// whole application rather than window by window:
// - Enter presses the focused push or tool button (Qt leaves it to Space), unless Qt
//   already presses it (a dialog's default or auto-default button);
// - a one-line edit box reached from the keyboard or by the program selects its text, so
//   typing replaces it, also when the program moved the focus while the window was not
//   active (under a message box); a mouse click places the caret as usual;
// - Alt with a letter that is no shortcut of the window types nothing into a box;
// - a window that closes gives the focus back to where it was when it opened, and that
//   window is active again where the window manager has activated none;
// - a window that comes up while a stay-on-top window (the record editor) is shown comes
//   up in front of it instead of hidden underneath.
class DesktopConventions : public QObject {
    Q_OBJECT

public:
    // Installs the conventions on the running application (once; later calls do nothing).
    static void install();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using QObject::QObject;
    void watchFocus(QWidget *window);
};

} // namespace dagl
