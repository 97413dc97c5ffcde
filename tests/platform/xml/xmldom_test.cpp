// The XML DOM parser: selection in document order, attributes and text, the
// control-character references, and documents it refuses.
#include "platform/xml/XmlDom.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Tx {
namespace {

using namespace std::string_literals;
using Node = TComInterface<IXmlDomNode>;

std::u16string Text(IXmlDomNode* node) {
  WideString text;
  EXPECT_EQ(node->get_text(&text), S_OK);
  return text.str();
}

// "id:text", with "<none>" for an element without an id attribute.
std::u16string Described(IXmlDomNode* node) {
  TComInterface<IXmlDomNamedNodeMap> attributes;
  EXPECT_EQ(node->get_attributes(attributes.ReleaseAndGetAddressOf()), S_OK);
  Node id;
  const bool hasId = attributes->getNamedItem(u"id", id.ReleaseAndGetAddressOf()) == S_OK;
  return (hasId ? Text(id.get()) : u"<none>") + u":" + Text(node);
}

class XmlDom : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(CoCreateInstance(CLSID_TxXmlDomDocument, nullptr, 0x17, FDoc), S_OK);
  }
  void TearDown() override {
    FDoc.Reset();
    CoUninitialize();
  }

  // Loads text; true when the parser accepted it.
  bool Load(const std::u16string& text) {
    VARIANT_BOOL ok = 1;
    const HRESULT hr = FDoc->loadXML(WideString(text), &ok);
    EXPECT_EQ(hr, ok ? S_OK : S_FALSE);
    return ok == -1;
  }
  // The nodes a query selects; the item past the end is S_FALSE and null.
  std::vector<Node> Select(const char16_t* query) {
    TComInterface<IXmlDomNodeList> list;
    EXPECT_EQ(FDoc->selectNodes(query, list.ReleaseAndGetAddressOf()), S_OK);
    LONG length = 0;
    EXPECT_EQ(list->get_length(&length), S_OK);
    std::vector<Node> nodes(static_cast<std::size_t>(length) + 1);
    for (LONG i = 0; i <= length; ++i)
      EXPECT_EQ(list->get_item(i, nodes[i].ReleaseAndGetAddressOf()), i < length ? S_OK : S_FALSE);
    EXPECT_FALSE(nodes.back());
    nodes.pop_back();
    return nodes;
  }

  TComInterface<IXmlDomDocument> FDoc;
};

TEST_F(XmlDom, SelectsOccChildrenOfTheRootInDocumentOrder) {
  CLSID byProgId;
  EXPECT_EQ(CLSIDFromProgID(u"TxXml.DOMDocument", &byProgId), S_OK);
  EXPECT_EQ(byProgId, CLSID_TxXmlDomDocument);
  ASSERT_TRUE(
      Load(u"<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\n"
           u"<FML32><OCC id=\"1\"> a &lt;&#x105;&#261; </OCC>\n"
           u"<x><OCC id=\"9\">nested</OCC></x>"
           u"<OCC id=\"2\"><![CDATA[<b>]]>&amp;<i>c</i><!-- no --></OCC>"
           u"<OCC>&#x20ac;</OCC><OCC id=\"\"/></FML32>"));
  const std::vector<Node> nodes = Select(u"FML32/OCC");
  std::vector<std::u16string> described;
  for (const Node& node : nodes) described.push_back(Described(node.get()));
  EXPECT_EQ(described, (std::vector<std::u16string>{u"1: a <ąą ", u"2:<b>&c", u"<none>:€", u":"}));
  EXPECT_TRUE(Select(u"OCC").empty());  // relative to the document: the root is FML32
  const std::vector<Node> id = Select(u"FML32/OCC/@id");
  TComInterface<IXmlDomNamedNodeMap> none;
  EXPECT_EQ(id.at(0)->get_attributes(none.ReleaseAndGetAddressOf()), S_FALSE);  // not an element

  // Nodes handed out outlive a reload.
  ASSERT_TRUE(Load(u"<FML32/>"));
  EXPECT_EQ(Described(nodes.at(0).get()), u"1: a <ąą ");

  TComInterface<IXmlDomNodeList> list;
  EXPECT_EQ(FDoc->selectNodes(u"FML32[", list.ReleaseAndGetAddressOf()), E_INVALIDARG);
  TComInterface<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.ReleaseAndGetAddressOf()), S_OK);
  WideString description;
  info->GetDescription(&description);
  EXPECT_EQ(description, WideString(u"The XPath expression is not valid or does not select nodes"));
  EXPECT_EQ(FDoc->selectNodes(u"count(FML32)", list.ReleaseAndGetAddressOf()), E_INVALIDARG);
}

