// FML32 <-> XML: the exported document byte for byte, round trips of every
// type with the documented exceptions, the import's rules and failures, and
// documents the import refuses.
#include "xml/TxFMLXML.h"

#include <fml32.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/framework/Com.h"
#include "platform/xml/XmlDom.h"
#include "tests/xml/DomOnlyParser.h"

namespace Tx {
namespace {

const FLDID32 SHORT_F = Fmkfldid32(FLD_SHORT, 201);    // 201
const FLDID32 LONG_F = Fmkfldid32(FLD_LONG, 202);      // 33554634
const FLDID32 CHAR_F = Fmkfldid32(FLD_CHAR, 203);      // 67109067
const FLDID32 FLOAT_F = Fmkfldid32(FLD_FLOAT, 204);    // 100663500
const FLDID32 DOUBLE_F = Fmkfldid32(FLD_DOUBLE, 205);  // 134217933
const FLDID32 STRING_F = Fmkfldid32(FLD_STRING, 206);  // 167772366
const FLDID32 CARRAY_F = Fmkfldid32(FLD_CARRAY, 207);  // 201326799
const FLDID32 DATE_F = Fmkfldid32(FLD_LONG, 300);
const FLDID32 TIME_F = Fmkfldid32(FLD_DOUBLE, 301);

std::string TestData(const std::string& name) {
  const char* data = std::getenv("TXLIB_TESTDATA");
  std::ifstream in(std::string(data != nullptr ? data : "tests/data") + "/xml/" + name,
                   std::ios::binary);
  EXPECT_TRUE(in) << name;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Adds a raw value: a number, or the bytes of a string or carray.
template <class T>
void Add(TTxFbfr& b, FLDID32 id, T value) {
  if constexpr (std::is_same_v<T, std::string>) {
    ASSERT_NE(Fadd32(b.GetFbfrP(), id, value.data(), static_cast<FLDLEN32>(value.size())), -1);
  } else {
    ASSERT_NE(Fadd32(b.GetFbfrP(), id, reinterpret_cast<char*>(&value), 0), -1);
  }
}

std::string Element(FLDID32 id, const std::string& text) {
  return "<OCC id=\"" + std::to_string(static_cast<int>(id)) + "\">" + text + "</OCC>\n";
}
std::string Document(const std::string& elements) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<FML32>" + elements +
         "</FML32>\n";
}

class FmlXml : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    TTxGlobalClient::SetTranslateType(txttWindows);
    SetDebugMode(0);  // messages without source lines
    for (FLDID32 id : {SHORT_F, LONG_F, CHAR_F, FLOAT_F, DOUBLE_F, STRING_F, CARRAY_F})
      FContract.AddFldDef(id);
    FContract.AddFldDef(DATE_F)->SetLogicalType(txlftDate);
    FContract.AddFldDef(TIME_F)->SetLogicalType(txlftTime);
  }
  void TearDown() override {
    FSource.Contract = FTarget.Contract = nullptr;
    CoUninitialize();
  }

  // Imports text into FTarget and gives the buffer's bare export.
  std::string Reimported(const std::string& text) {
    ImportFMLFromXML(&FTarget, AnsiString(text));
    return ExportFMLToXML(FTarget.GetFbfrP()).str();
  }
  std::string ImportError(const std::string& text) {
    try {
      ImportFMLFromXML(&FTarget, AnsiString(text));
    } catch (const Exception& e) {
      return e.Message.str();
    }
    return "no exception";
  }

  TTxFbfrDef FContract{nullptr};
  TTxFbfr FSource{nullptr, 4096};
  TTxFbfr FTarget{nullptr, 4096};
};

// ---- Export ------------------------------------------------------------------------

TEST_F(FmlXml, DocumentByteForByteInBothForms) {
  EXPECT_EQ(ExportFMLToXML(&FSource).str(), Document(""));  // no line feed after <FML32>
  for (short v : {short{-5}, short{-32768}}) Add(FSource, SHORT_F, v);
  for (long v : {7L, -2147483648L}) Add(FSource, LONG_F, v);
  for (char c : {'A', '<', '\0'}) Add(FSource, CHAR_F, c);
  for (float f : {1.25f, std::bit_cast<float>(0xFFFFFFFFu)}) Add(FSource, FLOAT_F, f);
  for (double d : {1.5, 1e-7, -2.5}) Add(FSource, DOUBLE_F, d);
  for (std::string s :
       {std::string("a<b"), ("Zażółć"_ansi).str() + "\x01\n\x81\x80", std::string()})
    Add(FSource, STRING_F, s);
  for (std::string s : {std::string("\x00\x01\x02\x03", 4), std::string(), std::string("abcde")})
    Add(FSource, CARRAY_F, s);

  EXPECT_EQ(ExportFMLToXML(FSource.GetFbfrP()).str(), TestData("all_types.xml"));
  // The object form reads the same values when no definition changes them.
  EXPECT_EQ(ExportFMLToXML(&FSource).str(), TestData("all_types.xml"));
}

