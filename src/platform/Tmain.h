#pragma once

#include <QPointer>
#include <QWidget>

namespace dagl {

// The base of the working windows that open inside the main window's client panel. Made
// with a host panel it has no frame, lies in the panel and follows its size; made without
// one it is an ordinary window.
class Tmain : public QWidget
{
    Q_OBJECT

public:
    explicit Tmain(QWidget *owner = nullptr);
    Tmain(QWidget *owner, QWidget *hostPanel);

    bool isEmbedded() const { return m_embedded; }
    QWidget *hostPanel() const { return m_hostPanel; }

protected:
    virtual void FormCreate() {}

private:
    bool m_embedded = false;
    QPointer<QWidget> m_hostPanel;
};

} // namespace dagl
