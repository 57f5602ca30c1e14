#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace dagl {

// Windows no larger than the screen they are shown on: the part of it beside the task bar
// (its available geometry), in the logical pixels of any scaling, so that no caption bar,
// edge or button is out of reach on a small screen.
namespace ScreenFit {

// The client rectangle of a window that wants `size` and has `frame` around it, inside
// `available`: no larger than the room the frame leaves, and centred in it.
QRect placed(const QSize &size, const QMargins &frame, const QRect &available);

// The available geometry of the screen the window is on (the primary one before it has one).
QRect availableFor(const QWidget *window);

// What the window system puts around the client area: the window's own frame, but no less
// than the usual caption bar and borders, which also stand for a frame not known yet
// (none for a frameless window).
QMargins frameOf(const QWidget *window);

// Sizes a top-level window to what it wants within the room of its screen and centres it
// there. A fixed-size window gets a smaller fixed size when it has to.
void fit(QWidget *window);

} // namespace ScreenFit
} // namespace dagl