TEST_F(XmlDom, ControlCharacterReferencesComeBackAsControls) {
  ASSERT_TRUE(
      Load(u"<FML32 a=\"&#x1;\"><OCC>a&#x1;b&#2;&#31;&#x9;&#xa;&#xd;</OCC>"
           u"<OCC><![CDATA[&#x1;]]><!-- &#x1; --><?pi &#x1;?></OCC></FML32>"));
  const std::vector<Node> nodes = Select(u"FML32/OCC");
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(Text(nodes[0].get()), std::u16string(u"a\x01"
                                                 u"b\x02\x1f\t\n\r"));
  EXPECT_EQ(Text(nodes[1].get()), u"&#x1;");
  EXPECT_EQ(Text(Select(u"FML32/@a").at(0).get()), std::u16string(u"\x01"));
  EXPECT_FALSE(Load(u"<FML32><OCC>&#x0;</OCC></FML32>"));
}

TEST_F(XmlDom, RefusedTextsLeaveAnEmptyDocument) {
  const auto nested = [](int levels, const std::u16string& inner) {
    std::u16string open, close;
    for (int i = 0; i < levels; ++i) open += u"<a>", close += u"</a>";
    return u"<FML32><OCC>" + open + inner + close + u"</OCC></FML32>";
  };
  ASSERT_TRUE(Load(nested(200, u"x")));
  EXPECT_EQ(Text(Select(u"FML32/OCC").at(0).get()), u"x");
  ASSERT_TRUE(Load(nested(0, std::u16string(12000000, u'A'))));
  EXPECT_EQ(Text(Select(u"FML32/OCC").at(0).get()).size(), 12000000u);  // text has no limit

  const std::u16string refused[] = {
      u"",
      u"<FML32><OCC id=\"1\">x</OCC>",                   // truncated
      u"<FML32><OCC id=\"1\">x</OCC></FML32><FML32/>",   // two roots
      u"<FML32><OCC id=\"1\" id=\"2\">x</OCC></FML32>",  // duplicate attribute
      u"<FML32><OCC>&undefined;</OCC></FML32>",
      u"<FML32><OCC>\u0001</OCC></FML32>",  // a literal control
      u"<FML32><OCC>x\u0000</OCC></FML32>"s,
      u"\0\0\0<FML32/>"s,                                    // no encoding is guessed from zeros
      u"<?xml version=\"1.0\"?>\n<!DOCTYPE FML32><FML32/>",  // even one that declares nothing
      nested(300, u"x"),                                     // nesting beyond the limit
      u"<FML32><OCC id=\"" + std::u16string(10000001, u'1') + u"\"/></FML32>",
  };
  for (const auto& text : refused) {
    EXPECT_FALSE(Load(text)) << std::string(text.begin(), text.end()).substr(0, 60);
    EXPECT_TRUE(Select(u"FML32/OCC").empty());
    EXPECT_EQ(Text(FDoc.get()), u"");
  }
}

// ---- The element reader -----------------------------------------------------------

// Writes each element as "id:text" ("<none>" without the attribute), the
// texts in UTF-8; answers Stop at element StopAt.
class TElementLog final : public IXmlDomElementSink {
 public:
  HRESULT OnElement(bool HasAttribute, std::string_view Attribute, std::string_view Text) override {
    Lines.push_back((HasAttribute ? AnsiToUtf8(AnsiString(Attribute)) : "<none>") + ":" +
                    AnsiToUtf8(AnsiString(Text)));
    return static_cast<int>(Lines.size()) == StopAt ? Stop : S_OK;
  }
  std::vector<std::string> Lines;
  int StopAt = -1;
  HRESULT Stop = S_OK;
};

