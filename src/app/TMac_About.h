#pragma once

#include <QDialog>

class QLabel;

namespace dagl {

class InitInfo;

// "关于本软件": the product name, version and contacts of this installation.
class TMac_About : public QDialog
{
    Q_OBJECT

public:
    explicit TMac_About(const InitInfo &info, QWidget *parent = nullptr);

    void BitBtn3Click();

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void FormCreate(const InitInfo &info);
    QLabel *label(const char *name) const;
};

} // namespace dagl
