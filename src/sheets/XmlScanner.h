#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace dagl {

// A forward-only scanner of the XML parts of an .xlsx, over a device read in chunks, so a
// worksheet of any size is never held whole. It knows what those parts use and no more: start
// and end tags with prefixed names, attributes in either quote, the five named entities and
// character references, CDATA, comments and processing instructions; no DTD (Excel, WPS and
// LibreOffice write none, and refusing one rules out entity expansion). Names are given
// without their prefix; text comes as UTF-8 with its entities resolved and its line ends made
// "\n", whitespace kept as it stands (xml:space needs no handling). Tags must nest; anything
// else throws WorkbookFault naming the part. Views stay valid until the next call of next().
// Qt's XML stream reader does the same work several times slower on a large sheet.
class XmlScanner {
public:
    enum Token { StartElement, EndElement, Characters, EndDocument };

    // `tokenLimit`: the most bytes one tag or one run of text may take.
    XmlScanner(QIODevice &device, QString part, quint32 tokenLimit = 16u << 20);

    Token next();

    // StartElement and EndElement: the element's name without its prefix. An empty element
    // (<c/>) gives its EndElement at the next call.
    std::string_view name() const { return m_name; }
    // StartElement: an attribute's value by its name as written ("r", "t"), entities resolved;
    // `found` says whether there was one. The first form takes the local name of a prefixed
    // attribute ("id" for r:id), whatever its prefix.
    std::string_view attribute(std::string_view name, bool *found = nullptr) const;
    std::string_view prefixedAttribute(std::string_view localName, bool *found = nullptr) const;
    // Characters: the text.
    std::string_view text() const { return m_text; }

    // From a StartElement: the text of its character content up to its end, child elements
    // refused, as Qt's readElementText() does.
    std::string_view elementText();
    // From a StartElement: skips to its end.
    void skipElement();

    const QString &part() const { return m_part; }
    [[noreturn]] void fault(const QString &what) const;

private:
    struct Attribute {
        std::string_view name; // as written
        std::string_view value; // entities resolved
    };
    enum class Step { Done, Skip, NeedMore };

    bool fill();
    Step scanToken(Token *token);
    Step scanMarkup(Token *token);
    Step scanStartTag(size_t at, Token *token);
    Step scanText(Token *token);
    void decode(std::string_view raw, bool attribute, std::string &out) const;
    void appendEntity(std::string_view entity, std::string &out) const;
    void push(std::string_view qualified);
    void pop(std::string_view qualified);

    QIODevice &m_device;
    QString m_part;
    quint32 m_tokenLimit;
    std::string m_buffer;
    size_t m_pos = 0; // next byte to scan
    size_t m_end = 0; // bytes read into the buffer
    bool m_eof = false;
    quint64 m_offset = 0; // of m_buffer[0] in the part, for messages
    bool m_pendingEnd = false;
    bool m_rootSeen = false;
    bool m_started = false;
    std::string_view m_name;
    std::string_view m_qualified;
    std::string_view m_text;
    std::vector<Attribute> m_attributes; // kept, to spare allocations
    static constexpr size_t ManyAttributes = 16;
    std::unordered_set<std::string_view> m_attributeNames; // of a tag with many attributes
    size_t m_attributeCount = 0;
    std::string m_textScratch;
    std::vector<std::string> m_valueScratch; // decoded attribute values
    std::string m_elementText;
    std::string m_stack; // qualified names of the open elements, each ended by '\0'
    std::vector<size_t> m_stackStarts;
};

} // namespace dagl
