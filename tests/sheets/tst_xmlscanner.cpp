#include "SheetData.h"
#include "XmlScanner.h"
#include "ZipArchive.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QXmlStreamReader>

#include <random>

using namespace dagl;

namespace {

// Gives at most `step` bytes a read, so every token of a document meets the end of the
// scanner's buffer somewhere.
class TrickleDevice : public QIODevice {
public:
    TrickleDevice(QByteArray data, int step)
        : m_data(std::move(data))
        , m_step(step)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = std::min({ maxSize, m_step, qint64(m_data.size()) - m_at });
        std::memcpy(data, m_data.constData() + m_at, size_t(n));
        m_at += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_step;
    qint64 m_at = 0;
};

QString localOf(QStringView qualified)
{
    const qsizetype colon = qualified.lastIndexOf(u':');
    return (colon < 0 ? qualified : qualified.mid(colon + 1)).toString();
}

// The document as a list of tokens: "<name a=v ...>" with the attributes in the order written,
// "</name>", and the text between tags, adjacent pieces joined; nothing outside the root.
QStringList qtTokens(const QByteArray &xml, bool *ok)
{
    QStringList out;
    QXmlStreamReader reader(xml);
    reader.setNamespaceProcessing(false);
    QString text;
    int depth = 0;
    const auto flush = [&] {
        if (!text.isEmpty())
            out << QLatin1Char('"') + text + QLatin1Char('"');
        text.clear();
    };
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            flush();
            QString tag = QLatin1Char('<') + localOf(reader.qualifiedName());
            for (const QXmlStreamAttribute &a : reader.attributes())
                tag += QLatin1Char(' ') + a.qualifiedName().toString() + QLatin1Char('=') + a.value().toString();
            out << tag + QLatin1Char('>');
            ++depth;
            break;
        }
        case QXmlStreamReader::EndElement:
            flush();
            out << QStringLiteral("</") + localOf(reader.qualifiedName()) + QLatin1Char('>');
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (depth > 0)
                text += reader.text();
            break;
        default:
            break;
        }
    }
    *ok = !reader.hasError();
    return out;
}

QStringList scannerTokens(QIODevice &device, QString *fault)
{
    QStringList out;
    QString text;
    const auto flush = [&] {
        if (!text.isEmpty())
            out << QLatin1Char('"') + text + QLatin1Char('"');
        text.clear();
    };
    const auto str = [](std::string_view v) { return QString::fromUtf8(v.data(), qsizetype(v.size())); };
    try {
        XmlScanner scanner(device, QStringLiteral("part.xml"), 64 * 1024);
        for (XmlScanner::Token t; (t = scanner.next()) != XmlScanner::EndDocument;) {
            if (t == XmlScanner::Characters) {
                text += str(scanner.text());
                continue;
            }
            flush();
            if (t == XmlScanner::EndElement) {
                out << QStringLiteral("</") + str(scanner.name()) + QLatin1Char('>');
                continue;
            }
            // The attributes, found again by their names, in the order Qt gives them.
            QString tag = QLatin1Char('<') + str(scanner.name());
            out << tag;
        }
    } catch (const WorkbookFault &f) {
        *fault = f.detail;
    }
    return out;
}

// Only the element names and the attributes by name: the scanner has no list of attributes.
QStringList scannerTokensWithAttributes(const QByteArray &xml, const QStringList &qt, int step, QString *fault)
{
    TrickleDevice device(xml, step);
    QStringList out;
    QString text;
    const auto flush = [&] {
        if (!text.isEmpty())
            out << QLatin1Char('"') + text + QLatin1Char('"');
        text.clear();
    };
    const auto str = [](std::string_view v) { return QString::fromUtf8(v.data(), qsizetype(v.size())); };
    try {
        XmlScanner scanner(device, QStringLiteral("part.xml"), 64 * 1024);
        for (XmlScanner::Token t; (t = scanner.next()) != XmlScanner::EndDocument;) {
            if (t == XmlScanner::Characters) {
                text += str(scanner.text());
                continue;
            }
            flush();
            if (t == XmlScanner::EndElement) {
                out << QStringLiteral("</") + str(scanner.name()) + QLatin1Char('>');
                continue;
            }
            QString tag = QLatin1Char('<') + str(scanner.name());
            // Qt's token at the same place names the attributes to ask for.
            const QString expected = out.size() < qt.size() ? qt.at(out.size()) : QString();
            const QStringList parts = expected.mid(1, expected.size() - 2).split(QLatin1Char(' '));
            for (qsizetype i = 1; i < parts.size(); ++i) {
                const QString name = parts.at(i).section(QLatin1Char('='), 0, 0);
                bool found = false;
                const QByteArray key = name.toUtf8();
                const std::string_view value
                    = scanner.attribute(std::string_view(key.constData(), size_t(key.size())), &found);
                if (found)
                    tag += QLatin1Char(' ') + name + QLatin1Char('=') + str(value);
            }
            out << tag + QLatin1Char('>');
        }
    } catch (const WorkbookFault &f) {
        *fault = f.detail;
    }
    flush();
    return out;
}

} // namespace

