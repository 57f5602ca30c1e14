#pragma once

#include <QIcon>
#include <QPixmap>

class QApplication;
class QFont;
class QWidget;

namespace dagl {

// The program's own look: fonts, colours, the built-in pictures and the tool icons, all
// drawn here so that nothing depends on files or fonts of another system.
namespace Skin {

enum class Glyph { Entry, Use, Statistics, Handover, Settings, About, Exit, Archive };

// Font families with CJK fallbacks, the style sheet, and the application icon.
void apply(QApplication &app);
// 宋体 at a pixel size, falling back to a serif CJK face.
QFont songti(int pixelSize, bool bold = false);

QIcon icon(Glyph glyph, int size = 32);
// Places a window in the middle of the screen it is on.
void centreOnScreen(QWidget *window);
// Places a window in the middle of another one (a window not yet shown takes its size first).
void centreOver(QWidget *window, const QWidget *over);
QPixmap toolPanelBackground(const QSize &size);
QPixmap clientBackground(const QSize &size);
QPixmap dialogBackground(const QSize &size);

} // namespace Skin
} // namespace dagl
