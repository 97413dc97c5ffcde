// The XML DOM parser: selection in document order, attributes and text, the
// control-character references, and documents it refuses.
#include "platform/xml/XmlDom.h"

#include <gtest/gtest.h>

#include <string>

namespace Tx {
namespace {

using namespace std::string_literals;

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
  TComInterface<IXmlDomNodeList> Select(const char16_t* query) {
    TComInterface<IXmlDomNodeList> list;
    EXPECT_EQ(FDoc->selectNodes(query, list.ReleaseAndGetAddressOf()), S_OK);
    return list;
  }
  static LONG Length(const TComInterface<IXmlDomNodeList>& list) {
    LONG length = -1;
    EXPECT_EQ(list->get_length(&length), S_OK);
    return length;
  }
  static std::u16string Text(IXmlDomNode* node) {
    WideString text;
    EXPECT_EQ(node->get_text(&text), S_OK);
    return text.str();
  }
  static TComInterface<IXmlDomNode> Item(const TComInterface<IXmlDomNodeList>& list, LONG i) {
    TComInterface<IXmlDomNode> node;
    EXPECT_EQ(list->get_item(i, node.ReleaseAndGetAddressOf()), S_OK);
    return node;
  }
  static std::u16string Id(IXmlDomNode* node) {
    TComInterface<IXmlDomNamedNodeMap> attributes;
    EXPECT_EQ(node->get_attributes(attributes.ReleaseAndGetAddressOf()), S_OK);
    TComInterface<IXmlDomNode> id;
    if (attributes->getNamedItem(u"id", id.ReleaseAndGetAddressOf()) != S_OK) return u"<none>";
    return Text(id.get());
  }

