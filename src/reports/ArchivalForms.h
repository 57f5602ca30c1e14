#pragma once

#include "FormRecords.h"
#include "PagedReport.h"

#include <QVector>

#include <memory>

namespace dagl {

// A printed form of the catalogue, laid out for whatever page the preview or printer gives.
class ArchivalFormReport : public PagedReport {
public:
    // How many groups, volumes or boxes it prints; none means there is nothing to print.
    virtual int units() const = 0;
};

namespace ArchivalForms {

struct FormInfo {
    ArchivalForm form;
    const char *caption; // in the window's list
    const char *title; // of the preview and the saved file
    const char *needs; // what a record must have to be printed on it
};
// The forms in the order the window offers them.
const QVector<FormInfo> &forms();
const FormInfo &info(ArchivalForm form);
// Said instead of an empty preview.
QString nothingToPrint(ArchivalForm form);

// The spine widths of the usual boxes, in centimetres.
const QVector<int> &spineWidths();
// The spine height, from top to bottom of an A4 sheet within its margins.
constexpr qreal kSpineHeightMm = 280;

// "第N页 共M页".
QString pageFooter(int page, int pages);
// The summary of a box record sheet: `pages` adds up the pages given, and says so when
// `withoutPages` of the items have none.
QString boxSummary(int items, int pages, int withoutPages = 0);

// The form drawn from `data`; `spineWidthCm` is used by the spines only.
std::unique_ptr<ArchivalFormReport> make(ArchivalForm form, FormData data, int spineWidthCm = 3);

} // namespace ArchivalForms
} // namespace dagl
