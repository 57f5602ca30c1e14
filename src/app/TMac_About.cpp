#include "TMac_About.h"

#include "InitInfo.h"
#include "Skin.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace dagl {

TMac_About::TMac_About(const InitInfo &info, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Mac_About"));
    setWindowTitle(QStringLiteral("关于本软件"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowContextHelpButtonHint | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(Skin::icon(Skin::Glyph::About));
    setFixedSize(366, 277);
    setFont(Skin::songti(12));

    auto *background = new QLabel(this);
    background->setObjectName(QStringLiteral("Image1"));
    background->setGeometry(rect());
    background->setScaledContents(true);
    background->setPixmap(Skin::dialogBackground(size()));
    auto *emblem = new QLabel(this);
    emblem->setPixmap(Skin::icon(Skin::Glyph::Archive, 48).pixmap(48, 48));
    emblem->setGeometry(18, 52, 48, 48);

    // name, geometry (x, y, width, height)
    struct Place
    {
        const char *name;
        int x, y, w, h;
    };
    const Place places[] = {
        {"Label3", 0, 14, 366, 29}, {"Label4", 80, 56, 270, 18},  {"Label5", 80, 80, 270, 18},
        {"Label6", 152, 100, 200, 18}, {"Label1", 62, 132, 285, 18}, {"Label2", 62, 154, 285, 18},
        {"Label7", 62, 176, 285, 18},  {"Label8", 62, 198, 285, 18},
    };
    for (const Place &p : places) {
        auto *l = new QLabel(this);
        l->setObjectName(QString::fromLatin1(p.name));
        l->setGeometry(p.x, p.y, p.w, p.h);
        l->setAttribute(Qt::WA_TranslucentBackground);
    }
    QLabel *title = label("Label3");
    title->setAlignment(Qt::AlignCenter);
    title->setFont(Skin::songti(20, true));
    title->setStyleSheet(QStringLiteral("color: red;"));
    label("Label5")->setText(QStringLiteral("操作环境：Window 95/98/Me/Xp"));
    label("Label6")->setText(QStringLiteral("Window NT/2000"));

    auto *bevel = new QFrame(this);
    bevel->setObjectName(QStringLiteral("Bevel1"));
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(8, 226, 350, 4);

    auto *close = new QPushButton(QStringLiteral("关闭(Esc)"), this);
    close->setObjectName(QStringLiteral("BitBtn3"));
    close->setGeometry(256, 238, 96, 28);
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &TMac_About::BitBtn3Click);

    FormCreate(info);
}

QLabel *TMac_About::label(const char *name) const
{
    return findChild<QLabel *>(QString::fromLatin1(name));
}

void TMac_About::FormCreate(const InitInfo &info)
{
    label("Label3")->setText(info.value(QStringLiteral("SoftName")));
    label("Label1")->setText(QStringLiteral("  联系电话：") + info.value(QStringLiteral("Tel")));
    label("Label2")->setText(QStringLiteral("QQ在线支持：") + info.value(QStringLiteral("QQ")));
    label("Label7")->setText(QStringLiteral("      地址：") + info.value(QStringLiteral("Addr")));
    label("Label8")->setText(QStringLiteral("  官方网站：") + info.value(QStringLiteral("Web")));
    label("Label4")->setText(QStringLiteral("最新版本：") + info.value(QStringLiteral("Ver")));
}

void TMac_About::BitBtn3Click()
{
    close();
}

void TMac_About::reject()
{
    close(); // Esc presses "关闭(Esc)"
}

void TMac_About::closeEvent(QCloseEvent *event)
{
    event->accept();
}

} // namespace dagl
