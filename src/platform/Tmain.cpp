#include "Tmain.h"

#include <QLayout>
#include <QVBoxLayout>

namespace dagl {

Tmain::Tmain(QWidget *owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("main"));
    resize(688, 447);
}

Tmain::Tmain(QWidget *owner, QWidget *hostPanel) : QWidget(owner), m_embedded(true), m_hostPanel(hostPanel)
{
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("main"));
    setWindowFlags(Qt::Widget | Qt::FramelessWindowHint);
    if (hostPanel) {
        if (!hostPanel->layout()) {
            auto *layout = new QVBoxLayout(hostPanel);
            layout->setContentsMargins(0, 0, 0, 0);
        }
        setParent(hostPanel);
        hostPanel->layout()->addWidget(this);
    }
}

} // namespace dagl
