#include "ArchivalForms.h"

#include "FormDrawing.h"

namespace dagl::ArchivalForms {

const QVector<FormInfo> &forms()
{
    static const QVector<FormInfo> table = {
        { ArchivalForm::ItemCatalogue, "归档文件目录", "归档文件目录", "按件整理" },
        { ArchivalForm::VolumeCatalogue, "卷内目录（含备考表）", "卷内目录",
            "按卷整理（填写了目录号、案卷号或顺序号）" },
        { ArchivalForm::BoxSpine, "盒脊", "档案盒盒脊", "填写了盒号" },
        { ArchivalForm::BoxCover, "档案盒封面", "档案盒封面", "填写了盒号" },
        { ArchivalForm::BoxNote, "备考表", "备考表", "填写了盒号" },
    };
    return table;
}

const FormInfo &info(ArchivalForm form)
{
    for (const FormInfo &entry : forms()) {
        if (entry.form == form)
            return entry;
    }
    return forms().constFirst();
}

QString nothingToPrint(ArchivalForm form)
{
    const FormInfo &entry = info(form);
    return QStringLiteral("所选范围内没有%1的档案记录，无法打印%2。")
        .arg(QString::fromUtf8(entry.needs), QString::fromUtf8(entry.title));
}

const QVector<int> &spineWidths()
{
    static const QVector<int> widths = { 2, 3, 4, 5, 6 };
    return widths;
}

QString pageFooter(int page, int pages)
{
    return QStringLiteral("第%1页 共%2页").arg(page).arg(pages);
}

QString boxSummary(int items, int pages, int withoutPages)
{
    // Without page counts the number is left blank to be written in.
    if (pages <= 0 || withoutPages >= items)
        return QStringLiteral("本盒共有文件%1件，共　　页。").arg(items);
    if (withoutPages <= 0)
        return QStringLiteral("本盒共有文件%1件，共%2页。").arg(items).arg(pages);
    return QStringLiteral("本盒共有文件%1件，共%2页（其中%3件未填页数，未计入）。")
        .arg(items)
        .arg(pages)
        .arg(withoutPages);
}

std::unique_ptr<ArchivalFormReport> make(ArchivalForm form, FormData data, int spineWidthCm)
{
    if (form == ArchivalForm::ItemCatalogue || form == ArchivalForm::VolumeCatalogue)
        return FormDrawing::makeCatalogue(form, std::move(data));
    return FormDrawing::makeBoxForm(form, std::move(data), std::clamp(spineWidthCm, 2, 6));
}

} // namespace dagl::ArchivalForms
