#include "ArchivalForms.h"
#include "DBGridEh.h"
#include "FormText.h"
#include "PrintPreviewDialog.h"
#include "Program.h"
#include "RecordingDevice.h"
#include "Session.h"
#include "TDataModule5.h"
#include "TForm1.h"
#include "TFrm_dyml.h"
#include "TFrm_sjlr.h"
#include "TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPdfWriter>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace dagl;

namespace {

using test::RecordingDevice;
using test::RecordingEngine;
using test::topLevel;

// Lays the report out for the device and draws every page, as a print run does.
int drawAll(PagedReport &report, RecordingDevice &device)
{
    const int pages = report.layOut(device);
    QPainter painter(&device);
    for (int page = 1; page <= pages; ++page) {
        device.engine.page = page;
        painter.save();
        report.drawPage(painter, page);
        painter.restore();
    }
    return pages;
}

const QString kUnit = QStringLiteral("翠岚市档案馆");

FormRecord item(const QString &qzh, const QString &year, const QString &retention, const QString &box, int jh,
    const QString &title = {})
{
    FormRecord r;
    r.qzh = qzh;
    r.gdnd = year;
    r.bgqx = retention;
    r.hh = box;
    r.jh = QString::number(jh);
    r.tm = title.isEmpty() ? QStringLiteral("关于第%1件的通知").arg(jh) : title;
    r.wh = QStringLiteral("翠政%1号").arg(jh);
    r.zrz = QStringLiteral("翠岚市人民政府");
    r.cwsj = year + QStringLiteral("0315");
    r.mj = QStringLiteral("内部");
    r.yh = QStringLiteral("3");
    return r;
}

FormData data(QVector<FormRecord> records)
{
    FormData d;
    d.unitName = kUnit;
    d.records = std::move(records);
    return d;
}

// `count` items of one group (全宗号 0001, 2024, 永久), 20 to a box.
QVector<FormRecord> group(int count, const QString &retention = QStringLiteral("永久"), int from = 1)
{
    QVector<FormRecord> records;
    for (int i = 0; i < count; ++i) {
        const int jh = from + i;
        records << item(
            QStringLiteral("0001"), QStringLiteral("2024"), retention, QString::number((jh - 1) / 20 + 1), jh);
    }
    return records;
}

QString code(int jh, const QString &retention = QStringLiteral("Y"))
{
    return QStringLiteral("0001-WS·2024-%1-%2").arg(retention).arg(jh, 4, 10, QLatin1Char('0'));
}

// How many single-line rows a page of the item catalogue holds.
int rowsPerPage()
{
    for (int n = 1; n < 200; ++n) {
        auto report = ArchivalForms::make(ArchivalForm::ItemCatalogue, data(group(n)));
        RecordingDevice device(RecordingDevice::pageOf(*report));
        if (report->layOut(device) > 2) // the cover and one page of the table
            return n - 1;
    }
    return 0;
}

// Records of every kind a form prints: items in boxes, volumes, long titles, punctuation and
// codes with digits after letters; the ones `form` prints.
FormData mixed(ArchivalForm form)
{
    QVector<FormRecord> records = group(30);
    records[2].tm = QStringLiteral("关于印发《翠岚市档案管理办法（试行）》的通知");
    records[2].wh = QStringLiteral("翠政〔2023〕81号");
    records[3].tm = QString(QStringLiteral("关于进一步加强档案工作规范化管理的实施意见，")).repeated(5);
    records[5].bz = QStringLiteral("原件破损，已修复；另有附件2份。");
    records[6].zrz = QStringLiteral("广东省人民政府办公厅");
    for (int s = 1; s <= 8; ++s) {
        FormRecord r = item(QStringLiteral("0001"), QString(), QStringLiteral("永久"), QString(), s);
        r.jh.clear();
        r.mlh = QStringLiteral("3");
        r.ajh = QStringLiteral("12");
        r.sxh = QString::number(s);
        r.wh = QStringLiteral("WS-2022-%1号").arg(s);
        records << r;
    }
    FormData d = data({});
    for (const FormRecord &r : records) {
        if ((form == ArchivalForm::VolumeCatalogue) == r.number().byVolume())
            d.records << r;
    }
    return d;
}

void insert(test::ProgramFolderFixture &folder, const QString &columns, const QStringList &rows)
{
    for (const QString &values : rows)
        folder.exec(QStringLiteral("insert into 文件目录 (%1) values (%2)").arg(columns, values));
}

} // namespace