TEST_F(FmlXml, EscapingOfWindows1250Text) {
  // The five bytes Windows-1250 leaves undefined become blanks.
  Add(FSource, STRING_F,
      ("&<>\"'\x7f\x1f\t\r ąĄśŚżŻźŹćĆęĘłŁńŃóÓ"_ansi).str() + "\x80\x81\x83\x88\x90\x98\xa0\xff");
  EXPECT_EQ(
      ExportFMLToXML(&FSource).str(),
      Document(Element(STRING_F,
                       "&#x26;&#x3c;&#x3e;\"'\x7f&#x1f;&#x9;&#xd; &#x105;&#x104;&#x15b;&#x15a;"
                       "&#x17c;&#x17b;&#x17a;&#x179;&#x107;&#x106;&#x119;&#x118;&#x142;&#x141;"
                       "&#x144;&#x143;&#xf3;&#xd3;&#x20ac;&#x20;&#x20;&#x20;&#x20;&#x20;&#xa0;"
                       "&#x2d9;")));
}

TEST_F(FmlXml, StringsAreTranslatedFromAndToTheServerCodePage) {
  TTxGlobalClient::SetTranslateType(txttISO8859);
  Add(FSource, STRING_F, std::string("\xb1\xa1"));  // ą Ą in ISO 8859-2
  const std::string expected = Document(Element(STRING_F, "&#x105;&#x104;"));
  EXPECT_EQ(ExportFMLToXML(FSource.GetFbfrP()).str(), expected);
  EXPECT_EQ(ExportFMLToXML(&FSource).str(), expected);
  EXPECT_EQ(Reimported(expected), expected);
}

// ---- Round trips ---------------------------------------------------------------------

TEST_F(FmlXml, EveryTypeComesBackWithTheDocumentedExceptions) {
  FSource.Contract = FTarget.Contract = &FContract;
  std::string everyByte;
  for (int b = 0; b < 256; ++b) everyByte += static_cast<char>(b);
  static const char controlBytes[] = "\x01\x02\x08\x0b\x0c\x0e\x1f\t\n\r x";
  const AnsiString controls(controlBytes, sizeof controlBytes - 1);
  const std::pair<FLDID32, std::vector<Variant>> values[] = {
      {SHORT_F, {short{-32767}, Null(), short{32767}}},
      {LONG_F, {-2147483647, Null(), 2147483647}},
      {CHAR_F, {"&", "\xb9", Null()}},
      {FLOAT_F, {1.25f, -0.5f, Null()}},
      {DOUBLE_F, {1e15, -123.456, Null()}},
      {STRING_F,
       {"Zażółć gęślą jaźń ZAŻÓŁĆ GĘŚLĄ JAŹŃ"_ansi, controls, "  blanks kept  ", Null(), ""}},
      {CARRAY_F, {AnsiString(everyByte), "x", Null()}},
      {DATE_F, {36526}},  // stored as 36525
      {TIME_F, {0.75}},   // stored as -0.25
  };
  for (const auto& [id, occurrences] : values)
    for (const Variant& value : occurrences) FSource.AppendOcc(id, value);
  const AnsiString document = ExportFMLToXML(&FSource);
  // The object form writes what OccValue gives, the date as the stored day.
  for (const std::string& read :
       {Element(DATE_F, "36525"), Element(TIME_F, "0.750000"), Element(FLOAT_F, "")})
    EXPECT_NE(document.str().find(read), std::string::npos) << read;
  ImportFMLFromXML(&FTarget, document);
  EXPECT_EQ(ExportFMLToXML(FTarget.GetFbfrP()), ExportFMLToXML(FSource.GetFbfrP()));  // stored
  EXPECT_EQ(ExportFMLToXML(&FTarget), document);
  EXPECT_EQ(VarToStr(FTarget.OccValue(STRING_F, 1)), controls);

  // Doubles keep six decimals; the undefined bytes come back as blanks.
  FSource.DeleteAllOcc(0);
  FSource.AppendOcc(DOUBLE_F, Variant(1.23456789));
  FSource.AppendOcc(DOUBLE_F, Variant(1e-7));
  FSource.AppendOcc(STRING_F, Variant(AnsiString("a\x81z", 3)));
  ImportFMLFromXML(&FTarget, ExportFMLToXML(&FSource));
  EXPECT_EQ(FTarget.OccValue(DOUBLE_F, 0).AsDouble(), 1.234568);
  EXPECT_EQ(FTarget.OccValue(DOUBLE_F, 1).AsDouble(), 0.0);
  EXPECT_EQ(VarToStr(FTarget.OccValue(STRING_F, 0)), "a z");
}

