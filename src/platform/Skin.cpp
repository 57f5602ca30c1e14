#include "Skin.h"

#include <QApplication>
#include <QFont>
#include <QLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <memory>

namespace dagl::Skin {

namespace {

const QColor kDeep(0x1d, 0x4e, 0x89);
const QColor kMid(0x2f, 0x6f, 0xb5);
const QColor kLight(0xe8, 0xf0, 0xfa);
const QColor kAccent(0xd9, 0x8c, 0x1f);

const char *const kStyleSheet = R"(
QMainWindow, QDialog { background: #eef3fa; }
QMenuBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f7faff, stop:1 #dde7f4);
           border-bottom: 1px solid #b7c8de; }
QMenuBar::item { padding: 3px 10px; background: transparent; }
QMenuBar::item:selected { background: #c9dbf2; border-radius: 3px; }
QMenu { background: #fbfdff; border: 1px solid #9fb5d3; }
QMenu::item { padding: 4px 28px 4px 22px; }
QMenu::item:selected { background: #2f6fb5; color: white; }
QMenu::separator { height: 1px; background: #c9d6e8; margin: 3px 8px; }
QToolButton[tool="true"] { color: white; background: transparent; border: 1px solid transparent;
                         border-radius: 5px; padding: 2px 6px; }
QToolButton[tool="true"]:focus { border: 1px dotted white; }
QToolButton[tool="true"]:hover { background: rgba(255,255,255,40); border-color: rgba(255,255,255,90); }
QToolButton[tool="true"]:pressed { background: rgba(0,0,0,40); }
QToolButton[tool="true"]:disabled { color: rgba(255,255,255,120); }
QStatusBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #dde7f4, stop:1 #c8d7ea);
             border-top: 1px solid #a9bdd8; }
QStatusBar QLabel { color: #1d3557; padding: 0 6px; border-right: 1px solid #a9bdd8; }
QPushButton { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #dbe6f3);
              border: 1px solid #8ea8c9; border-radius: 4px; padding: 4px 14px; min-width: 64px; }
QPushButton[dense="true"] { padding: 4px 8px; min-width: 0; }
QPushButton:hover { border-color: #2f6fb5; }
QPushButton:pressed { background: #c9dbf2; }
QPushButton:focus { border: 1px solid #1d4e89; }
QLineEdit, QPlainTextEdit, QComboBox { background: white; border: 1px solid #9fb5d3; border-radius: 3px;
                                       padding: 2px 4px; selection-background-color: #2f6fb5; }
QLineEdit:focus, QPlainTextEdit:focus, QComboBox:focus { border: 1px solid #1d4e89; }
QGroupBox { border: 1px solid #a9bdd8; border-radius: 5px; margin-top: 12px; padding-top: 6px;
            background: rgba(255,255,255,120); }
QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 4px; color: #1d4e89; }
QTableView { background: white; gridline-color: #d5dfec; selection-background-color: #2f6fb5;
             alternate-background-color: #f3f7fc; }
QHeaderView::section { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f7faff, stop:1 #dbe6f3);
                       border: 0; border-right: 1px solid #b7c8de; border-bottom: 1px solid #b7c8de;
                       padding: 3px; }
)";

void drawGlyph(QPainter &p, Glyph glyph, const QRectF &r)
{
    const qreal u = r.width() / 32.0;
    auto at = [&](qreal x, qreal y) { return QPointF(r.left() + x * u, r.top() + y * u); };
    auto rect = [&](qreal x, qreal y, qreal w, qreal h) { return QRectF(at(x, y), QSizeF(w * u, h * u)); };
    QPen outline(QColor(0x12, 0x2c, 0x4f), 1.4 * u);
    outline.setJoinStyle(Qt::RoundJoin);
    outline.setCapStyle(Qt::RoundCap);
    p.setPen(outline);
    const QColor paper(0xff, 0xfb, 0xf0), folder(0xf2, 0xc1, 0x4e), blue(0x5d, 0xa9, 0xf0),
        green(0x4c, 0xb8, 0x6b), red(0xe0, 0x55, 0x4d);
    switch (glyph) {
    case Glyph::Entry:
        p.setBrush(paper);
        p.drawRoundedRect(rect(6, 3, 18, 25), 2 * u, 2 * u);
        for (int i = 0; i < 4; ++i)
            p.drawLine(at(10, 9 + i * 4), at(20, 9 + i * 4));
        p.setBrush(kAccent);
        p.drawPolygon(QPolygonF({at(27, 12), at(30, 15), at(18, 27), at(14, 28), at(15, 24)}));
        break;
    case Glyph::Use:
        p.setBrush(folder);
        p.drawRoundedRect(rect(3, 8, 20, 16), 2 * u, 2 * u);
        p.setBrush(QColor(255, 255, 255, 200));
        p.drawEllipse(rect(13, 11, 12, 12));
        p.setPen(QPen(QColor(0x12, 0x2c, 0x4f), 3 * u, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(at(23.5, 21.5), at(29, 27));
        break;
    case Glyph::Statistics:
        p.setBrush(blue);
        p.drawRect(rect(5, 16, 5, 12));
        p.setBrush(green);
        p.drawRect(rect(13, 9, 5, 19));
        p.setBrush(kAccent);
        p.drawRect(rect(21, 4, 5, 24));
        p.drawLine(at(3, 28.5), at(29, 28.5));
        break;
    case Glyph::Handover:
        p.setBrush(folder);
        p.drawRect(rect(9, 12, 14, 12));
        p.drawLine(at(9, 16), at(23, 16));
        p.setBrush(green);
        p.drawPolygon(QPolygonF({at(2, 7), at(10, 3), at(10, 5.5), at(20, 5.5), at(20, 8.5), at(10, 8.5), at(10, 11)}));
        p.setBrush(blue);
        p.drawPolygon(QPolygonF({at(30, 27), at(22, 23), at(22, 25.5), at(12, 25.5), at(12, 28.5), at(22, 28.5),
                                 at(22, 31)}));
        break;
    case Glyph::Settings: {
        p.setBrush(QColor(0xb8, 0xc7, 0xd9));
        QPainterPath gear;
        const QPointF c = at(16, 16);
        for (int i = 0; i < 16; ++i) {
            const qreal radius = (i % 2 ? 11.0 : 14.0) * u;
            const qreal a = i * M_PI / 8;
            const QPointF pt(c.x() + radius * std::cos(a), c.y() + radius * std::sin(a));
            if (i == 0)
                gear.moveTo(pt);
            else
                gear.lineTo(pt);
        }
        gear.closeSubpath();
        p.drawPath(gear);
        p.setBrush(paper);
        p.drawEllipse(c, 5 * u, 5 * u);
        break;
    }
    case Glyph::About:
        p.setBrush(blue);
        p.drawEllipse(rect(3, 3, 26, 26));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(rect(14.2, 7.5, 3.6, 3.6));
        p.drawRoundedRect(rect(14.3, 13, 3.4, 12), 1.2 * u, 1.2 * u);
        break;
    case Glyph::Exit: {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(red, 3.2 * u, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(rect(5, 5, 22, 22), 120 * 16, 300 * 16);
        p.drawLine(at(16, 3.5), at(16, 15));
        break;
    }
    case Glyph::Archive:
        p.setBrush(QColor(0xc9, 0x8a, 0x3a));
        p.drawRect(rect(4, 12, 24, 16));
        p.setBrush(folder);
        p.drawRect(rect(3, 6, 26, 7));
        p.setBrush(paper);
        p.drawRoundedRect(rect(12, 16, 8, 4), 1 * u, 1 * u);
        break;
    }
}

} // namespace

QFont songti(int pixelSize, bool bold)
{
    QFont font(QStringLiteral("宋体"));
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void apply(QApplication &app)
{
    // Windows' Chinese faces are found under their own names where the system has them,
    // and stand for a CJK face of this system where it has not.
    QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                                                      QStringLiteral("Noto Sans CJK SC")});
    for (const char *face : {"楷体", "隶书", "仿宋"})
        QFont::insertSubstitutions(QString::fromUtf8(face), {QStringLiteral("Noto Serif CJK SC")});
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setFamilies({QStringLiteral("Microsoft YaHei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("宋体")});
    font.setPixelSize(13);
    app.setFont(font);
    app.setStyle(QStringLiteral("Fusion"));
    app.setStyleSheet(QString::fromUtf8(kStyleSheet));
    app.setWindowIcon(icon(Glyph::Archive, 64));
}

void centreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    // Before the window manager has framed a window its frame is unknown, and the window
    // itself is placed where it is moved: centring it bare would leave the framed window
    // off by half the caption bar. The frame of a window already framed stands in for it.
    if (window->layout())
        window->layout()->activate(); // the size it will show with
    QMargins margins = window->windowHandle() ? window->windowHandle()->frameMargins() : QMargins();
    const bool framed = !margins.isNull();
    if (!framed) {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (const QWidget *other : windows) {
            if (other != window && other->isVisible() && other->windowHandle()
                && !other->windowHandle()->frameMargins().isNull()) {
                margins = other->windowHandle()->frameMargins();
                break;
            }
        }
    }
    QRect frame = window->geometry().marginsAdded(margins);
    frame.moveCenter(screen->availableGeometry().center());
    window->move(framed ? frame.topLeft() : frame.topLeft() + QPoint(margins.left(), margins.top()));
    if (margins.isNull() && window->windowHandle()) {
        // No frame known yet: once the window manager has framed the window, centred again.
        auto *handle = window->windowHandle();
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(handle, &QWindow::yChanged, window, [window, connection] {
            if (window->windowHandle() && !window->windowHandle()->frameMargins().isNull()) {
                QObject::disconnect(*connection);
                centreOnScreen(window);
            }
        });
    }
}

void centreOver(QWidget *window, const QWidget *over)
{
    if (!over)
        return;
    if (!window->isVisible())
        window->adjustSize();
    QRect frame = window->frameGeometry();
    frame.moveCenter(over->window()->frameGeometry().center());
    window->move(frame.topLeft());
}

QIcon icon(Glyph glyph, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    drawGlyph(p, glyph, QRectF(0, 0, size, size));
    return QIcon(pixmap);
}

QPixmap toolPanelBackground(const QSize &size)
{
    QPixmap pixmap(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, size.height());
    g.setColorAt(0, kMid.lighter(115));
    g.setColorAt(0.55, kDeep);
    g.setColorAt(1, kDeep.darker(125));
    p.fillRect(pixmap.rect(), g);
    // soft arcs across the panel
    p.setPen(QPen(QColor(255, 255, 255, 28), 18));
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(size.width() * (0.55 + 0.18 * i), size.height() * 2.2), size.width() * 0.45,
                      size.height() * 2.0);
    p.fillRect(QRect(0, size.height() - 2, size.width(), 2), kAccent);
    return pixmap;
}

QPixmap clientBackground(const QSize &size)
{
    QPixmap pixmap(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, size.width(), size.height());
    g.setColorAt(0, QColor(0xf6, 0xf9, 0xfd));
    g.setColorAt(1, QColor(0xd6, 0xe3, 0xf2));
    p.fillRect(pixmap.rect(), g);
    // A stack of archive boxes as a watermark on the right.
    p.setOpacity(0.12);
    const qreal s = std::min(size.width(), size.height()) * 0.55;
    for (int i = 0; i < 3; ++i)
        drawGlyph(p, Glyph::Archive, QRectF(size.width() - s * 1.05 - i * s * 0.18, size.height() - s * 1.05 + i * s * 0.12 - s * 0.3, s, s));
    p.setOpacity(1);
    QRadialGradient glow(QPointF(size.width() * 0.25, size.height() * 0.3), size.width() * 0.5);
    glow.setColorAt(0, QColor(255, 255, 255, 110));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(pixmap.rect(), glow);
    return pixmap;
}

QPixmap dialogBackground(const QSize &size)
{
    QPixmap pixmap(size);
    QPainter p(&pixmap);
    QLinearGradient g(0, 0, 0, size.height());
    g.setColorAt(0, kLight);
    g.setColorAt(1, QColor(0xcf, 0xde, 0xf0));
    p.fillRect(pixmap.rect(), g);
    QLinearGradient band(0, 0, size.width(), 0);
    band.setColorAt(0, kDeep);
    band.setColorAt(1, kMid);
    p.fillRect(QRect(0, 0, size.width(), 6), band);
    return pixmap;
}

} // namespace dagl::Skin
