// FML32 <-> XML: the exported document byte for byte, round trips of every
// type with the documented exceptions, and documents the import refuses.
#include "xml/TxFMLXML.h"

#include <fml32.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/framework/Com.h"
#include "platform/xml/XmlDom.h"

namespace Tx {
namespace {

const FLDID32 SHORT_F = Fmkfldid32(FLD_SHORT, 201);     // 201
const FLDID32 LONG_F = Fmkfldid32(FLD_LONG, 202);       // 33554634
const FLDID32 CHAR_F = Fmkfldid32(FLD_CHAR, 203);       // 67109067
const FLDID32 FLOAT_F = Fmkfldid32(FLD_FLOAT, 204);     // 100663500
const FLDID32 DOUBLE_F = Fmkfldid32(FLD_DOUBLE, 205);   // 134217933
const FLDID32 STRING_F = Fmkfldid32(FLD_STRING, 206);   // 167772366
const FLDID32 CARRAY_F = Fmkfldid32(FLD_CARRAY, 207);   // 201326799

const std::string Header = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<FML32>";

std::string TestData(const std::string& name) {
  const char* data = std::getenv("TXLIB_TESTDATA");
  std::ifstream in(std::string(data != nullptr ? data : "tests/data") + "/xml/" + name,
                   std::ios::binary);
  EXPECT_TRUE(in) << name;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <class T>
void Add(TTxFbfr& b, FLDID32 id, T value) {
  ASSERT_NE(Fadd32(b.GetFbfrP(), id, reinterpret_cast<char*>(&value), 0), -1);
}
void AddText(TTxFbfr& b, FLDID32 id, const AnsiString& text) {
  ASSERT_NE(Fadd32(b.GetFbfrP(), id, const_cast<char*>(text.c_str()), 0), -1);
}
void AddBytes(TTxFbfr& b, FLDID32 id, const std::string& bytes) {
  ASSERT_NE(Fadd32(b.GetFbfrP(), id, const_cast<char*>(bytes.data()),
                   static_cast<FLDLEN32>(bytes.size())),
            -1);
}

// Every occurrence as (id, stored bytes), in buffer order.
std::vector<std::pair<FLDID32, std::string>> Stored(TTxFbfr& b) {
  std::vector<std::pair<FLDID32, std::string>> result;
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 occ = 0;
  while (Fnext32(b.GetFbfrP(), &id, &occ, nullptr, nullptr) > 0) {
    FLDLEN32 length = 0;
    const char* value = Ffind32(b.GetFbfrP(), id, occ, &length);
    result.emplace_back(id, std::string(value, length));
  }
  return result;
}

std::string Element(FLDID32 id, const std::string& text) {
  return "<OCC id=\"" + std::to_string(static_cast<std::int32_t>(id)) + "\">" + text + "</OCC>\n";
}
std::string Document(const std::string& elements) { return Header + elements + "</FML32>\n"; }

class FmlXml : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    FSavedTranslation = TTxGlobalClient::GetTranslateType();
    TTxGlobalClient::SetTranslateType(txttWindows);
    SetDebugMode(0);
  }
  void TearDown() override {
    TTxGlobalClient::SetTranslateType(FSavedTranslation);
    SetDebugMode(1);
    CoUninitialize();
  }

  // Imports text into FTarget and returns what the buffer then holds.
  std::vector<std::pair<FLDID32, std::string>> Imported(const std::string& text) {
    ImportFMLFromXML(&FTarget, AnsiString(text));
    return Stored(FTarget);
  }
  std::string ImportError(const std::string& text) {
    try {
      ImportFMLFromXML(&FTarget, AnsiString(text));
    } catch (const Exception& e) {
      return e.Message.str();
    }
    return "no exception";
  }

  TTxFbfr FSource{nullptr, 4096};
  TTxFbfr FTarget{nullptr, 4096};

