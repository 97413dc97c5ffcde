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
  const auto read = [&](const char* path, const char* attribute) {
    TElementLog log;
    EXPECT_EQ(reader->readElements(path, attribute, &log), S_OK) << path;
    return log.Lines;
  };
  const auto load = [&](const std::string& utf8) {
    VARIANT_BOOL ok = 1;
    const HRESULT hr = reader->loadAnsiXML(Utf8ToAnsi(utf8), &ok);
    EXPECT_EQ(hr, ok ? S_OK : S_FALSE);
    return ok == -1;
  };

  // Windows-1250 text as it is and by reference, what the code page lacks
  // as '?', the controls back, CDATA and nested text in order.
  ASSERT_TRUE(load(
      "<FML32 xmlns:p=\"urn:p\"><OCC id=\"Łódź\"> a &lt;&#x105;ą€ &#x4e2d;&#x1F600;&#x10FF20; </OCC>\n"
      "<x><OCC id=\"9\">nested</OCC></x><p:OCC id=\"p\">prefixed</p:OCC>"
      "<OCC id=\"2\" p:id=\"p\"><![CDATA[<b>]]>&amp;<i>c<j>&#x1;</j></i><!-- no --><?pi?>d</OCC>"
      "<OCC p:id=\"p\">&#x10FF1F;</OCC><OCC id=\"\"/></FML32>"));
  EXPECT_EQ(read("FML32/OCC", "id"),
            (std::vector<std::string>{"Łódź: a <ąą€ ??? ", "2:<b>&c\x01" "d", "<none>:\x1f", ":"}));
  // Whichever interface loaded the text.
  ASSERT_TRUE(Load(u"<FML32><a><b n=\"1\">x</b></a><a><b>y</b><c/><b n=\"3\"/></a></FML32>"));
  EXPECT_EQ(read("FML32/a/b", "n"), (std::vector<std::string>{"1:x", "<none>:y", "3:"}));
  EXPECT_TRUE(read("OCC", "id").empty());

  // The sink's first other answer ends the walk and is the result.
  TElementLog stopping;
  stopping.StopAt = 2;
  stopping.Stop = E_ABORT;
  EXPECT_EQ(reader->readElements("FML32/a/b", "n", &stopping), E_ABORT);
  EXPECT_EQ(stopping.Lines.size(), 2u);

  for (const char* path : {"", "/FML32", "FML32/", "FML32//OCC", "FML32/*", "FML32/OCC[1]",
                           "FML32/@id", "p:FML32", "FML32/..", "count(FML32)"}) {
    EXPECT_EQ(reader->readElements(path, "id", &stopping), E_INVALIDARG) << path;
  }
  EXPECT_EQ(reader->readElements("FML32", "", &stopping), E_INVALIDARG);
  TComInterface<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.ReleaseAndGetAddressOf()), S_OK);
  WideString description;
  info->GetDescription(&description);
  EXPECT_EQ(description, WideString(u"The path is not a child path of element names"));
  EXPECT_EQ(reader->readElements("FML32", "id", nullptr), E_POINTER);

  // A refused text leaves nothing to read.
  EXPECT_FALSE(load("<FML32><OCC id=\"1\">x</OCC>"));
  EXPECT_TRUE(read("FML32/OCC", "id").empty());
  EXPECT_EQ(reader->loadAnsiXML("<FML32/>", nullptr), E_POINTER);
}

TEST_F(XmlDom, ReadingWhileParsingGivesWhatTheTreeGives) {
  TComInterface<IXmlDomElementReader> reader;
  ASSERT_EQ(FDoc.As(reader), S_OK);
  const auto load = [&](const std::string& ansi) {
    VARIANT_BOOL ok = 0;
    return reader->loadAnsiXML(AnsiString(ansi), &ok) == S_OK && ok == -1;
  };
  const auto read = [&](const char* path, const char* attribute) {
    TElementLog log;
    EXPECT_EQ(reader->readElements(path, attribute, &log), S_OK);
    return log.Lines;
  };
  // Elements on the path only right below the document; text after a taken
  // element still reads as text of its parent.
  const std::string text =
      "<r xmlns:p=\"urn:p\"><a n=\"1\">x<a n=\"0\">no</a><![CDATA[y]]></a>t<a>u<b/>&#x1;</a>"
      "<p:a n=\"2\">no</p:a><a n=\"&lt;\"/>v<b><a n=\"0\">no</a></b></r>";
  TElementLog log;
  VARIANT_BOOL ok = 0;
  EXPECT_EQ(reader->readAnsiXML(AnsiString(text), "r/a", "n", &log, &ok), S_OK);
  EXPECT_EQ(ok, -1);
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"1:xnoy", "<none>:u\x01", "<:"}));
  EXPECT_EQ(Text(FDoc.get()), u"");  // nothing kept
  ASSERT_TRUE(load(text));
  EXPECT_EQ(read("r/a", "n"), log.Lines);
  EXPECT_EQ(Text(FDoc.get()), u"xnoytu\x01novno");

  // The sink is called once the whole text has been accepted.
  TElementLog none;
  EXPECT_EQ(reader->readAnsiXML(AnsiString(text.substr(0, text.size() - 1)), "r/a", "n", &none, &ok),
            S_FALSE);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(reader->readAnsiXML("<r/>", "r/", "n", &none, &ok), E_INVALIDARG);
  EXPECT_EQ(ok, 0);
  EXPECT_TRUE(none.Lines.empty());
  TElementLog stopping;
  stopping.StopAt = 1;
  stopping.Stop = E_FAIL;
  EXPECT_EQ(reader->readAnsiXML(AnsiString(text), "r/a", "n", &stopping, &ok), E_FAIL);
  EXPECT_EQ(ok, -1);
  EXPECT_EQ(stopping.Lines.size(), 1u);
  EXPECT_EQ(reader->readAnsiXML("<r/>", "r", "n", &none, nullptr), E_POINTER);
}

}  // namespace
}  // namespace Tx
