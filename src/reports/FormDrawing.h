#pragma once

// Drawing shared by the printed forms; not for use outside them.

#include "ArchivalForms.h"

#include <QPair>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVector>

class QPainter;
class QPaintDevice;

namespace dagl::FormDrawing {

// Millimetres in the units of `device`.
qreal mm(const QPaintDevice &device, qreal millimetres);

using Field = QPair<QString, QString>; // label, value

// "全宗号：0001　年度：2024 …", leaving out fields without a value.
QString headingLine(const QVector<Field> &fields);

// Label and value lines of a cover, one below the other from `top`, centred across `area`;
// each value on an underline. Returns where the last line ends.
// `device` is the one the page is laid out for, in whose units the painter draws.
qreal drawFieldLines(QPainter &painter, const QPaintDevice &device, const QRectF &area, qreal top,
    const QVector<Field> &fields, qreal points);

// A record sheet (备考表) filling `area`: title, what it belongs to, the explanation of its
// contents, and blanks for the people who sign it.
struct RecordSheet {
    QString title;
    QString heading;
    QString section;
    QString summary;
    QStringList signers;
    int dates = 1; // how many of the last signers are dates
};
void drawRecordSheet(QPainter &painter, const QPaintDevice &device, const QRectF &area, const RecordSheet &sheet);

std::unique_ptr<ArchivalFormReport> makeCatalogue(ArchivalForm form, FormData data);
std::unique_ptr<ArchivalFormReport> makeBoxForm(ArchivalForm form, FormData data, int spineWidthCm);

} // namespace dagl::FormDrawing
