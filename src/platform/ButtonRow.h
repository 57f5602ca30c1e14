#pragma once

#include "Ui.h"

#include <QHBoxLayout>
#include <QPushButton>

#include <initializer_list>

namespace dagl {

// One button of a window's button row: its component name, caption and handler (nullptr:
// shown but not available).
template<class Window>
struct ButtonSpec {
    const char *name;
    const char *caption;
    void (Window::*handler)();
};

// The window's buttons in table order, left-aligned. Enter does not press them (it belongs
// to the fields), and an error a handler does not catch goes to the standard error box.
template<class Window>
QHBoxLayout *buttonRow(Window *window, Ui &ui, std::initializer_list<ButtonSpec<Window>> specs)
{
    auto *row = new QHBoxLayout;
    for (const ButtonSpec<Window> &spec : specs) {
        auto *button = new QPushButton(QString::fromUtf8(spec.caption), window);
        button->setObjectName(QString::fromLatin1(spec.name));
        button->setAutoDefault(false);
        if (spec.handler) {
            QObject::connect(button, &QPushButton::clicked, window, [window, &ui, handler = spec.handler] {
                runHandler(ui, [window, handler] { (window->*handler)(); });
            });
        } else {
            button->setEnabled(false);
        }
        row->addWidget(button);
    }
    row->addStretch(1);
    return row;
}

// A row with more buttons than the window's width gives room at the usual margins: each
// button keeps just a little space beside its caption, so every caption shows whole.
inline QHBoxLayout *denseRow(QHBoxLayout *row)
{
    row->setSpacing(4);
    for (int i = 0; i < row->count(); ++i) {
        if (QWidget *button = row->itemAt(i)->widget())
            button->setProperty("dense", true);
    }
    return row;
}

} // namespace dagl