TEST_F(XmlDom, ElementReaderHandsOverWhatTheNodesGive) {
  TComInterface<IXmlDomElementReader> reader;
  ASSERT_EQ(FDoc.As(reader), S_OK);
  const auto read = [&](const std::string& utf8, const char* path, const char* attribute) {
    TElementLog log;
    VARIANT_BOOL ok = 0;
    EXPECT_EQ(reader->readAnsiXML(Utf8ToAnsi(utf8), path, attribute, &log, &ok), S_OK);
    EXPECT_EQ(ok, -1);
    return log.Lines;
  };

  // Windows-1250 text as it is and by reference, what the code page lacks
  // as '?', the controls back, CDATA and nested text in order.
  EXPECT_EQ(read("<FML32 xmlns:p=\"urn:p\"><OCC id=\"Łódź\"> a &lt;&#x105;ą€ "
                 "&#x4e2d;&#x1F600;&#x10FF20; </OCC>\n"
                 "<x><OCC id=\"9\">nested</OCC></x><p:OCC id=\"p\">prefixed</p:OCC>"
                 "<OCC id=\"2\" p:id=\"p\"><![CDATA[<b>]]>&amp;<i>c<j>&#x1;</j></i><!-- no "
                 "--><?pi?>d</OCC>"
                 "<OCC p:id=\"p\">&#x10FF1F;</OCC><OCC id=\"\"/></FML32>",
                 "FML32/OCC", "id"),
            (std::vector<std::string>{"Łódź: a <ąą€ ??? ",
                                      "2:<b>&c\x01"
                                      "d",
                                      "<none>:\x1f", ":"}));

  // Elements on the path only right below the document, as selectNodes
  // finds them; text after an element read still counts for its parent.
  const std::string text =
      "<r xmlns:p=\"urn:p\"><a id=\"1\">x<a id=\"0\">no</a><![CDATA[y]]></a>t<a>u<b/>&#x1;</a>"
      "<p:a id=\"2\">no</p:a><a id=\"&lt;\"/>v<b><a id=\"0\">no</a></b></r>";
  const std::vector<std::string> lines = read(text, "r/a", "id");
  EXPECT_EQ(lines, (std::vector<std::string>{"1:xnoy", "<none>:u\x01", "<:"}));
  EXPECT_EQ(Text(FDoc.get()), u"");  // nothing kept
  ASSERT_TRUE(Load(std::u16string(text.begin(), text.end())));
  std::vector<std::string> described;
  for (const Node& node : Select(u"r/a"))
    described.push_back(AnsiToUtf8(AnsiString(WideString(Described(node.get())))));
  EXPECT_EQ(described, lines);
  EXPECT_EQ(Text(FDoc.get()), u"xnoytu\x01novno");
  EXPECT_EQ(read("<FML32><a><b n=\"1\">x</b></a><a><b>y</b><c/><b n=\"3\"/></a></FML32>",
                 "FML32/a/b", "n"),
            (std::vector<std::string>{"1:x", "<none>:y", "3:"}));
}

TEST_F(XmlDom, ElementReaderFailures) {
  TComInterface<IXmlDomElementReader> reader;
  ASSERT_EQ(FDoc.As(reader), S_OK);
  const AnsiString text = "<r><a n=\"1\"/><a n=\"2\"/><a n=\"3\"/></r>";
  TElementLog none;
  VARIANT_BOOL ok = -1;

  // The sink is called only once the whole text has been accepted.
  EXPECT_EQ(reader->readAnsiXML(text.SubString(1, text.Length() - 1), "r/a", "n", &none, &ok),
            S_FALSE);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(reader->readAnsiXML("<!DOCTYPE r><r><a/></r>", "r/a", "n", &none, &ok), S_FALSE);
  for (const char* path :
       {"", "/r", "r/", "r//a", "r/*", "r/a[1]", "r/@n", "p:r", "r/..", "count(r)"}) {
    EXPECT_EQ(reader->readAnsiXML(text, path, "n", &none, &ok), E_INVALIDARG) << path;
    EXPECT_EQ(ok, 0);
  }
  EXPECT_EQ(reader->readAnsiXML(text, "r/a", "", &none, &ok), E_INVALIDARG);
  TComInterface<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.ReleaseAndGetAddressOf()), S_OK);
  WideString description;
  info->GetDescription(&description);
  EXPECT_EQ(description, WideString(u"The path is not a child path of element names"));
  EXPECT_TRUE(none.Lines.empty());

  // The sink's first other answer ends the walk and is the result.
  TElementLog stopping;
  stopping.StopAt = 2;
  stopping.Stop = E_ABORT;
  EXPECT_EQ(reader->readAnsiXML(text, "r/a", "n", &stopping, &ok), E_ABORT);
  EXPECT_EQ(ok, -1);
  EXPECT_EQ(stopping.Lines, (std::vector<std::string>{"1:", "2:"}));
  EXPECT_EQ(reader->readAnsiXML(text, "r/a", "n", nullptr, &ok), E_POINTER);
  EXPECT_EQ(reader->readAnsiXML(text, "r/a", "n", &none, nullptr), E_POINTER);
}

}  // namespace
}  // namespace Tx
