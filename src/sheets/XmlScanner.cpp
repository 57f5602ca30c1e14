#include "XmlScanner.h"

#include "SheetData.h"
#include "ZipArchive.h"

#include <cstring>

namespace dagl {

namespace {

constexpr size_t Chunk = 256 * 1024;
constexpr size_t MaxDepth = 256;

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// Bytes that end a name in a tag.
bool endsName(char c)
{
    return isSpace(c) || c == '/' || c == '>' || c == '=';
}

bool badInName(char c)
{
    return c == '<' || c == '"' || c == '\'' || c == '&';
}

std::string_view localOf(std::string_view qualified)
{
    const size_t colon = qualified.rfind(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

QString shown(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), qsizetype(qMin<size_t>(bytes.size(), 40)));
}

void appendUtf8(char32_t code, std::string &out)
{
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

QString sizeText(quint32 bytes)
{
    return bytes >= (1u << 20) ? QStringLiteral("%1MB").arg(bytes >> 20) : QStringLiteral("%1KB").arg(bytes >> 10);
}

// The characters XML allows.
bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

} // namespace

XmlScanner::XmlScanner(QIODevice &device, QString part, quint32 tokenLimit)
    : m_device(device)
    , m_part(std::move(part))
    , m_tokenLimit(qMax<quint32>(tokenLimit, 1024))
{
    m_buffer.resize(Chunk);
}

void XmlScanner::fault(const QString &what) const
{
    WorkbookFault::damaged(
        QStringLiteral("“%1”不是有效的XML：%2（第%3字节处）").arg(m_part, what).arg(m_offset + m_pos));
}

bool XmlScanner::fill()
{
    if (m_eof)
        return false;
    // Keep the token being scanned; drop what lies before it.
    if (m_pos > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_pos, m_end - m_pos);
        m_offset += m_pos;
        m_end -= m_pos;
        m_pos = 0;
    }
    if (m_end >= m_tokenLimit)
        fault(QStringLiteral("有超过%1的标记或文字").arg(sizeText(m_tokenLimit)));
    if (m_buffer.size() - m_end < Chunk / 4)
        m_buffer.resize(m_buffer.size() * 2);
    // A token cut off is scanned again from its start: read at least as much as is held,
    // however little the device gives at a time, so a long one costs a few passes, not one
    // for each read.
    const size_t want = qMax<size_t>(m_end, 1);
    size_t got = 0;
    while (got < want && m_end < m_buffer.size()) {
        const qint64 n = m_device.read(m_buffer.data() + m_end, qint64(m_buffer.size() - m_end));
        if (n < 0) {
            ZipArchive::check(m_device); // the container's own fault first
            fault(QStringLiteral("无法读取"));
        }
        if (n == 0) {
            m_eof = true;
            break;
        }
        m_end += size_t(n);
        got += size_t(n);
    }
    return got > 0;
}

XmlScanner::Token XmlScanner::next()
{
    if (m_pendingEnd) {
        m_pendingEnd = false;
        return EndElement;
    }
    if (!m_started) {
        m_started = true;
        while (m_end < 3 && fill()) { }
        const auto *b = reinterpret_cast<const uchar *>(m_buffer.data());
        if (m_end >= 2 && ((b[0] == 0xFE && b[1] == 0xFF) || (b[0] == 0xFF && b[1] == 0xFE)))
            fault(QStringLiteral("不支持UTF-16编码"));
        if (m_end >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
            m_pos = 3;
    }
    for (;;) {
        Token token = EndDocument;
        const size_t start = m_pos;
        const Step step = scanToken(&token);
        if (step != Step::NeedMore && m_pos - start > m_tokenLimit)
            fault(QStringLiteral("有超过%1的标记或文字").arg(sizeText(m_tokenLimit)));
        if (step == Step::Done)
            return token;
        if (step == Step::Skip)
            continue;
        if (m_eof)
            fault(QStringLiteral("文件在标记中间结束"));
        fill();
    }
}

XmlScanner::Step XmlScanner::scanToken(Token *token)
{
    if (m_pos == m_end) {
        if (!m_eof)
            return Step::NeedMore;
        if (!m_stackStarts.empty())
            fault(
                QStringLiteral("元素<%1>没有结束").arg(shown(std::string_view(m_stack).substr(m_stackStarts.back()))));
        if (!m_rootSeen)
            fault(QStringLiteral("没有根元素"));
        *token = EndDocument;
        return Step::Done;
    }
    if (m_buffer[m_pos] == '<')
        return scanMarkup(token);
    return scanText(token);
}

XmlScanner::Step XmlScanner::scanText(Token *token)
{
    const char *start = m_buffer.data() + m_pos;
    const void *lt = std::memchr(start, '<', m_end - m_pos);
    if (!lt && !m_eof)
        return Step::NeedMore; // the text may go on
    const size_t length = lt ? size_t(static_cast<const char *>(lt) - start) : m_end - m_pos;
    const std::string_view raw(start, length);
    m_pos += length;
    if (m_stackStarts.empty()) {
        for (char c : raw) {
            if (!isSpace(c))
                fault(QStringLiteral("根元素之外有文字"));
        }
        return Step::Skip;
    }
    if (raw.find_first_of("&\r") == std::string_view::npos) {
        m_text = raw;
    } else {
        decode(raw, false, m_textScratch);
        m_text = m_textScratch;
    }
    *token = Characters;
    return Step::Done;
}

XmlScanner::Step XmlScanner::scanMarkup(Token *token)
{
    const std::string_view rest(m_buffer.data() + m_pos, m_end - m_pos);
    if (rest.size() < 2)
        return Step::NeedMore;
    const char second = rest[1];
    if (second == '?') {
        const size_t end = rest.find("?>", 2);
        if (end == std::string_view::npos)
            return Step::NeedMore;
        m_pos += end + 2;
        return Step::Skip;
    }
    if (second == '!') {
        if (rest.size() < 9)
            return Step::NeedMore;
        if (rest.substr(0, 4) == "<!--") {
            const size_t end = rest.find("-->", 4);
            if (end == std::string_view::npos)
                return Step::NeedMore;
            m_pos += end + 3;
            return Step::Skip;
        }
        if (rest.substr(0, 9) == "<![CDATA[") {
            const size_t end = rest.find("]]>", 9);
            if (end == std::string_view::npos)
                return Step::NeedMore;
            if (m_stackStarts.empty())
                fault(QStringLiteral("根元素之外有CDATA"));
            const std::string_view raw = rest.substr(9, end - 9);
            m_pos += end + 3;
            if (raw.empty())
                return Step::Skip;
            if (raw.find('\r') == std::string_view::npos) {
                m_text = raw;
            } else {
                // Line ends only: entities mean nothing inside CDATA.
                m_textScratch.clear();
                for (size_t i = 0; i < raw.size(); ++i) {
                    const bool pair = raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n';
                    m_textScratch += raw[i] == '\r' ? '\n' : raw[i];
                    i += pair ? 1 : 0;
                }
                m_text = m_textScratch;
            }
            *token = Characters;
            return Step::Done;
        }
        fault(rest.substr(0, 9) == "<!DOCTYPE" ? QStringLiteral("不支持文档类型定义（DTD）")
                                               : QStringLiteral("无效的标记“%1”").arg(shown(rest.substr(0, 9))));
    }
    if (second == '/') {
        const size_t gt = rest.find('>', 2);
        if (gt == std::string_view::npos)
            return Step::NeedMore;
        std::string_view qualified = rest.substr(2, gt - 2);
        while (!qualified.empty() && isSpace(qualified.back()))
            qualified.remove_suffix(1);
        pop(qualified);
        m_pos += gt + 1;
        m_qualified = qualified;
        m_name = localOf(qualified);
        *token = EndElement;
        return Step::Done;
    }
    return scanStartTag(m_pos, token);
}

XmlScanner::Step XmlScanner::scanStartTag(size_t at, Token *token)
{
    const char *b = m_buffer.data();
    size_t i = at + 1;
    while (i < m_end && !endsName(b[i])) {
        if (badInName(b[i]))
            fault(QStringLiteral("无效的元素名"));
        ++i;
    }
    if (i >= m_end)
        return Step::NeedMore;
    const std::string_view qualified(b + at + 1, i - at - 1);
    if (qualified.empty())
        fault(QStringLiteral("无效的元素名"));
    size_t used = 0; // attributes
    bool empty = false;
    for (;;) {
        const size_t before = i;
        while (i < m_end && isSpace(b[i]))
            ++i;
        if (i >= m_end)
            return Step::NeedMore;
        if (b[i] == '>') {
            ++i;
            break;
        }
        if (b[i] == '/') {
            if (i + 1 >= m_end)
                return Step::NeedMore;
            if (b[i + 1] != '>')
                fault(QStringLiteral("元素<%1>的标记无效").arg(shown(qualified)));
            i += 2;
            empty = true;
            break;
        }
        if (i == before)
            fault(QStringLiteral("元素<%1>的属性之间缺少空格").arg(shown(qualified)));
        const size_t nameStart = i;
        while (i < m_end && !endsName(b[i])) {
            if (badInName(b[i]))
                fault(QStringLiteral("元素<%1>的属性名无效").arg(shown(qualified)));
            ++i;
        }
        const std::string_view name(b + nameStart, i - nameStart);
        while (i < m_end && isSpace(b[i]))
            ++i;
        if (i >= m_end)
            return Step::NeedMore;
        if (name.empty() || b[i] != '=')
            fault(QStringLiteral("元素<%1>的属性无效").arg(shown(qualified)));
        ++i;
        while (i < m_end && isSpace(b[i]))
            ++i;
        if (i >= m_end)
            return Step::NeedMore;
        const char quote = b[i];
        if (quote != '"' && quote != '\'')
            fault(QStringLiteral("元素<%1>的属性值缺少引号").arg(shown(qualified)));
        const void *close = std::memchr(b + i + 1, quote, m_end - i - 1);
        if (!close)
            return Step::NeedMore;
        const std::string_view raw(b + i + 1, size_t(static_cast<const char *>(close) - (b + i + 1)));
        if (raw.find('<') != std::string_view::npos)
            fault(QStringLiteral("元素<%1>的属性值中有“<”").arg(shown(qualified)));
        // A few attributes are compared one by one; a tag with many is checked through a set,
        // so a crafted tag of thousands costs thousands of steps, not millions.
        bool repeated = false;
        if (used < ManyAttributes) {
            for (size_t k = 0; k < used && !repeated; ++k)
                repeated = m_attributes[k].name == name;
        } else {
            if (used == ManyAttributes) {
                m_attributeNames.clear();
                for (size_t k = 0; k < used; ++k)
                    m_attributeNames.insert(m_attributes[k].name);
            }
            repeated = !m_attributeNames.insert(name).second;
        }
        if (repeated)
            fault(QStringLiteral("元素<%1>的属性“%2”重复").arg(shown(qualified), shown(name)));
        if (used == m_attributes.size()) {
            if (used >= 4096)
                fault(QStringLiteral("元素<%1>的属性过多").arg(shown(qualified)));
            m_attributes.emplace_back();
            m_valueScratch.emplace_back();
        }
        Attribute &a = m_attributes[used++];
        a.name = name;
        if (raw.find_first_of("&\r\n\t") == std::string_view::npos) {
            a.value = raw;
        } else {
            decode(raw, true, m_valueScratch[used - 1]);
            a.value = m_valueScratch[used - 1];
        }
        i += 1 + raw.size() + 1;
    }
    m_attributeCount = used;
    if (m_stackStarts.empty() && m_rootSeen)
        fault(QStringLiteral("根元素之后还有元素<%1>").arg(shown(qualified)));
    m_rootSeen = true;
    m_qualified = qualified;
    m_name = localOf(qualified);
    if (empty)
        m_pendingEnd = true;
    else
        push(qualified);
    m_pos = i;
    *token = StartElement;
    return Step::Done;
}

void XmlScanner::push(std::string_view qualified)
{
    if (m_stackStarts.size() >= MaxDepth)
        fault(QStringLiteral("元素嵌套超过%1层").arg(MaxDepth));
    m_stackStarts.push_back(m_stack.size());
    m_stack.append(qualified);
}

void XmlScanner::pop(std::string_view qualified)
{
    if (m_stackStarts.empty())
        fault(QStringLiteral("多余的结束标记</%1>").arg(shown(qualified)));
    const std::string_view open = std::string_view(m_stack).substr(m_stackStarts.back());
    if (open != qualified)
        fault(QStringLiteral("结束标记</%1>与开始标记<%2>不符").arg(shown(qualified), shown(open)));
    m_stack.resize(m_stackStarts.back());
    m_stackStarts.pop_back();
}

void XmlScanner::decode(std::string_view raw, bool attribute, std::string &out) const
{
    out.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '&') {
            const size_t semi = raw.find(';', i + 1);
            if (semi == std::string_view::npos || semi - i > 32)
                fault(QStringLiteral("“&”后没有有效的实体引用"));
            appendEntity(raw.substr(i + 1, semi - i - 1), out);
            i = semi;
        } else if (c == '\r') {
            // A line end is "\n" however written; in an attribute it is a space.
            if (i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
            out += attribute ? ' ' : '\n';
        } else if (attribute && (c == '\n' || c == '\t')) {
            out += ' ';
        } else {
            out += c;
        }
    }
}

void XmlScanner::appendEntity(std::string_view entity, std::string &out) const
{
    static const struct {
        std::string_view name;
        char c;
    } named[] = { { "amp", '&' }, { "lt", '<' }, { "gt", '>' }, { "quot", '"' }, { "apos", '\'' } };
    for (const auto &n : named) {
        if (entity == n.name) {
            out += n.c;
            return;
        }
    }
    if (entity.size() >= 2 && entity[0] == '#') {
        const bool hex = entity[1] == 'x';
        const std::string_view digits = entity.substr(hex ? 2 : 1);
        char32_t code = 0;
        bool ok = !digits.empty();
        for (char d : digits) {
            int v = -1;
            if (d >= '0' && d <= '9')
                v = d - '0';
            else if (hex && d >= 'a' && d <= 'f')
                v = d - 'a' + 10;
            else if (hex && d >= 'A' && d <= 'F')
                v = d - 'A' + 10;
            if (v < 0 || code > 0x10FFFF) {
                ok = false;
                break;
            }
            code = code * (hex ? 16 : 10) + char32_t(v);
        }
        if (ok && isXmlChar(code)) {
            appendUtf8(code, out);
            return;
        }
        fault(QStringLiteral("无效的字符引用“&%1;”").arg(shown(entity)));
    }
    fault(QStringLiteral("未定义的实体“&%1;”").arg(shown(entity)));
}

std::string_view XmlScanner::attribute(std::string_view name, bool *found) const
{
    for (size_t k = 0; k < m_attributeCount; ++k) {
        const Attribute &a = m_attributes[k];
        if (a.name == name) {
            if (found)
                *found = true;
            return a.value;
        }
    }
    if (found)
        *found = false;
    return {};
}

std::string_view XmlScanner::prefixedAttribute(std::string_view localName, bool *found) const
{
    for (size_t k = 0; k < m_attributeCount; ++k) {
        const Attribute &a = m_attributes[k];
        const size_t colon = a.name.find(':');
        if (colon != std::string_view::npos && a.name.substr(colon + 1) == localName
            && a.name.substr(0, colon) != "xmlns") {
            if (found)
                *found = true;
            return a.value;
        }
    }
    if (found)
        *found = false;
    return {};
}

std::string_view XmlScanner::elementText()
{
    m_elementText.clear();
    for (;;) {
        switch (next()) {
        case Characters:
            if (m_elementText.size() + m_text.size() > m_tokenLimit)
                fault(QStringLiteral("有超过%1的文字").arg(sizeText(m_tokenLimit)));
            m_elementText.append(m_text);
            break;
        case StartElement:
            fault(QStringLiteral("元素中不应有子元素<%1>").arg(shown(m_qualified)));
        case EndElement:
        case EndDocument:
            return m_elementText;
        }
    }
}

void XmlScanner::skipElement()
{
    for (size_t depth = 1; depth > 0;) {
        switch (next()) {
        case StartElement:
            ++depth;
            break;
        case EndElement:
            --depth;
            break;
        case Characters:
            break;
        case EndDocument:
            return;
        }
    }
}

} // namespace dagl