// ---- Import rules ------------------------------------------------------------------

TEST_F(FmlXml, ImportValueRules) {
  // 70000 keeps its low 16 bits; the last comma is the decimal point; text
  // that is no number is 0; base64 skips white space and what fails adds
  // nothing; an empty element is a null.
  EXPECT_EQ(
      Reimported(Document(Element(DOUBLE_F, "1,25") + Element(FLOAT_F, " 2.5e1xyz") +
                          Element(DOUBLE_F, "abc") + Element(CARRAY_F, " AA EC\n Aw== ") +
                          Element(CARRAY_F, "not base64!") + Element(CARRAY_F, "AAE") +
                          Element(CARRAY_F, "   ") + Element(CARRAY_F, "") + Element(STRING_F, "") +
                          Element(LONG_F, " $10") + Element(SHORT_F, "70000"))),
      Document(Element(SHORT_F, "4464") + Element(LONG_F, "16") + Element(FLOAT_F, "25.000000") +
               Element(DOUBLE_F, "1.250000") + Element(DOUBLE_F, "0.000000") +
               Element(STRING_F, "") + Element(CARRAY_F, "AAECAw==") + Element(CARRAY_F, "")));

  // The buffer is emptied first; only OCC children of the root count, in
  // document order.
  Add(FTarget, STRING_F, std::string("old"));
  EXPECT_EQ(Reimported("<FML32>\n <OCC id=\"33554634\">2</OCC><x><OCC id=\"33554634\">9</OCC></x>\n"
                       " <OCC id=\"201\">1</OCC><OCC id=\"33554634\">3</OCC>\n</FML32>"),
            Document(Element(SHORT_F, "1") + Element(LONG_F, "2") + Element(LONG_F, "3")));
}

TEST_F(FmlXml, ImportFailures) {
  EXPECT_EQ(ImportError(Document(Element(LONG_F, "1") + "<OCC>2</OCC>")),
            ("Błąd importu FML z XML"_ansi).str());
  EXPECT_EQ(FTarget.OccCount(LONG_F), 1);  // the values before the failure stay
  EXPECT_EQ(ImportError(Document("<OCC id=\"abc\">1</OCC>")), "'abc' is not a valid integer value");
  EXPECT_EQ(ImportError(Document(Element(LONG_F, "1.5"))), "'1.5' is not a valid integer value");

  FTarget.ReadOnly = true;
  Add(FTarget, STRING_F, std::string("kept"));
  EXPECT_EQ(ImportError(Document(Element(LONG_F, "1"))), "Read-only TTxFbfr");
  EXPECT_EQ(FTarget.OccCount(STRING_F), 1);
  FTarget.ReadOnly = false;

  // Without the parser the result check gives its own text, or the
  // description the failing COM call left.
  UnregisterComClass(CLSID_TxXmlDomDocument);
  EXPECT_EQ(ImportError(Document("")), ("Błąd importu FML z XML"_ansi).str());
  SetComError(E_FAIL, WideString(u"Parser XML niedostępny"));
  EXPECT_EQ(ImportError(Document("")), ("Parser XML niedostępny"_ansi).str());
  RegisterXmlDomParser();
  EXPECT_EQ(ImportError(Document("")), "no exception");
}

// ---- Documents that are not what the export writes -------------------------------------

