#pragma once

#include "Cause.h"

#include <QDialog>

#include <functional>

class QPagedPaintDevice;
class QPrinter;
class QPrintPreviewWidget;

namespace dagl {

// The print preview of a report: pages through it, zooms, sets up the printer and prints,
// or saves the same pages as a PDF file.
class PrintPreviewDialog : public QDialog {
    Q_OBJECT

public:
    PrintPreviewDialog(
        const QString &title, std::function<void(QPagedPaintDevice &)> render, QWidget *parent = nullptr);
    ~PrintPreviewDialog() override;

    // Writes the report to a PDF file through a temporary file. False when it failed, with
    // the reason in `cause` when asked for.
    bool savePdf(const QString &path, Cause *cause = nullptr);

private:
    bool draw(QPagedPaintDevice &device);
    void print();
    void savePdfAs();

    std::function<void(QPagedPaintDevice &)> m_render;
    QPrinter *m_printer;
    QPrintPreviewWidget *m_preview;
};

} // namespace dagl