class TestForms : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }
    void cleanup() { QTRY_VERIFY(!topLevel(QStringLiteral("Frm_dyml"))); }

    // One statement gives the records in the order of the form: numbers by value.
    void readInTheFormsOrder()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("update ljserver set DWMC=' 翠岚市档案馆 '"));
        insert(folder, QStringLiteral("QZH,GDND,BGQX,HH,JH,TM"),
            { "'0001','2024','永久','10','1','十盒一件'", "'0001','2024','永久','9','2','九盒二件'",
                "'0001','2024','永久','9','10','九盒十件'", "'0001','2024','10年','1','1','十年一件'",
                "'0001','2023','永久','2','1','前一年'", "'0002','2024','永久','1','1','二全宗'",
                "'0001','2024','永久','',NULL,'未编号'" });
        insert(folder, QStringLiteral("QZH,MLH,AJH,SXH,TM"),
            { "'0001','1','12','2','卷十二之二'", "'0001','1','12','10','卷十二之十'",
                "'0001','1','3','1','卷三之一'" });
        auto titles = [&](ArchivalForm form, const FormSelection &selection) {
            const FormData read = FormRecords::read(folder.db(), form, selection, ArchivalCodeSettings());
            QStringList found;
            for (const FormRecord &r : read.records)
                found << r.tm;
            return found;
        };
        QCOMPARE(titles(ArchivalForm::ItemCatalogue, {}),
            (QStringList { "前一年", "九盒二件", "九盒十件", "十盒一件", "未编号", "十年一件", "二全宗" }));
        QCOMPARE(titles(ArchivalForm::BoxNote, {}),
            (QStringList { "前一年", "九盒二件", "九盒十件", "十盒一件", "十年一件", "二全宗" }));
        QCOMPARE(titles(ArchivalForm::VolumeCatalogue, {}), (QStringList { "卷三之一", "卷十二之二", "卷十二之十" }));
        FormSelection chosen;
        chosen.gdnd = QStringLiteral(" 2024 ");
        chosen.bgqx = QStringLiteral("永久");
        chosen.qzh = QStringLiteral("0001");
        QCOMPARE(titles(ArchivalForm::BoxSpine, chosen), (QStringList { "九盒二件", "九盒十件", "十盒一件" }));
        FormSelection rows;
        rows.onlyRows = true;
        rows.rows = { 6, 2 };
        QCOMPARE(titles(ArchivalForm::ItemCatalogue, rows), (QStringList { "九盒二件", "二全宗" }));
        rows.rows.clear();
        QVERIFY(titles(ArchivalForm::ItemCatalogue, rows).isEmpty());
        QCOMPARE(FormRecords::read(folder.db(), ArchivalForm::BoxCover, {}, ArchivalCodeSettings()).unitName, kUnit);

        const FormRecords::Choices choices = FormRecords::choices(folder.db());
        QCOMPARE(choices.qzh, (QStringList { "0001", "0002" }));
        QCOMPARE(choices.gdnd, (QStringList { "2023", "2024" }));
        QCOMPARE(choices.bgqx, (QStringList { "永久", "10年" })); // longest first
        QVERIFY(choices.jgwt.isEmpty());
    }

    // The retention periods are offered from the longest to the shortest, others after them.
    void retentionChoicesLongestFirst()
    {
        test::ProgramFolderFixture folder;
        insert(folder, QStringLiteral("QZH,GDND,BGQX,HH,JH"),
            { "'0001','2024','短期','1','1'", "'0001','2024','10年','1','2'", "'0001','2024','永久','1','3'",
                "'0001','2024','其他','1','4'", "'0001','2024','30年','1','5'", "'0001','2024','长期','1','6'" });
        QCOMPARE(
            FormRecords::choices(folder.db()).bgqx, (QStringList { "永久", "长期", "30年", "短期", "10年", "其他" }));
    }

    // Each group its own table behind a cover, with the group in the heading and the pages
    // of the table counted on their own.
    void itemCatalogueByGroup()
    {
        QVector<FormRecord> records = group(3);
        QVector<FormRecord> later = group(2, QStringLiteral("30年"));
        for (FormRecord &r : later)
            r.jgwt = QStringLiteral("办公室");
        records += later;
        auto report = ArchivalForms::make(ArchivalForm::ItemCatalogue, data(records));
        QCOMPARE(report->orientation(), QPageLayout::Landscape);
        RecordingDevice device(RecordingDevice::pageOf(*report));
        QCOMPARE(drawAll(*report, device), 4);
        QCOMPARE(report->units(), 2);
        const RecordingEngine &e = device.engine;
        for (const char *text : { "归档文件目录", "全宗号：", "全宗名称：", "年度：", "保管期限：", "机构(问题)：" })
            QVERIFY2(e.textsOn(1).contains(QString::fromUtf8(text)), text);
        QVERIFY(e.textsOn(1).contains(kUnit));
        QVERIFY(e.textsOn(3).contains(QStringLiteral("办公室")));
        QVERIFY(e.textsOn(2).contains(QStringLiteral("全宗号：0001　年度：2024　保管期限：永久")));
        QVERIFY(e.textsOn(4).contains(QStringLiteral("全宗号：0001　年度：2024　保管期限：30年　机构(问题)：办公室")));
        for (const char *title : { "序号", "档号", "文号", "责任者", "题名", "日期", "密级", "页数", "备注" })
            QVERIFY2(e.textsOn(2).contains(QString::fromUtf8(title)), title);
        QCOMPARE(e.pageOf(code(3)), 2);
        // 办公室 by its initials; the code read across the lines of its cell.
        QVERIFY(e.textsOn(4).join(QString()).contains(code(2, QStringLiteral("D30-BGS"))));
        QVERIFY(e.textsOn(2).contains(QStringLiteral("20240315")));
        QVERIFY(e.textsOn(2).contains(QStringLiteral("内部")));
        QCOMPARE(e.count(QStringLiteral("第1页 共1页")), 2);
        QVERIFY(!e.textsOn(1).contains(QStringLiteral("第1页 共1页"))); // the cover has no number
        QCOMPARE(e.rectsOutside, 0);
    }

    // The preview starts on the page the form is designed for.
    void previewStartsOnTheFormsPage_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<QString>("orientation");
        QTest::newRow("catalogue across") << int(ArchivalForm::ItemCatalogue) << "横向";
        QTest::newRow("record sheets upright") << int(ArchivalForm::BoxNote) << "纵向";
    }
    void previewStartsOnTheFormsPage()
    {
        QFETCH(int, form);
        QFETCH(QString, orientation);
        auto report = ArchivalForms::make(ArchivalForm(form), data(group(45)));
        RecordingDevice device(RecordingDevice::pageOf(*report));
        const int pages = report->layOut(device);
        PrintPreviewDialog preview(QStringLiteral("归档文件目录"), *report);
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        QCOMPARE(preview.findChild<QComboBox *>(QStringLiteral("Orientation"))->currentText(), orientation);
        QCOMPARE(preview.view()->pageCount(), pages);
        const QSizeF page = preview.view()->pageLayout().fullRectPoints().size();
        QCOMPARE(page.width() > page.height(), orientation == QStringLiteral("横向"));
    }

    // A group that fills its last page exactly ends there: the next group starts on its own
    // page and no empty page comes between.
    void groupEndingAtAPageEnd_data()
    {
        QTest::addColumn<int>("extra"); // rows beyond a full page
        QTest::addColumn<int>("tablePages");
        QTest::newRow("one short of a page") << -1 << 1;
        QTest::newRow("exactly a page") << 0 << 1;
        QTest::newRow("one row over") << 1 << 2;
    }
    void groupEndingAtAPageEnd()
    {
        QFETCH(int, extra);
        QFETCH(int, tablePages);
        const int full = rowsPerPage();
        QVERIFY(full > 5);
        const int first = full + extra;
        QVector<FormRecord> records = group(first);
        records += group(1, QStringLiteral("10年"));
        auto report = ArchivalForms::make(ArchivalForm::ItemCatalogue, data(records));
        RecordingDevice device(RecordingDevice::pageOf(*report));
        const int pages = drawAll(*report, device);
        QCOMPARE(pages, 1 + tablePages + 1 + 1);
        const RecordingEngine &e = device.engine;
        QCOMPARE(e.pageOf(code(first)), 1 + tablePages);
        QCOMPARE(e.pageOf(code(1, QStringLiteral("D10"))), pages);
        QVERIFY(e.textsOn(1 + tablePages).contains(ArchivalForms::pageFooter(tablePages, tablePages)));
        QVERIFY(e.textsOn(pages).contains(ArchivalForms::pageFooter(1, 1)));
        for (int p = 2; p <= 1 + tablePages; ++p)
            QVERIFY(e.textsOn(p).contains(QStringLiteral("题名"))); // no page without its table
    }

    // At every cell width closing punctuation never starts a line, an opening bracket never
    // ends one, a code breaks only after a separator, and no character is lost.
    void lineBreakingRules_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("题名") << QStringLiteral(
            "关于印发《翠岚市档案管理办法（试行）》的通知，用于各单位〔2023〕81号文件的归档。");
        QTest::newRow("引号") << QStringLiteral("关于“档案日”活动的报告：请各科室于三月前报送！");
        QTest::newRow("档号") << QStringLiteral("J012-WS·2023-Y-BGS-0001");
    }
    void lineBreakingRules()
    {
        QFETCH(QString, text);
        const PageMetrics device(QSize(10000, 10000), kLayoutDpi);
        const TextWrap wrap(FormFonts::songTi(10), device);
        const QString closing = QStringLiteral("）》〕」』”’，。、：；！？");
        const QString opening = QStringLiteral("（《〔「『“‘");
        const bool code = text.startsWith(QLatin1Char('J'));
        for (qreal ems = 5; ems <= 20; ems += 0.5) { // from the widest piece that may not break
            const QStringList lines = wrap.lines(text, wrap.width(QStringLiteral("国")) * ems);
            QCOMPARE(lines.join(QString()), text);
            for (int i = 0; i < lines.size(); ++i) {
                const QString at
                    = QStringLiteral("%1 em, line %2: %3").arg(ems).arg(i).arg(lines.join(QLatin1Char('|')));
                QVERIFY2(!closing.contains(lines.at(i).front()), qPrintable(at));
                QVERIFY2(!opening.contains(lines.at(i).back()), qPrintable(at));
                if (code && i + 1 < lines.size())
                    QVERIFY2(lines.at(i).endsWith(QLatin1Char('-')), qPrintable(at));
            }
        }
    }

    // The code column of the item catalogue is as wide as the longest code: every code is
    // printed on one line, however long its class and item number make it.
    void codesPrintedWhole_data()
    {
        QTest::addColumn<int>("digits");
        QTest::newRow("件号四位") << 4;
        QTest::newRow("件号六位") << 6;
    }
    void codesPrintedWhole()
    {
        QFETCH(int, digits);
        QVector<FormRecord> records = group(5);
        for (FormRecord &r : records)
            r.jgwt = QStringLiteral("办公室");
        FormData d = data(records);
        d.settings.classCodes = { { QStringLiteral("办公室"), QStringLiteral("BGSWJ") },
            { QStringLiteral("财务科"), QStringLiteral("CWK") } };
        d.settings.itemDigits = digits;
        d.records.last().jh = QStringLiteral("123456");
        auto report = ArchivalForms::make(ArchivalForm::ItemCatalogue, d);
        RecordingDevice device(RecordingDevice::pageOf(*report));
        drawAll(*report, device);
        for (const FormRecord &r : d.records) {
            const QString whole = ArchivalCode::compose(r.number(), d.settings);
            QVERIFY2(whole.contains(QStringLiteral("-BGSWJ-")), qPrintable(whole));
            QVERIFY2(device.engine.find(whole), qPrintable(whole));
        }
    }

    // A title of 250 characters wraps inside its cell and every character is printed; on a
    // page too short for the row the row goes on over the next pages, nothing lost.
    void longTitleWraps_data()
    {
        QTest::addColumn<qreal>("pageHeight"); // millimetres; 0 for A4
        QTest::addColumn<bool>("split");
        QTest::newRow("A4") << 0.0 << false;
        QTest::newRow("page shorter than the row") << 70.0 << true;
    }
    void longTitleWraps()
    {
        QFETCH(qreal, pageHeight);
        QFETCH(bool, split);
        const QString alphabet = QStringLiteral("甲乙丙丁戊己庚辛壬癸");
        QString title;
        for (int i = 0; i < 250; ++i)
            title += alphabet.at((i * 7 + i / 10) % alphabet.size());
        auto report = ArchivalForms::make(ArchivalForm::ItemCatalogue,
            data({ item(QStringLiteral("0001"), QStringLiteral("2024"), QStringLiteral("永久"), QStringLiteral("1"), 1),
                item(QStringLiteral("0001"), QStringLiteral("2024"), QStringLiteral("永久"), QStringLiteral("1"), 2,
                    title),
                item(
                    QStringLiteral("0001"), QStringLiteral("2024"), QStringLiteral("永久"), QStringLiteral("1"), 3) }));
        QSizeF page = RecordingDevice::pageOf(*report);
        if (pageHeight > 0)
            page.setHeight(pageHeight);
        RecordingDevice device(page);
        const int pages = drawAll(*report, device);
        QString printed;
        int lines = 0;
        QSet<int> onPages;
        for (const RecordingEngine::Text &t : device.engine.texts) {
            if (!t.text.isEmpty()
                && std::all_of(t.text.begin(), t.text.end(), [&](QChar c) { return alphabet.contains(c); })) {
                printed += t.text;
                ++lines;
                onPages.insert(t.page);
            }
        }
        QCOMPARE(printed, title);
        QVERIFY(lines >= 5);
        QCOMPARE(onPages.size() > 1, split);
        QCOMPARE(device.engine.count(code(3)), 1);
        QCOMPARE(device.engine.pageOf(code(3)), pages);
        QCOMPARE(device.engine.rectsOutside, 0);
    }

    // A row taller than a page goes on over the next pages, each piece with its 序号 marked
    // 续, its code and its title, so that no piece is without the record it belongs to.
    void rowCarriedOverSaysWhoseItIs()
    {
        const QString alphabet = QStringLiteral("甲乙丙丁戊己庚辛壬癸");
        QString note;
        for (int i = 0; i < 160; ++i)
            note += alphabet.at((i * 3 + i / 10) % alphabet.size());
        QVector<FormRecord> records = group(3);
        records[1].bz = note;
        auto report = ArchivalForms::make(ArchivalForm::ItemCatalogue, data(records));
        QSizeF page = RecordingDevice::pageOf(*report);
        page.setHeight(70);
        RecordingDevice device(page);
        drawAll(*report, device);
        QSet<int> notePages;
        QString printed;
        for (const RecordingEngine::Text &t : device.engine.texts) {
            if (!t.text.isEmpty()
                && std::all_of(t.text.begin(), t.text.end(), [&](QChar c) { return alphabet.contains(c); })) {
                notePages.insert(t.page);
                printed += t.text;
            }
        }
        QCOMPARE(printed, note);
        QVERIFY(notePages.size() > 1);
        const int first = device.engine.pageOf(code(2));
        for (int p : notePages) {
            const QStringList texts = device.engine.textsOn(p);
            QVERIFY2(texts.contains(code(2)), qPrintable(QString::number(p)));
            QVERIFY2(texts.contains(QStringLiteral("关于第2件的通知")), qPrintable(QString::number(p)));
            QCOMPARE(texts.contains(QStringLiteral("2续")), p != first);
            QCOMPARE(texts.contains(QStringLiteral("2")), p == first);
        }
    }

    // Ten thousand records: the pages are counted as the page holds them, and every record's
    // archival code is printed exactly once.
    void tenThousandRecords()
    {
        QVector<FormRecord> records = group(4000);
        records += group(6000, QStringLiteral("30年"));
        auto report = ArchivalForms::make(ArchivalForm::ItemCatalogue, data(records));
        RecordingDevice device(RecordingDevice::pageOf(*report));
        const int full = rowsPerPage();
        const int tables = (4000 + full - 1) / full + (6000 + full - 1) / full;
        QCOMPARE(drawAll(*report, device), 2 + tables);
        QHash<QString, int> printed;
        for (const RecordingEngine::Text &t : device.engine.texts) {
            if (t.text.startsWith(QLatin1String("0001-WS")))
                ++printed[t.text];
        }
        QCOMPARE(printed.size(), 10000);
        for (auto it = printed.cbegin(); it != printed.cend(); ++it)
            QVERIFY2(it.value() == 1, qPrintable(it.key()));
        QVERIFY(printed.contains(code(4000)) && printed.contains(code(6000, QStringLiteral("D30"))));
        const int firstTable = (4000 + full - 1) / full;
        QCOMPARE(device.engine.count(ArchivalForms::pageFooter(firstTable, firstTable)), 1);
    }

    // The volume catalogue: one table per volume in sequence order, then its record sheet.
    void volumeCatalogue()
    {
        QVector<FormRecord> records;
        for (int v = 1; v <= 2; ++v) {
            for (int s = 1; s <= 3; ++s) {
                FormRecord r;
                r.qzh = QStringLiteral("0001");
                r.mlh = QStringLiteral("1");
                r.ajh = QString::number(v);
                r.sxh = QString::number(s);
                r.tm = QStringLiteral("第%1卷第%2件").arg(v).arg(s);
                r.yh = QString::number(s * 4 - 3);
                records << r;
            }
        }
        auto report = ArchivalForms::make(ArchivalForm::VolumeCatalogue, data(records));
        QCOMPARE(report->orientation(), QPageLayout::Portrait);
        RecordingDevice device(RecordingDevice::pageOf(*report));
        QCOMPARE(drawAll(*report, device), 4);
        const RecordingEngine &e = device.engine;
        QVERIFY(e.textsOn(1).contains(QStringLiteral("卷内目录")));
        QVERIFY(e.textsOn(1).contains(QStringLiteral("全宗号：0001　目录号：1　案卷号：1")));
        for (const char *title : { "序号", "文号", "责任者", "题名", "日期", "页号", "备注" })
            QVERIFY2(e.textsOn(1).contains(QString::fromUtf8(title)), title);
        QCOMPARE(e.pageOf(QStringLiteral("第1卷第3件")), 1);
        QCOMPARE(e.pageOf(QStringLiteral("第2卷第1件")), 3);
        QVERIFY(e.textsOn(2).contains(QStringLiteral("卷内备考表")));
        QVERIFY(e.textsOn(2).contains(QStringLiteral("本卷共有文件3件，共　　页。")));
        for (const char *signer : { "立卷人：", "检查人：", "立卷时间：" })
            QVERIFY2(e.textsOn(2).contains(QString::fromUtf8(signer)), signer);
        QVERIFY(e.textsOn(3).contains(ArchivalForms::pageFooter(1, 1)));
    }

    // Spines side by side as many as the sheet takes, each with its box's numbers; a cover and
    // a record sheet per box.
    void boxForms_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("pages"); // for 12 boxes
        QTest::newRow("spines 2 cm") << int(ArchivalForm::BoxSpine) << 2 << 2; // 9 to a sheet
        QTest::newRow("spines 3 cm") << int(ArchivalForm::BoxSpine) << 3 << 2; // 6
        QTest::newRow("spines 4 cm") << int(ArchivalForm::BoxSpine) << 4 << 3; // 4
        QTest::newRow("spines 5 cm") << int(ArchivalForm::BoxSpine) << 5 << 4; // 3
        QTest::newRow("spines 6 cm") << int(ArchivalForm::BoxSpine) << 6 << 4; // 3
        QTest::newRow("covers") << int(ArchivalForm::BoxCover) << 3 << 12;
        QTest::newRow("record sheets") << int(ArchivalForm::BoxNote) << 3 << 12;
    }
    void boxForms()
    {
        QFETCH(int, form);
        QFETCH(int, width);
        QFETCH(int, pages);
        auto report = ArchivalForms::make(ArchivalForm(form), data(group(235)), width);
        QCOMPARE(report->units(), 12);
        RecordingDevice device(RecordingDevice::pageOf(*report));
        QCOMPARE(drawAll(*report, device), pages);
        const RecordingEngine &e = device.engine;
        QCOMPARE(e.rectsOutside, 0);
        switch (ArchivalForm(form)) {
        case ArchivalForm::BoxSpine: {
            QCOMPARE(e.count(QStringLiteral("盒号")), 12);
            QCOMPARE(e.count(QStringLiteral("起止件号")), 12);
            QCOMPARE(e.count(QStringLiteral("全宗号")), 12);
            // The first and the last item each in a cell of its own, at every width.
            QCOMPARE(e.count(QStringLiteral("0001")), 13); // every box's fonds, the first item
            QVERIFY(e.count(QStringLiteral("0221")) == 1 && e.count(QStringLiteral("0235")) == 1);
            QCOMPARE(e.count(QStringLiteral("机构(问题)")), 0); // records not filed by it
            QCOMPARE(e.count(QStringLiteral("12")), 1); // the last box number
            break;
        }
        case ArchivalForm::BoxCover:
            QCOMPARE(e.count(kUnit), 12);
            QVERIFY(e.textsOn(12).contains(QStringLiteral("0221-0235")));
            QVERIFY(e.textsOn(1).contains(QStringLiteral("全宗名称")));
            break;
        default:
            QVERIFY(e.textsOn(1).contains(QStringLiteral("备考表")));
            QVERIFY(e.textsOn(1).contains(QStringLiteral("盒内文件情况说明")));
            QVERIFY(e.textsOn(1).contains(QStringLiteral("本盒共有文件20件，共60页。")));
            QVERIFY(e.textsOn(12).contains(QStringLiteral("本盒共有文件15件，共45页。")));
            for (const char *signer : { "整理人：", "检查人：", "整理日期：", "检查日期：", "年", "月", "日" })
                QVERIFY2(e.textsOn(12).contains(QString::fromUtf8(signer)), signer);
            QCOMPARE(e.count(QStringLiteral("年")), 2 * 12); // both dates of every sheet
            break;
        }
    }

    // Records filed by 机构(问题) have it on their spines: box 1 of two groups differ.
    void spineShowsTheClass()
    {
        QVector<FormRecord> records = group(3);
        QVector<FormRecord> other = group(2);
        for (FormRecord &r : records)
            r.jgwt = QStringLiteral("办公室");
        for (FormRecord &r : other)
            r.jgwt = QStringLiteral("财务科");
        auto report = ArchivalForms::make(ArchivalForm::BoxSpine, data(records + other), 3);
        RecordingDevice device(RecordingDevice::pageOf(*report));
        QCOMPARE(drawAll(*report, device), 1);
        const RecordingEngine &e = device.engine;
        QCOMPARE(e.rectsOutside, 0);
        QCOMPARE(e.count(QStringLiteral("机构(问题)")), 2);
        QCOMPARE(e.count(QStringLiteral("办公室")), 1);
        QCOMPARE(e.count(QStringLiteral("财务科")), 1);
        QCOMPARE(e.count(QStringLiteral("0003")), 1); // the last item of the first box
        QCOMPARE(e.count(QStringLiteral("0002")), 1);
        QVERIFY(e.find(QStringLiteral("1"))->position.y() < device.area().height()); // the box number on the spine
    }

    // Without a unit name set, the box cover and the catalogue cover take the one the records
    // carry; a name set for the unit goes before it.
    void coverNameFromTheRecords_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("printed");
        QTest::newRow("unit not set") << QString() << QStringLiteral("翠岚市人民政府");
        QTest::newRow("unit set") << kUnit << kUnit;
    }
    void coverNameFromTheRecords()
    {
        QFETCH(QString, unit);
        QFETCH(QString, printed);
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("update ljserver set DWMC='%1'").arg(unit));
        insert(folder, QStringLiteral("QZH,GDND,BGQX,HH,JH,TM,DWMC"),
            { "'0001','2024','永久','1','1','甲',' 翠岚市人民政府 '",
                "'0001','2024','永久','1','2','乙','翠岚市人民政府'" });
        for (const ArchivalForm form : { ArchivalForm::BoxCover, ArchivalForm::ItemCatalogue }) {
            auto report = ArchivalForms::make(form, FormRecords::read(folder.db(), form, {}, ArchivalCodeSettings()));
            RecordingDevice device(RecordingDevice::pageOf(*report));
            drawAll(*report, device);
            QVERIFY2(device.engine.textsOn(1).contains(printed),
                qPrintable(device.engine.textsOn(1).join(QLatin1Char('|'))));
        }
    }

    // The record sheet adds up the pages given and says how many items have none.
    void boxSheetPageTotal_data()
    {
        QTest::addColumn<QStringList>("pages");
        QTest::addColumn<QString>("summary");
        QTest::newRow("all given") << QStringList { "3", "2", "4" } << QStringLiteral("本盒共有文件3件，共9页。");
        QTest::newRow("one without") << QStringList { "3", "", "4" }
                                     << QStringLiteral("本盒共有文件3件，共7页（其中1件未填页数，未计入）。");
        QTest::newRow("none given") << QStringList { "", "0", "" } << QStringLiteral("本盒共有文件3件，共　　页。");
    }
    void boxSheetPageTotal()
    {
        QFETCH(QStringList, pages);
        QFETCH(QString, summary);
        QVector<FormRecord> records = group(3);
        for (int i = 0; i < 3; ++i)
            records[i].yh = pages.at(i);
        auto report = ArchivalForms::make(ArchivalForm::BoxNote, data(records));
        RecordingDevice device(RecordingDevice::pageOf(*report));
        QCOMPARE(drawAll(*report, device), 1);
        QVERIFY2(device.engine.textsOn(1).join(QString()).contains(summary),
            qPrintable(device.engine.textsOn(1).join(QLatin1Char('|'))));
    }

    // Every form goes through the print path into a PDF of the pages counted. With
    // DAGL_FORMS_PDF set the files are kept there, to be looked at.
    void everyFormAsPdf_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<int>("width"); // of the spines
        for (const ArchivalForms::FormInfo &entry : ArchivalForms::forms())
            QTest::newRow(entry.title) << int(entry.form) << 4;
        QTest::newRow("spines 2 cm") << int(ArchivalForm::BoxSpine) << 2;
        QTest::newRow("spines 6 cm") << int(ArchivalForm::BoxSpine) << 6;
    }
    void everyFormAsPdf()
    {
        QFETCH(int, form);
        QFETCH(int, width);
        QVector<FormRecord> records = group(45);
        records[4].tm = QString(QStringLiteral("关于进一步加强档案工作规范化管理的实施意见")).repeated(6).left(250);
        records[7].bz = QStringLiteral("原件破损，已修复");
        for (int v = 1; v <= 2; ++v) {
            for (int s = 1; s <= 12; ++s) {
                FormRecord r = item(QStringLiteral("0001"), QString(), QStringLiteral("永久"), QString(), s);
                r.jh.clear();
                r.mlh = QStringLiteral("3");
                r.ajh = QString::number(v);
                r.sxh = QString::number(s);
                r.cwsj = QStringLiteral("19980315");
                records << r;
            }
        }
        const ArchivalForm chosen = ArchivalForm(form);
        FormData d = data({});
        for (const FormRecord &r : records) {
            if ((chosen == ArchivalForm::VolumeCatalogue) == r.number().byVolume())
                d.records << r;
        }
        auto report = ArchivalForms::make(chosen, d, width);
        QTemporaryDir dir;
        const QString keep = qEnvironmentVariable("DAGL_FORMS_PDF");
        const QString folder = keep.isEmpty() ? dir.path() : keep;
        QDir().mkpath(folder);
        QFile file(QDir(folder).filePath(QString::fromUtf8(QTest::currentDataTag()) + QStringLiteral(".pdf")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        {
            QPdfWriter writer(&file);
            writer.setResolution(300);
            writer.setPageLayout(QPageLayout(
                QPageSize(QPageSize::A4), report->orientation(), report->margins(), QPageLayout::Millimeter));
            QCOMPARE(printReport(*report, writer, 0, 0, {}), PrintOutcome::Done);
        }
        file.close();
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray pdf = file.readAll();
        QVERIFY(pdf.startsWith("%PDF"));
        RecordingDevice device(RecordingDevice::pageOf(*report));
        const int pages = int(QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type\\s*/Page\\b"))));
        QCOMPARE(pages, report->layOut(device));
    }

    // The preview counts the pages the saved PDF has; each page of the PDF holds what the one
    // layout put on it, and gives back every text drawn (Chinese, codes with digits after
    // letters, punctuation), also where a group ends at or just after the end of a page.
    void pdfHoldsThePreviewsPages_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<int>("items"); // of one group; 0 for every kind of record
        const int full = rowsPerPage();
        QTest::newRow("目录 一件") << int(ArchivalForm::ItemCatalogue) << 1;
        QTest::newRow("目录 差一件满页") << int(ArchivalForm::ItemCatalogue) << full - 1;
        QTest::newRow("目录 满页") << int(ArchivalForm::ItemCatalogue) << full;
        QTest::newRow("目录 多一件") << int(ArchivalForm::ItemCatalogue) << full + 1;
        QTest::newRow("目录 两页满") << int(ArchivalForm::ItemCatalogue) << 2 * full;
        for (const ArchivalForms::FormInfo &entry : ArchivalForms::forms())
            QTest::newRow(entry.caption) << int(entry.form) << 0;
    }
    void pdfHoldsThePreviewsPages()
    {
        QFETCH(int, form);
        QFETCH(int, items);
        const ArchivalForm chosen = ArchivalForm(form);
        auto report = ArchivalForms::make(chosen, items > 0 ? data(group(items)) : mixed(chosen));
        const QPageLayout a4(
            QPageSize(QPageSize::A4), report->orientation(), report->margins(), QPageLayout::Millimeter);
        QStringList drawn;
        if (!test::previewAndPdfAgree(*report, a4, QStringLiteral("预览"), drawn))
            QSKIP("pdftotext is not installed");
        if (QTest::currentTestFailed())
            return;
        const QString all = drawn.join(QString());
        QVERIFY(all.contains(QStringLiteral("全宗号")));
        if (chosen == ArchivalForm::ItemCatalogue) {
            QVERIFY(all.contains(code(1)));
            QVERIFY(all.contains(code(items > 0 ? items : 30)));
        }
    }

    // From the main menu by keys: the window opens, takes its choices from the keyboard and
    // opens the preview of the form chosen with its pages.
    void windowFromTheMenu()
    {
        test::ProgramFolderFixture folder;
        insert(folder, QStringLiteral("QZH,GDND,BGQX,HH,JH,TM,YH"),
            { "'0001','2024','永久','1','1','甲',2", "'0001','2024','永久','1','2','乙',3",
                "'0001','2024','永久','2','3','丙',4", "'0001','2023','永久','1','1','丁',1",
                "'0002','2024','30年','1','1','戊',1" });
        test::FakeUi ui;
        Program program(folder.path(), ui);
        TForm1 *main = program.mainWindow();
        main->show();
        QTRY_VERIFY(topLevel(QStringLiteral("FormLogin")));
        QTest::mouseClick(
            topLevel(QStringLiteral("FormLogin"))->findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        QTRY_VERIFY(program.session().LoggedIn);
        QTRY_VERIFY(!topLevel(QStringLiteral("FormLogin")));

        auto *menu = main->findChild<QMenu *>(QStringLiteral("N5"));
        QVERIFY(menu);
        main->activateWindow();
        main->menuBar()->setActiveAction(menu->menuAction());
        QTRY_VERIFY(menu->isVisible());
        QTest::keyClick(menu, Qt::Key_Up); // the last entry
        QCOMPARE(menu->activeAction()->objectName(), QStringLiteral("N23"));
        QTest::keyClick(menu, Qt::Key_Return);
        QTRY_VERIFY(topLevel(QStringLiteral("Frm_dyml")));
        QPointer<QWidget> window = topLevel(QStringLiteral("Frm_dyml"));
        QCOMPARE(window->windowTitle(), QStringLiteral("打印档案目录与盒签"));
        QVERIFY(window->isModal());
        QVERIFY(!window->findChild<QCheckBox *>(QStringLiteral("CheckBox1"))->isEnabled());
        QTRY_COMPARE(QApplication::focusWidget(), window->findChild<QComboBox *>(QStringLiteral("ComboBox1")));
        // The lists are read when first opened.
        auto *fonds = window->findChild<QComboBox *>(QStringLiteral("ComboBox1"));
        // The shortcut of the disabled check box types nothing.
        QTest::keyClick(fonds, Qt::Key_L, Qt::AltModifier);
        QCOMPARE(fonds->currentText(), QString());
        QCOMPARE(fonds->count(), 0);
        QTest::keyClick(fonds, Qt::Key_Down, Qt::AltModifier);
        QCOMPARE(fonds->count(), 3); // all, 0001, 0002
        QCOMPARE(window->findChild<QComboBox *>(QStringLiteral("ComboBox3"))->count(), 3); // all, 永久, 30年
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTRY_COMPARE(QApplication::focusWidget(), fonds);

        // 0001 of 2024: one group, two boxes.
        test::type(QApplication::focusWidget(), QStringLiteral("0001"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        test::type(QApplication::focusWidget(), QStringLiteral("2024"));
        QTest::keyClick(window, Qt::Key_P, Qt::AltModifier);
        QTRY_COMPARE(ui.previews, QStringList { "归档文件目录" });
        QCOMPARE(ui.previewPages, QVector<int> { 2 }); // the cover and the table

        QTest::keyClick(window, Qt::Key_B, Qt::AltModifier);
        auto *form = window->findChild<QComboBox *>(QStringLiteral("ComboBox5"));
        QTRY_COMPARE(QApplication::focusWidget(), form);
        auto *width = window->findChild<QComboBox *>(QStringLiteral("ComboBox6"));
        QVERIFY(!width->isEnabled());
        QTest::keyClick(form, Qt::Key_Down);
        QTest::keyClick(form, Qt::Key_Down);
        QCOMPARE(form->currentText(), QStringLiteral("盒脊"));
        QVERIFY(width->isEnabled());
        QTest::keyClick(form, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), width);
        QTest::keyClick(width, Qt::Key_End); // 6 cm
        QTest::keyClick(width, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("BitBtn1"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // Enter presses the focused button
        QTRY_COMPARE(ui.previews.size(), 2);
        QCOMPARE(ui.previews.last(), QStringLiteral("档案盒盒脊"));
        QCOMPARE(ui.previewPages.last(), 1); // two spines on one sheet

        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(window.isNull());
        ui.answers = { Ui::Answer::Cancel };
        main->close();
    }

    // From the record list with rows selected by keys: the window offers only those rows.
    void windowFromTheRecordList()
    {
        test::ProgramFolderFixture folder;
        insert(folder, QStringLiteral("SXH,QZH,GDND,BGQX,HH,JH,TM,YH"),
            { "'0001','0001','2024','永久','1','1','甲',2", "'0002','0001','2024','永久','1','2','乙',3",
                "'0003','0001','2024','永久','2','3','丙',4", "'0004','0001','2024','永久','3','4','丁',5" });
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QWidget host;
        host.resize(900, 420);
        host.show();
        host.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        auto *list = new TFrm_sjlr(dm, ui, &host);
        list->show();
        DBGridEh &grid = *list->grid();
        QTRY_COMPARE(grid.model()->rowCount(), 4);
        grid.setFocus();
        QTRY_VERIFY(grid.hasFocus());
        QTest::keyClick(&grid, Qt::Key_Down, Qt::ShiftModifier); // the first two rows: one box
        QTest::keyClick(&grid, Qt::Key_Down, Qt::ShiftModifier); // and the third: another
        QCOMPARE(grid.selectedCount(), 3);
        ui.onPreview = [](PagedReport &report) {
            RecordingDevice device(RecordingDevice::pageOf(report));
            drawAll(report, device);
            QVERIFY(device.engine.textsOn(1).contains(QStringLiteral("本盒共有文件2件，共5页。")));
            QVERIFY(device.engine.textsOn(2).contains(QStringLiteral("本盒共有文件1件，共4页。")));
        };
        QTest::keyClick(list, Qt::Key_P, Qt::AltModifier);
        QTRY_VERIFY(topLevel(QStringLiteral("Frm_dyml")));
        QPointer<QWidget> window = topLevel(QStringLiteral("Frm_dyml"));
        auto *only = window->findChild<QCheckBox *>(QStringLiteral("CheckBox1"));
        QVERIFY(only->isChecked());
        QCOMPARE(only->text(), QStringLiteral("只打印档案列表中选中的3条记录(&L)"));
        QVERIFY(!window->findChild<QComboBox *>(QStringLiteral("ComboBox1"))->isEnabled());
        auto *form = window->findChild<QComboBox *>(QStringLiteral("ComboBox5"));
        QTRY_COMPARE(QApplication::focusWidget(), form);
        QTest::keyClick(form, Qt::Key_End);
        QCOMPARE(form->currentText(), QStringLiteral("备考表"));
        QTest::keyClick(window, Qt::Key_P, Qt::AltModifier);
        QTRY_COMPARE(ui.previews, QStringList { "备考表" });
        QCOMPARE(ui.previewPages, QVector<int> { 2 });

        // Without the selection every record counts.
        QTest::keyClick(window, Qt::Key_L, Qt::AltModifier);
        QTRY_VERIFY(!only->isChecked());
        QVERIFY(window->findChild<QComboBox *>(QStringLiteral("ComboBox1"))->isEnabled());
        ui.onPreview = nullptr;
        QTest::keyClick(window, Qt::Key_P, Qt::AltModifier);
        QTRY_COMPARE(ui.previewPages.size(), 2);
        QCOMPARE(ui.previewPages.last(), 3);
        QTest::keyClick(window, Qt::Key_C, Qt::AltModifier);
        QTRY_VERIFY(window.isNull());
    }

    // A row only clicked in the record list is a selection of one; its catalogue says it is
    // an extract, as its 序号 are not the places in the full catalogue.
    void currentRowFromTheRecordList()
    {
        test::ProgramFolderFixture folder;
        insert(folder, QStringLiteral("QZH,GDND,BGQX,HH,JH,TM,YH"),
            { "'0001','2024','永久','1','1','甲',2", "'0001','2024','永久','1','2','乙',3",
                "'0001','2024','永久','2','3','丙',4" });
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QWidget host;
        host.resize(900, 420);
        host.show();
        host.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        auto *list = new TFrm_sjlr(dm, ui, &host);
        list->show();
        DBGridEh &grid = *list->grid();
        QTRY_COMPARE(grid.model()->rowCount(), 3);
        const QModelIndex third = grid.model()->index(2, grid.visibleColumns().value(0));
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(third).center());
        QTRY_COMPARE(grid.currentIndex().row(), 2);
        QCOMPARE(grid.selectedCount(), 0);
        QStringList drawn;
        ui.onPreview = [&drawn](PagedReport &report) {
            RecordingDevice device(RecordingDevice::pageOf(report));
            drawAll(report, device);
            drawn = device.engine.textsOn(2);
        };
        QTest::keyClick(list, Qt::Key_P, Qt::AltModifier);
        QTRY_VERIFY(topLevel(QStringLiteral("Frm_dyml")));
        QPointer<QWidget> window = topLevel(QStringLiteral("Frm_dyml"));
        auto *only = window->findChild<QCheckBox *>(QStringLiteral("CheckBox1"));
        QVERIFY(only->isEnabled());
        QVERIFY(only->isChecked());
        QCOMPARE(only->text(), QStringLiteral("只打印档案列表中选中的1条记录(&L)"));
        // Its keys reach it once a window manager has activated it and given the form list focus.
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTRY_COMPARE(QApplication::focusWidget(), window->findChild<QComboBox *>(QStringLiteral("ComboBox5")));
        QTest::keyClick(window, Qt::Key_P, Qt::AltModifier);
        QTRY_COMPARE(ui.previews, QStringList { "归档文件目录" });
        QVERIFY(drawn.contains(QStringLiteral("归档文件目录（摘录）")));
        QVERIFY(drawn.contains(QStringLiteral("丙")));
        QVERIFY(!drawn.contains(QStringLiteral("甲")));
        QTest::keyClick(window, Qt::Key_C, Qt::AltModifier);
        QTRY_VERIFY(window.isNull());
    }

    // With nothing selected in the list the disabled check box's Alt+L types nothing into
    // the choice that has focus.
    void disabledSelectionKeyTypesNothing()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QPointer<TFrm_dyml> window = new TFrm_dyml(dm, ui);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        auto *fonds = window->findChild<QComboBox *>(QStringLiteral("ComboBox1"));
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(fonds));
        QVERIFY(!window->findChild<QCheckBox *>(QStringLiteral("CheckBox1"))->isEnabled());
        QTest::keyClicks(fonds, QStringLiteral("00"));
        QTest::keyClick(fonds, Qt::Key_L, Qt::AltModifier);
        QCOMPARE(fonds->currentText(), QStringLiteral("00"));
        window->close();
        QTRY_VERIFY(window.isNull());
    }

    // Nothing to print is said so, and no empty preview opens.
    void nothingToPrint_data()
    {
        QTest::addColumn<QString>("fonds");
        QTest::addColumn<int>("form"); // index in the window's list
        QTest::addColumn<QString>("message");
        QTest::newRow("no such fonds") << "0009" << 0 << ArchivalForms::nothingToPrint(ArchivalForm::ItemCatalogue);
        QTest::newRow("no volumes") << "" << 1 << ArchivalForms::nothingToPrint(ArchivalForm::VolumeCatalogue);
        QTest::newRow("no boxes") << "" << 3 << ArchivalForms::nothingToPrint(ArchivalForm::BoxCover);
    }
    void nothingToPrint()
    {
        QFETCH(QString, fonds);
        QFETCH(int, form);
        QFETCH(QString, message);
        test::ProgramFolderFixture folder;
        insert(folder, QStringLiteral("QZH,GDND,BGQX,JH,TM"), { "'0001','2024','永久','1','未装盒'" });
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        auto *window = new TFrm_dyml(dm, ui);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTRY_VERIFY(window->findChild<QComboBox *>(QStringLiteral("ComboBox1"))->hasFocus());
        test::type(QApplication::focusWidget(), fonds);
        window->findChild<QComboBox *>(QStringLiteral("ComboBox5"))->setCurrentIndex(form);
        QTest::keyClick(window, Qt::Key_P, Qt::AltModifier);
        QTRY_COMPARE(ui.lastText(), message);
        QVERIFY(ui.previews.isEmpty());
        QCOMPARE(ui.shown.last().caption, QStringLiteral("提示"));
        QVERIFY(message.contains(QStringLiteral("无法打印")));
        window->close();
    }
};

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
