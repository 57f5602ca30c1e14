#include "ScreenFit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace dagl::ScreenFit {

namespace {

// A caption bar and thin borders as window managers draw them before the window exists.
const QMargins kUsualFrame(8, 32, 8, 8);

} // namespace

QRect placed(const QSize &size, const QMargins &frame, const QRect &available)
{
    const QRect room = available.marginsRemoved(frame);
    const QSize fitted(
        std::max(1, std::min(size.width(), room.width())), std::max(1, std::min(size.height(), room.height())));
    return QRect(room.x() + (room.width() - fitted.width()) / 2, room.y() + (room.height() - fitted.height()) / 2,
        fitted.width(), fitted.height());
}

QRect availableFor(const QWidget *window)
{
    const QScreen *screen = window ? window->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

QMargins frameOf(const QWidget *window)
{
    if (window->windowFlags() & Qt::FramelessWindowHint)
        return {};
    if (!window->isVisible() || !window->windowHandle())
        return kUsualFrame;
    const QMargins own = window->windowHandle()->frameMargins();
    return QMargins(std::max(own.left(), kUsualFrame.left()), std::max(own.top(), kUsualFrame.top()),
        std::max(own.right(), kUsualFrame.right()), std::max(own.bottom(), kUsualFrame.bottom()));
}

void fit(QWidget *window)
{
    const QRect available = availableFor(window);
    if (available.isEmpty())
        return;
    const bool fixed = window->minimumSize() == window->maximumSize();
    const QSize wanted = window->testAttribute(Qt::WA_Resized) || fixed ? window->size() : window->sizeHint();
    const QRect client = placed(wanted, frameOf(window), available);
    if (fixed) {
        if (client.size() != window->size())
            window->setFixedSize(client.size());
    } else {
        window->setMinimumSize(window->minimumSize().boundedTo(client.size()));
        window->resize(client.size());
    }
    const QMargins frame = frameOf(window);
    window->move(client.topLeft() - QPoint(frame.left(), frame.top()));
}

} // namespace dagl::ScreenFit