  TComInterface<IXmlDomDocument> FDoc;
};

TEST_F(XmlDom, SelectsOccChildrenOfTheRootInDocumentOrder) {
  ASSERT_TRUE(Load(u"<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\n"
                   u"<FML32><OCC id=\"1\"> a &lt;&#x105;&#261; </OCC>\n"
                   u"<x><OCC id=\"9\">nested</OCC></x>"
                   u"<OCC id=\"2\"><![CDATA[<b>]]>&amp;<i>c</i><!-- no --></OCC>"
                   u"<OCC>&#x20ac;</OCC><OCC id=\"\"/></FML32>"));
  const auto list = Select(u"FML32/OCC");
  ASSERT_EQ(Length(list), 4);
  EXPECT_EQ(Text(Item(list, 0).get()), u" a <ąą ");  // white space kept
  EXPECT_EQ(Id(Item(list, 0).get()), u"1");
  EXPECT_EQ(Text(Item(list, 1).get()), u"<b>&c");
  EXPECT_EQ(Id(Item(list, 1).get()), u"2");
  EXPECT_EQ(Text(Item(list, 2).get()), u"€");
  EXPECT_EQ(Id(Item(list, 2).get()), u"<none>");
  EXPECT_EQ(Text(Item(list, 3).get()), u"");
  EXPECT_EQ(Id(Item(list, 3).get()), u"");

  TComInterface<IXmlDomNode> beyond;
  EXPECT_EQ(list->get_item(4, beyond.ReleaseAndGetAddressOf()), S_FALSE);
  EXPECT_FALSE(beyond);
  TComInterface<IXmlDomNamedNodeMap> none;
  TComInterface<IXmlDomNode> attribute;
  ASSERT_EQ(Item(list, 0)->get_attributes(none.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(none->getNamedItem(u"id", attribute.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(attribute->get_attributes(none.ReleaseAndGetAddressOf()), S_FALSE);  // not an element
  EXPECT_EQ(Length(Select(u"OCC")), 0);  // relative to the document: the root is FML32
}

TEST_F(XmlDom, ControlCharacterReferencesComeBackAsControls) {
  ASSERT_TRUE(Load(u"<FML32 a=\"&#x1;\"><OCC>a&#x1;b&#2;&#31;&#x9;&#xa;&#xd;</OCC>"
                   u"<OCC><![CDATA[&#x1;]]><!-- &#x1; --><?pi &#x1;?></OCC></FML32>"));
  const auto list = Select(u"FML32/OCC");
  ASSERT_EQ(Length(list), 2);
  EXPECT_EQ(Text(Item(list, 0).get()), std::u16string(u"a\x01" u"b\x02\x1f\t\n\r"));
  EXPECT_EQ(Text(Item(list, 1).get()), u"&#x1;");
  const auto root = Select(u"FML32/@a");
  ASSERT_EQ(Length(root), 1);
  EXPECT_EQ(Text(Item(root, 0).get()), std::u16string(u"\x01"));
  // &#x0; stays refused.
  EXPECT_FALSE(Load(u"<FML32><OCC>&#x0;</OCC></FML32>"));
}

TEST_F(XmlDom, TextThatIsNotXmlGivesAnEmptyDocument) {
  const std::u16string refused[] = {
      u"",
      u"not xml at all",
      u"<FML32><OCC id=\"1\">x</OCC>",                      // truncated
      u"<FML32><OCC id=\"1\">x</OCC></FML32><FML32/>",      // two roots
      u"<FML32><OCC id=\"1\" id=\"2\">x</OCC></FML32>",     // duplicate attribute
      u"<FML32><OCC>&undefined;</OCC></FML32>",
      u"<FML32><OCC>\u0001</OCC></FML32>",                  // a literal control
      u"<FML32><OCC>x\u0000</OCC></FML32>"s,
      u"\0\0\0<FML32/>"s,  // no encoding is guessed from zeros
      // Document type declarations are refused (the import's tests hold the
      // hostile ones), also when they declare nothing.
      u"<?xml version=\"1.0\"?>\n<!DOCTYPE FML32><FML32/>",
  };
  ASSERT_TRUE(Load(u"<FML32><OCC id=\"1\">x</OCC></FML32>"));
  for (const auto& text : refused) {
    EXPECT_FALSE(Load(text)) << std::string(text.begin(), text.end());
    EXPECT_EQ(Length(Select(u"FML32/OCC")), 0);
    EXPECT_EQ(Text(FDoc.get()), u"");
  }
}

TEST_F(XmlDom, LimitsOnNestingAndAttributeSize) {
  std::u16string deep = u"<FML32><OCC id=\"1\">";
  for (int i = 0; i < 200; ++i) deep += u"<a>";
  deep += u"x";
  for (int i = 0; i < 200; ++i) deep += u"</a>";
  deep += u"</OCC></FML32>";
  ASSERT_TRUE(Load(deep));
  EXPECT_EQ(Text(Item(Select(u"FML32/OCC"), 0).get()), u"x");

  std::u16string deeper;
  for (int i = 0; i < 300; ++i) deeper += u"<a>";
  for (int i = 0; i < 300; ++i) deeper += u"</a>";
  EXPECT_FALSE(Load(deeper));

  std::u16string huge = u"<FML32><OCC id=\"" + std::u16string(10000001, u'1') + u"\"/></FML32>";
  EXPECT_FALSE(Load(huge));
  std::u16string bigText = u"<FML32><OCC id=\"1\">" + std::u16string(12000000, u'A') + u"</OCC></FML32>";
  ASSERT_TRUE(Load(bigText));
  EXPECT_EQ(Text(Item(Select(u"FML32/OCC"), 0).get()).size(), 12000000u);
}

TEST_F(XmlDom, NodesOutliveAReloadAndBadQueriesAreReported) {
  CLSID byProgId;
  EXPECT_EQ(CLSIDFromProgID(u"TxXml.DOMDocument", &byProgId), S_OK);
  EXPECT_EQ(byProgId, CLSID_TxXmlDomDocument);
  ASSERT_TRUE(Load(u"<FML32><OCC id=\"7\">first</OCC></FML32>"));
  const auto kept = Item(Select(u"FML32/OCC"), 0);
  ASSERT_TRUE(Load(u"<FML32/>"));
  EXPECT_EQ(Text(kept.get()), u"first");
  EXPECT_EQ(Id(kept.get()), u"7");

  TComInterface<IXmlDomNodeList> list;
  EXPECT_EQ(FDoc->selectNodes(u"FML32[", list.ReleaseAndGetAddressOf()), E_INVALIDARG);
  TComInterface<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.ReleaseAndGetAddressOf()), S_OK);
  WideString description;
  info->GetDescription(&description);
  EXPECT_EQ(description, WideString(u"The XPath expression is not valid or does not select nodes"));
  EXPECT_EQ(FDoc->selectNodes(u"count(FML32)", list.ReleaseAndGetAddressOf()), E_INVALIDARG);
}

}  // namespace
}  // namespace Tx
