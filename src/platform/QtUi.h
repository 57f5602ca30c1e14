#pragma once

#include "Ui.h"

namespace dagl {

// The seam as the running program uses it: Qt's dialogs, the desktop's "open", the
// installed printers and input methods.
class QtUi : public Ui
{
public:
    Answer messageBox(const QString &text, const QString &caption, Icon icon, Buttons buttons) override;
    QString openFileName(const QString &caption, const QString &folder, const QString &filter) override;
    QString existingFolder(const QString &caption, const QString &folder) override;
    bool saveFile(const QString &caption, const QString &folder, const QString &filter, QString &fileName,
                  int &filterIndex) override;
    void printPreview(QWidget *parent, const QString &title, PagedReport &report) override;
    bool shellOpen(const QString &path) override;
    QStringList printers() override;
    QStringList inputMethods() override;
    void switchInputMethod(QWidget *field, const QString &name) override;
    void requestQuit() override;
    std::unique_ptr<Progress> progress(const QString &label) override;
    bool reconnect(const QString &text, const std::function<QString()> &attempt) override;
};

} // namespace dagl