// The sheet scanner against Qt's XML stream reader, token for token, on what spreadsheet
// programs write and on the awkward corners of XML; refusals name the part.
class TestXmlScanner : public QObject {
    Q_OBJECT

private slots:
    void sameTokensAsQt_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::newRow("entities") << QByteArray(
            "<a>x &amp; y &lt;z&gt; &quot;q&quot; &apos;s&apos; &#20013;&#x6587;&#x1F600;</a>");
        QTest::newRow("entity in attribute") << QByteArray("<a v=\"A&amp;B&#x41;&lt;\"/>");
        QTest::newRow("prefixes") << QByteArray("<x:worksheet xmlns:x=\"u\"><x:sheetData><x:row r=\"1\"><x:c r=\"A1\" "
                                                "t=\"s\"><x:v>0</x:v></x:c></x:row></x:sheetData></x:worksheet>");
        QTest::newRow("quotes and order") << QByteArray("<c t='s' r=\"B2\"  s = '3' ><v>1</v></c>");
        QTest::newRow("quote inside the other") << QByteArray("<n f='a\"b' g=\"c'd\"/>");
        QTest::newRow("self-closing") << QByteArray("<r><c r=\"A1\"/><c/><c s=\"1\" /></r>");
        QTest::newRow("cdata") << QByteArray("<t>a<![CDATA[<b>&amp;]]>c<![CDATA[]]></t>");
        QTest::newRow("comments and instructions")
            << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<!-- a comment "
                          "--><r><!--x--><?pi data?>t</r><!-- after -->\n");
        QTest::newRow("xml:space") << QByteArray("<si><t xml:space=\"preserve\">  two  spaces  </t><t> </t></si>");
        QTest::newRow("whitespace between") << QByteArray("<r>\n  <c>\n    <v>1</v>\n  </c>\n</r>");
        QTest::newRow("line ends") << QByteArray("<t a=\"x\r\ny\tz\">one\r\ntwo\rthree\n</t>");
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF<r>文字</r>");
        QTest::newRow("end tag with blanks") << QByteArray("<r><c ></c  ></r >");
        QTest::newRow("rich text with phonetics") << QByteArray(
            "<si><r><rPr><b/></rPr><t>关于</t></r><r><t>通知</t></r><rPh sb=\"0\" eb=\"1\"><t>かん</t></rPh></si>");
        QByteArray wide;
        for (int i = 0; i < 40; ++i)
            wide += " a" + QByteArray::number(i) + "=\"" + QByteArray::number(i * 7) + "\"";
        QTest::newRow("many attributes") << "<r><c" + wide + "/><c" + wide + "><v>1</v></c></r>";
        for (const char *file : { "formulas.xlsx", "dates1904.xlsx" }) {
            QFile f(QStringLiteral(DAGL_FIXTURES) + QString::fromLatin1(file));
            QVERIFY(f.open(QIODevice::ReadOnly));
            const ZipArchive zip(f.readAll());
            for (const QString &part : zip.entryNames()) {
                if (part.endsWith(QLatin1String(".xml")) || part.endsWith(QLatin1String(".rels")))
                    QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(QString::fromLatin1(file), part)))
                        << zip.read(part, 64 << 20);
            }
        }
    }
    void sameTokensAsQt()
    {
        QFETCH(QByteArray, xml);
        bool ok = false;
        const QStringList expected = qtTokens(xml, &ok);
        QVERIFY(ok);
        for (int step : { 1 << 20, 1, 3, 7, 64 }) {
            QString fault;
            const QStringList tokens = scannerTokensWithAttributes(xml, expected, step, &fault);
            QVERIFY2(fault.isEmpty(), qPrintable(fault));
            QCOMPARE(tokens, expected);
        }
    }

    // What Qt refuses the scanner refuses too, with a message naming the part; and a DTD,
    // which no spreadsheet program writes.
    void refusesBadXml_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("words");
        QTest::newRow("empty") << QByteArray() << "没有根元素";
        QTest::newRow("unclosed") << QByteArray("<a><b></b>") << "元素<a>没有结束";
        QTest::newRow("cut in a tag") << QByteArray("<a><b r=\"1") << "在标记中间结束";
        QTest::newRow("crossed") << QByteArray("<a><b></a></b>") << "结束标记</a>与开始标记<b>不符";
        QTest::newRow("stray end") << QByteArray("<a></a></b>") << "多余的结束标记</b>";
        QTest::newRow("two roots") << QByteArray("<a/><b/>") << "根元素之后还有元素<b>";
        QTest::newRow("text after root") << QByteArray("<a/>x") << "根元素之外有文字";
        QTest::newRow("unknown entity") << QByteArray("<a>&nbsp;</a>") << "未定义的实体“&nbsp;”";
        QTest::newRow("bare ampersand") << QByteArray("<a>R&D</a>") << "“&”后没有有效的实体引用";
        QTest::newRow("character zero") << QByteArray("<a>&#0;</a>") << "无效的字符引用“&#0;”";
        QTest::newRow("past unicode") << QByteArray("<a>&#x110000;</a>") << "无效的字符引用";
        QTest::newRow("huge reference") << QByteArray("<a>&#99999999999999999999;</a>") << "无效的字符引用";
        QTest::newRow("duplicate attribute") << QByteArray("<a r=\"1\" r=\"2\"/>") << "属性“r”重复";
        QByteArray many;
        for (int i = 0; i < 40; ++i)
            many += " a" + QByteArray::number(i) + "=\"1\"";
        QTest::newRow("duplicate after many attributes") << "<a" + many + " a2=\"2\"/>"
                                                         << "属性“a2”重复";
        QTest::newRow("duplicate among many attributes") << "<a" + many + " a39=\"2\"" + many + "/>"
                                                         << "属性“a39”重复";
        QTest::newRow("duplicate in a second tag of many") << "<r><a" + many + "/><a" + many + " a0=\"x\"/></r>"
                                                           << "属性“a0”重复";
        QTest::newRow("unquoted value") << QByteArray("<a r=1/>") << "缺少引号";
        QTest::newRow("lt in value") << QByteArray("<a r=\"<\"/>") << "属性值中有“<”";
        QTest::newRow("no blank between attributes") << QByteArray("<a r=\"1\"s=\"2\"/>") << "缺少空格";
        QTest::newRow("utf-16") << QByteArray("\xFF\xFE<\0a\0/\0>\0", 10) << "不支持UTF-16编码";
        QTest::newRow("dtd") << QByteArray("<!DOCTYPE a [<!ENTITY x \"y\">]><a>&x;</a>") << "不支持文档类型定义（DTD）";
        QTest::newRow("too deep") << QByteArray("<a>").repeated(300) << "嵌套超过256层";
        QTest::newRow("endless text") << "<a>" + QByteArray(200 * 1024, 'x') + "</a>"
                                      << "有超过64KB的标记或文字";
        QTest::newRow("endless tag") << "<a " + QByteArray(200 * 1024, ' ') + "/>"
                                     << "有超过64KB的标记或文字";
        QTest::newRow("endless comment") << "<a><!--" + QByteArray(200 * 1024, '-') << "有超过64KB的标记或文字";
    }
    void refusesBadXml()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, words);
        for (int step : { 1 << 20, 5 }) {
            TrickleDevice device(xml, step);
            QString fault;
            scannerTokens(device, &fault);
            QVERIFY2(fault.startsWith(QStringLiteral("“part.xml”不是有效的XML：")), qPrintable(fault));
            QVERIFY2(fault.contains(words), qPrintable(fault));
        }
    }

    // Seeded mutations of the XML parts of the fixtures, fed straight to the scanner: none may
    // crash or hang, and where both accept, both read the same tokens.
    void mutatedXml()
    {
        QVector<QByteArray> originals;
        for (const char *file : { "formulas.xlsx", "dates1904.xlsx" }) {
            QFile f(QStringLiteral(DAGL_FIXTURES) + QString::fromLatin1(file));
            QVERIFY(f.open(QIODevice::ReadOnly));
            const ZipArchive zip(f.readAll());
            for (const QString &part : zip.entryNames())
                originals << zip.read(part, 64 << 20);
        }
        std::mt19937 random(20261211);
        const auto pick = [&](int n) { return n <= 1 ? 0 : int(random() % quint32(n)); };
        static const char *pieces[] = { "<", ">", "/>", "</", "&", "&amp;", "&#", ";", "\"", "'", "=", ":", "<![CDATA[",
            "]]>", "<!--", "-->", "<?", "?>", " ", "\r\n", "\xEF\xBB\xBF", "\xFF" };
        int bothAccepted = 0;
        int refused = 0;
        for (int n = 0; n < 3000; ++n) {
            QByteArray xml = originals.at(pick(int(originals.size())));
            const int edits = 1 + pick(4);
            for (int e = 0; e < edits && !xml.isEmpty(); ++e) {
                const int at = pick(int(xml.size()));
                switch (pick(4)) {
                case 0:
                    xml[at] = char(pick(256));
                    break;
                case 1:
                    xml.insert(at, pieces[pick(int(std::size(pieces)))]);
                    break;
                case 2:
                    xml.remove(at, 1 + pick(16));
                    break;
                default:
                    xml.truncate(at);
                    break;
                }
            }
            bool qtOk = false;
            const QStringList expected = qtTokens(xml, &qtOk);
            QString fault;
            const QStringList tokens = scannerTokensWithAttributes(xml, expected, 1 + pick(300), &fault);
            if (!fault.isEmpty()) {
                QVERIFY2(fault.startsWith(QStringLiteral("“part.xml”不是有效的XML：")), qPrintable(fault));
                ++refused;
            } else if (qtOk) {
                ++bothAccepted;
                QCOMPARE(tokens, expected);
            }
        }
        qInfo("%d accepted by both, %d refused by the scanner", bothAccepted, refused);
        QVERIFY(bothAccepted > 100);
        QVERIFY(refused > 1000);
    }
};

QTEST_MAIN(TestXmlScanner)
#include "tst_xmlscanner.moc"