 private:
  TTxTranslateType FSavedTranslation = txttWindows;
};

// ---- Export ------------------------------------------------------------------------

TEST_F(FmlXml, BareBufferDocumentByteForByte) {
  Add<short>(FSource, SHORT_F, -5);
  Add<short>(FSource, SHORT_F, -32768);
  Add<long>(FSource, LONG_F, 7);
  Add<long>(FSource, LONG_F, -2147483648L);
  Add<char>(FSource, CHAR_F, 'A');
  Add<char>(FSource, CHAR_F, '<');
  Add<char>(FSource, CHAR_F, '\0');
  Add<float>(FSource, FLOAT_F, 1.25f);
  std::uint32_t allOnes = 0xFFFFFFFFu;
  float bad;
  std::memcpy(&bad, &allOnes, sizeof bad);
  Add<float>(FSource, FLOAT_F, bad);
  Add<double>(FSource, DOUBLE_F, 1.5);
  Add<double>(FSource, DOUBLE_F, 1e-7);
  Add<double>(FSource, DOUBLE_F, -2.5);
  AddText(FSource, STRING_F, "a<b");
  AddText(FSource, STRING_F, "Zażółć"_ansi + AnsiString("\x01\n\x81\x80", 4));
  AddText(FSource, STRING_F, "");
  AddBytes(FSource, CARRAY_F, std::string("\x00\x01\x02\x03", 4));
  AddBytes(FSource, CARRAY_F, "");
  AddBytes(FSource, CARRAY_F, "abcde");

  EXPECT_EQ(ExportFMLToXML(FSource.GetFbfrP()).str(), TestData("all_types.xml"));
  // The object form reads the same values when no definition changes them.
  EXPECT_EQ(ExportFMLToXML(&FSource).str(), TestData("all_types.xml"));
}

TEST_F(FmlXml, EmptyBufferIsTheBareFrame) {
  EXPECT_EQ(ExportFMLToXML(&FSource).str(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<FML32></FML32>\n");
}

TEST_F(FmlXml, EscapingOfWindows1250Text) {
  const std::pair<AnsiString, std::string> cases[] = {
      {"&<>\"'", "&#x26;&#x3c;&#x3e;\"'"},
      {AnsiString("\x7f\x1f\t\r", 4), "\x7f&#x1f;&#x9;&#xd;"},
      {"ąĄśŚżŻźŹćĆęĘłŁńŃóÓ"_ansi,
       "&#x105;&#x104;&#x15b;&#x15a;&#x17c;&#x17b;&#x17a;&#x179;&#x107;&#x106;&#x119;&#x118;"
       "&#x142;&#x141;&#x144;&#x143;&#xf3;&#xd3;"},
      {AnsiString("\x80\x81\x83\x88\x90\x98\xa0\xff", 8),
       "&#x20ac;&#x20;&#x20;&#x20;&#x20;&#x20;&#xa0;&#x2d9;"},
  };
  std::string expected;
  for (const auto& [text, escaped] : cases) {
    AddText(FSource, STRING_F, text);
    expected += Element(STRING_F, escaped);
  }
  EXPECT_EQ(ExportFMLToXML(&FSource).str(), Document(expected));
}

TEST_F(FmlXml, ObjectFormAppliesTheContract) {
  TTxFbfrDef contract(nullptr);
  contract.AddFldDef(LONG_F)->SetLogicalType(txlftDate);
  contract.AddFldDef(DOUBLE_F)->SetLogicalType(txlftTime);
  contract.AddFldDef(FLOAT_F);
  FSource.Contract = &contract;
  FSource.AppendOcc(LONG_F, Variant(2));        // stored as 1
  FSource.AppendOcc(DOUBLE_F, Variant(0.75));   // stored as -0.25
  FSource.AppendOcc(FLOAT_F, Null());           // the float null value
  FSource.AppendOcc(DOUBLE_F, Null());          // the double null value

  EXPECT_EQ(ExportFMLToXML(&FSource).str(),
            Document(Element(LONG_F, "1") + Element(FLOAT_F, "") + Element(DOUBLE_F, "0.750000") +
                     Element(DOUBLE_F, "")));
  // The bare form knows nothing of logical types and only the all-ones
  // pattern as a null.
  EXPECT_EQ(ExportFMLToXML(FSource.GetFbfrP()).str(),
            Document(Element(LONG_F, "1") +
                     Element(FLOAT_F, "339999995214436424907732413799364296704.000000") +
                     Element(DOUBLE_F, "-0.250000") + Element(DOUBLE_F, "-0.000000")));
  FSource.Contract = nullptr;
}

TEST_F(FmlXml, StringsAreTranslatedFromTheServerCodePage) {
  TTxGlobalClient::SetTranslateType(txttISO8859);
  AddText(FSource, STRING_F, AnsiString("\xb1\xa1", 2));  // ą Ą in ISO 8859-2
  const std::string expected = Document(Element(STRING_F, "&#x105;&#x104;"));
  EXPECT_EQ(ExportFMLToXML(FSource.GetFbfrP()).str(), expected);
  EXPECT_EQ(ExportFMLToXML(&FSource).str(), expected);

  ImportFMLFromXML(&FTarget, AnsiString(expected));  // and back to the server's letters
  EXPECT_EQ(Stored(FTarget), Stored(FSource));
}

// ---- Round trips ---------------------------------------------------------------------

TEST_F(FmlXml, EveryTypeComesBack) {
  TTxFbfrDef contract(nullptr);
  for (FLDID32 id : {SHORT_F, LONG_F, CHAR_F, FLOAT_F, DOUBLE_F, STRING_F, CARRAY_F})
    contract.AddFldDef(id);
  contract.AddFldDef(Fmkfldid32(FLD_LONG, 300))->SetLogicalType(txlftDate);
  FSource.Contract = &contract;
  FTarget.Contract = &contract;

  std::string everyByte;
  for (int b = 0; b < 256; ++b) everyByte += static_cast<char>(b);
  const AnsiString polish = "Zażółć gęślą jaźń ZAŻÓŁĆ GĘŚLĄ JAŹŃ"_ansi;
  static const char controlBytes[] = "\x01\x02\x08\x0b\x0c\x0e\x1f\t\n\r x";
  const AnsiString controls(controlBytes, sizeof controlBytes - 1);
  const struct {
    FLDID32 id;
    Variant value;
  } values[] = {
      {SHORT_F, short{-32767}}, {SHORT_F, Null()},       {SHORT_F, short{32767}},
      {LONG_F, -2147483647},    {LONG_F, Null()},        {LONG_F, 2147483647},
      {CHAR_F, "&"},            {CHAR_F, "\xb9"},        {CHAR_F, Null()},
      {FLOAT_F, 1.25f},         {FLOAT_F, -0.5f},        {FLOAT_F, Null()},
      {DOUBLE_F, 1e15},         {DOUBLE_F, -123.456},    {DOUBLE_F, Null()},
      {STRING_F, polish},       {STRING_F, controls},    {STRING_F, "  blanks kept  "},
      {STRING_F, Null()},       {CARRAY_F, AnsiString(everyByte)}, {CARRAY_F, "x"},
      {CARRAY_F, Null()},       {Fmkfldid32(FLD_LONG, 300), 36526},  // a date: 2000-01-01
  };
  for (const auto& [id, value] : values) FSource.AppendOcc(id, value);

  const AnsiString document = ExportFMLToXML(&FSource);
  ImportFMLFromXML(&FTarget, document);
  EXPECT_EQ(Stored(FTarget), Stored(FSource));
  EXPECT_EQ(ExportFMLToXML(&FTarget), document);
  EXPECT_EQ(VarToStr(FTarget.OccValue(STRING_F, 1)), controls);
  EXPECT_EQ(FTarget.OccValue(Fmkfldid32(FLD_LONG, 300), 0).AsInteger(), 36526);
  FSource.Contract = nullptr;
  FTarget.Contract = nullptr;
}

TEST_F(FmlXml, DocumentedExceptionsOfTheRoundTrip) {
  FSource.AppendOcc(DOUBLE_F, Variant(1.23456789));
  FSource.AppendOcc(DOUBLE_F, Variant(1e-7));
  FSource.AppendOcc(STRING_F, Variant(AnsiString("a\x81z", 3)));
  ImportFMLFromXML(&FTarget, ExportFMLToXML(&FSource));
  EXPECT_EQ(FTarget.OccValue(DOUBLE_F, 0).AsDouble(), 1.234568);  // six decimals
  EXPECT_EQ(FTarget.OccValue(DOUBLE_F, 1).AsDouble(), 0.0);
  EXPECT_EQ(VarToStr(FTarget.OccValue(STRING_F, 0)), "a z");  // undefined byte: a blank
}

// ---- Import rules ------------------------------------------------------------------

TEST_F(FmlXml, ImportValueRules) {
  const auto imported = Imported(Document(
      Element(DOUBLE_F, "1,25") + Element(FLOAT_F, " 2.5e1xyz") + Element(DOUBLE_F, "abc") +
      Element(CARRAY_F, " AA EC\n Aw== ") + Element(CARRAY_F, "not base64!") +
      Element(CARRAY_F, "AAE") + Element(CARRAY_F, "   ") + Element(CARRAY_F, "") +
      Element(STRING_F, "") + Element(LONG_F, " $10") + Element(SHORT_F, "70000")));
  const auto value = [](auto v) { return std::string(reinterpret_cast<const char*>(&v), sizeof v); };
  const std::vector<std::pair<FLDID32, std::string>> expected = {
      {SHORT_F, value(short{4464})},  // the low 16 bits of 70000
      {LONG_F, value(16L)},
      {FLOAT_F, value(25.0f)},
      {DOUBLE_F, value(1.25)},
      {DOUBLE_F, value(0.0)},
      {STRING_F, std::string(1, '\0')},  // a null string: empty
      {CARRAY_F, std::string("\x00\x01\x02\x03", 4)},
      {CARRAY_F, ""},  // the empty element: a null carray
  };
  EXPECT_EQ(imported, expected);
}

TEST_F(FmlXml, ImportEmptiesTheBufferFirstAndKeepsDocumentOrder) {
  AddText(FTarget, STRING_F, "old");
  ImportFMLFromXML(&FTarget,
                   "<FML32>\n  <OCC id=\"33554634\">2</OCC><other><OCC id=\"33554634\">9</OCC></other>\n"
                   "  <OCC id=\"201\">1</OCC><OCC id=\"33554634\">3</OCC>\n</FML32>");
  EXPECT_EQ(FTarget.OccCount(STRING_F), 0);
  EXPECT_EQ(FTarget.OccCount(SHORT_F), 1);
  ASSERT_EQ(FTarget.OccCount(LONG_F), 2);
  EXPECT_EQ(FTarget.OccValue(LONG_F, 0).AsInteger(), 2);
  EXPECT_EQ(FTarget.OccValue(LONG_F, 1).AsInteger(), 3);
}

TEST_F(FmlXml, ImportFailures) {
  AddText(FTarget, STRING_F, "old");
  EXPECT_EQ(ImportError(Document(Element(LONG_F, "1") + "<OCC>2</OCC>")),
            ("Błąd importu FML z XML"_ansi).str());
  EXPECT_EQ(FTarget.OccCount(LONG_F), 1);  // the values before the failure stay
  EXPECT_EQ(ImportError(Document("<OCC id=\"abc\">1</OCC>")), "'abc' is not a valid integer value");
  EXPECT_EQ(ImportError(Document(Element(LONG_F, "1.5"))), "'1.5' is not a valid integer value");

  FTarget.ReadOnly = true;
  AddText(FTarget, STRING_F, "kept");
  EXPECT_EQ(ImportError(Document(Element(LONG_F, "1"))), "Read-only TTxFbfr");
  EXPECT_EQ(FTarget.OccCount(STRING_F), 1);
  FTarget.ReadOnly = false;
}

TEST_F(FmlXml, ImportWithoutTheParser) {
  UnregisterComClass(CLSID_TxXmlDomDocument);
  EXPECT_EQ(ImportError(Document("")), ("Błąd importu FML z XML"_ansi).str());
  // A description left by the failing COM call is the message.
  SetComError(E_FAIL, WideString(u"Parser XML niedostępny"));
  EXPECT_EQ(ImportError(Document("")), ("Parser XML niedostępny"_ansi).str());
  RegisterXmlDomParser();
  EXPECT_EQ(ImportError(Document("")), "no exception");
}

// ---- Documents that are not what the export writes -------------------------------------

TEST_F(FmlXml, HostileDocumentsLeaveTheBufferEmpty) {
  for (const char* name : {"billion_laughs.xml", "external_entity.xml", "external_dtd.xml"}) {
    AddText(FTarget, STRING_F, "old");
    EXPECT_TRUE(Imported(TestData(name)).empty()) << name;
  }
  std::string deep = "<FML32><OCC id=\"167772366\">";
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  deep += "</OCC></FML32>";
  EXPECT_TRUE(Imported(deep).empty());
  EXPECT_TRUE(Imported("<FML32><OCC id=\"" + std::string(11000000, '1') + "\">1</OCC></FML32>").empty());
  EXPECT_TRUE(Imported("not XML at all").empty());
  EXPECT_TRUE(Imported("<ROOT><OCC id=\"201\">1</OCC></ROOT>").empty());
  // XInclude is not processed: the element holds no text.
  EXPECT_EQ(Imported(TestData("xinclude.xml")),
            (std::vector<std::pair<FLDID32, std::string>>{{STRING_F, std::string(1, '\0')}}));
}

TEST_F(FmlXml, TruncatedExportsImportNothing) {
  FSource.AppendOcc(LONG_F, Variant(7));
  FSource.AppendOcc(STRING_F, Variant("ż<&"_ansi));
  FSource.AppendOcc(CARRAY_F, Variant("bytes"));
  const std::string document = ExportFMLToXML(&FSource).str();
  // Every prefix short of the root's end tag is not XML.
  const std::size_t complete = document.size() - 1;  // without the last line feed
  for (std::size_t length = 0; length < complete; ++length) {
    ASSERT_TRUE(Imported(document.substr(0, length)).empty()) << length;
  }
  EXPECT_EQ(Imported(document.substr(0, complete)), Stored(FSource));
}

}  // namespace
}  // namespace Tx