TEST_F(FmlXml, HostileDocumentsImportNothing) {
  const std::string hostile[] = {
      TestData("billion_laughs.xml"), TestData("external_entity.xml"), TestData("external_dtd.xml"),
      "<ROOT><OCC id=\"201\">1</OCC></ROOT>",  // no FML32 root
  };
  for (const std::string& text : hostile) {
    Add(FTarget, STRING_F, std::string("old"));
    EXPECT_EQ(Reimported(text), Document("")) << text.substr(0, 60);
  }
  // XInclude is not processed: the element holds no text.
  EXPECT_EQ(Reimported(TestData("xinclude.xml")), Document(Element(STRING_F, "")));

  // Every prefix of an export short of the root's end tag is not XML.
  const std::string document = TestData("all_types.xml");
  const std::size_t complete = document.size() - 1;  // without the last line feed
  for (std::size_t length = 0; length < complete; ++length)
    ASSERT_EQ(Reimported(document.substr(0, length)), Document("")) << length;
  Reimported(document.substr(0, complete));
  EXPECT_EQ(Fnum32(FTarget.GetFbfrP()), 18);
}

// ---- The element reader against the node-by-node route -------------------------------

class FmlXmlRoutes : public FmlXml {
 protected:
  // What importing text leaves: the buffer's export, after the message of
  // the exception when one is raised.
  std::string Outcome(const std::string& text) {
    std::string raised;
    try {
      ImportFMLFromXML(&FTarget, AnsiString(text));
    } catch (const Exception& e) {
      raised = "raised: " + e.Message.str() + "\n";
    }
    return raised + ExportFMLToXML(FTarget.GetFbfrP()).str();
  }
  // The outcome through the node-by-node route, which must be the same.
  std::string OutcomeNodeByNode(const std::string& text) {
    const TDomOnlyParser domOnly;
    return Outcome(text);
  }
  // The outcome, checked to be the same both ways.
  std::string BothWays(const std::string& text) {
    const std::string fast = Outcome(text);
    EXPECT_EQ(OutcomeNodeByNode(text), fast) << text.substr(0, 80);
    return fast;
  }
};

TEST_F(FmlXmlRoutes, SameBuffersBothWays) {
  FTarget.Contract = &FContract;
  std::string everyReference;  // every Windows-1250 byte and characters it lacks
  for (int c = 1; c < 0x300; ++c) everyReference += "&#" + std::to_string(c) + ";";
  for (const char* c : {"&#x20ac;", "&#x2122;", "&#x4e2d;", "&#x1F600;", "&#x10FF00;", "&#x10FF01;",
                        "&#x10FF1F;", "&#x10FF20;", "&#xFFFD;", "&#xD7FF;"})
    everyReference += c;
  std::string everyByte;  // Windows-1250 bytes as they are, no references
  for (int b = 0x20; b < 256; ++b)
    if (b != '<' && b != '&') everyByte += static_cast<char>(b);

  const std::pair<std::string, std::string> documents[] = {
      {TestData("all_types.xml"), ""},
      {Document(Element(STRING_F, everyByte) + Element(STRING_F, everyReference)), ""},
      {Document(
           Element(STRING_F, ("Zażółć <![CDATA[gęślą <jaźń>]]> &amp;&lt;&gt;&quot;"_ansi).str()) +
           "<OCC id=\"&#x31;67772366\">a<b>b<![CDATA[c]]><c>&#x1;d</c><!--x--></b><?pi y?>e</OCC>"
           "<OCC id='167772366'>  </OCC><OCC id=\"167772366\"/>"),
       Document(Element(STRING_F,
                        "Za&#x17c;&#xf3;&#x142;&#x107; g&#x119;&#x15b;l&#x105; &#x3c;"
                        "ja&#x17a;&#x144;&#x3e; &#x26;&#x3c;&#x3e;\"") +
                Element(STRING_F, "abc&#x1;de") + Element(STRING_F, "  ") + Element(STRING_F, ""))},
      {Document(Element(SHORT_F, "") + Element(LONG_F, "") + Element(CHAR_F, "") +
                Element(FLOAT_F, "") + Element(DOUBLE_F, "") + Element(CARRAY_F, "") +
                Element(DATE_F, "36525") + Element(DATE_F, "") + Element(TIME_F, "0,25")),
       ""},
      // Base64 by whole groups and character by character.
      {Document(Element(CARRAY_F, "AA==") + Element(CARRAY_F, "AAE=") + Element(CARRAY_F, "A===") +
                Element(CARRAY_F, "AA=A") + Element(CARRAY_F, "AA = = ") +
                Element(CARRAY_F, "AAA=AAAA") + Element(CARRAY_F, "AAAAA===") +
                Element(CARRAY_F, "QUJD\nREVG") + Element(CARRAY_F, "QU JDREVGR0g=") +
                Element(CARRAY_F, "QUJDREVG\t")),
       Document(Element(CARRAY_F, "AA==") + Element(CARRAY_F, "AAE=") + Element(CARRAY_F, "AA==") +
                Element(CARRAY_F, "QUJDREVG") + Element(CARRAY_F, "QUJDREVGR0g=") +
                Element(CARRAY_F, "QUJDREVG"))},
      // Only OCC children of a root FML32 in no namespace.
      {"<FML32 xmlns=\"urn:x\"><OCC id=\"201\">1</OCC></FML32>", Document("")},
      {"<FML32 xmlns:p=\"urn:x\"><p:OCC id=\"201\">1</p:OCC><OCC p:id=\"201\" id=\"201\">2</OCC>"
       "<OCC xmlns=\"urn:y\" id=\"201\">3</OCC></FML32>",
       Document(Element(SHORT_F, "2"))},
  };
  for (const auto& [text, expected] : documents) {
    const std::string outcome = BothWays(text);
    if (!expected.empty()) {
      EXPECT_EQ(outcome, expected) << text.substr(0, 80);
    }
  }
}

TEST_F(FmlXmlRoutes, SameFailuresBothWays) {
  FTarget.Contract = &FContract;
  // What was added before the failure stays.
  const FLDID32 once = Fmkfldid32(FLD_LONG, 210);
  FContract.AddFldDef(once)->SetOccMax(1);
  const std::string before = Element(LONG_F, "1");
  const std::pair<std::string, std::string> failures[] = {
      {before + "<OCC>2</OCC>", "Błąd importu FML z XML"_ansi.str()},
      {before + "<OCC id=\" 201 \">1</OCC>", "' 201 ' is not a valid integer value"},
      {before + "<OCC id=\"&#x10FF01;\">1</OCC>", "'\x01' is not a valid integer value"},
      {before + Element(LONG_F, "2147483648"), "'2147483648' is not a valid integer value"},
      {Element(once, "1") + before + Element(once, "2") + Element(LONG_F, "3"),
       "Przekroczona maksymalna liczba wystąpień pola <33554642> (kontrakt)."_ansi.str()},
  };
  for (const auto& [elements, message] : failures) {
    const std::string kept = elements.starts_with(before) ? before : before + Element(once, "1");
    EXPECT_EQ(BothWays(Document(elements)), "raised: " + message + "\n" + Document(kept));
  }

  // Texts the parser refuses import nothing, and raise nothing.
  const auto nested = [](int levels) {
    std::string open, close;
    for (int i = 0; i < levels; ++i) open += "<a>", close += "</a>";
    return "<FML32><OCC id=\"201\">" + open + "1" + close + "</OCC></FML32>";
  };
  EXPECT_EQ(BothWays(nested(255)), Document(Element(SHORT_F, "1")));
  const std::string refused[] = {
      nested(256),
      TestData("billion_laughs.xml"),
      "<FML32><OCC id=\"201\">1</OCC>",
      "<FML32><OCC id=\"201\">&#x0;</OCC></FML32>",
      std::string("<FML32><OCC id=\"201\">1\0</OCC></FML32>", 34),
      "<FML32><" + std::string(50001, 'n') + "/><OCC id=\"201\">1</OCC></FML32>",
      "<FML32><OCC id=\"201\" x=\"" + std::string(10000001, 'v') + "\">1</OCC></FML32>",
  };
  for (const std::string& text : refused) {
    EXPECT_EQ(BothWays(text), Document("")) << text.substr(0, 60);
  }
  EXPECT_EQ(BothWays("<FML32><" + std::string(50000, 'n') + "/><OCC id=\"201\">1</OCC></FML32>"),
            Document(Element(SHORT_F, "1")));
}

TEST_F(FmlXmlRoutes, IntegersReadAsStrToIntReadsThem) {
  for (const char* text :
       {"0",          "-0",         "+5",         "007",         "-12",        "123456789",
        "-123456789", "1234567890", "2147483647", "-2147483647", "2147483648", "$7fffffff",
        "0x10",       "x1F",        "  42",       "42 ",         "--1",        "-+1",
        "+-1",        "-",          "",           "1e3",         "0123456789"}) {
    std::string expected;
    try {
      expected = Document(Element(LONG_F, std::to_string(StrToInt(text))));
    } catch (const Exception& e) {
      expected = "raised: " + e.Message.str() + "\n" + Document("");
    }
    if (*text == '\0') expected = Document(Element(LONG_F, ""));  // an empty element is a null
    EXPECT_EQ(BothWays(Document(Element(LONG_F, text))), expected) << text;
  }
}

}  // namespace
}  // namespace Tx
