#include "xml/TxFMLXML.h"

#include <locale.h>
#include <stdlib.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "platform/framework/Com.h"
#include "platform/tuxedo/FmlCalls.h"
#include "platform/xml/XmlDom.h"

namespace Tx {
namespace {

// ---- Writing ---------------------------------------------------------------------

constexpr std::string_view DocumentHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<FML32>";
constexpr std::string_view DocumentFooter = "</FML32>\n";

constexpr unsigned char UndefinedCp1250[] = {0x81, 0x83, 0x88, 0x90, 0x98};

// The text each byte is written as; an empty entry means the byte itself.
class EscapeTable {
 public:
  EscapeTable() {
    for (int b = 0; b < 256; ++b) {
      const auto byte = static_cast<unsigned char>(b);
      char32_t codePoint = 0;
      if (b < 32 || b == '&' || b == '<' || b == '>') {
        codePoint = byte;
      } else if (b >= 128) {
        codePoint = Cp1250ToUnicode(byte);
        for (const unsigned char undefined : UndefinedCp1250)
          if (byte == undefined) codePoint = U' ';
      } else {
        continue;
      }
      char text[16];
      const int length =
          std::snprintf(text, sizeof text, "&#x%x;", static_cast<unsigned>(codePoint));
      FEntries[byte].assign(text, static_cast<std::size_t>(length));
    }
  }
  const std::string& operator[](unsigned char byte) const { return FEntries[byte]; }

 private:
  std::array<std::string, 256> FEntries;
};

void AppendEscaped(std::string& out, std::string_view text) {
  static const EscapeTable table;
  std::size_t plainFrom = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::string& escaped = table[static_cast<unsigned char>(text[i])];
    if (escaped.empty()) continue;
    out.append(text.substr(plainFrom, i - plainFrom));
    out += escaped;
    plainFrom = i + 1;
  }
  out.append(text.substr(plainFrom));
}

constexpr char Base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void AppendBase64(std::string& out, const unsigned char* bytes, std::size_t length) {
  const std::size_t start = out.size();
  out.resize(start + (length + 2) / 3 * 4);
  char* p = out.data() + start;
  std::size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    const std::uint32_t group =
        (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    *p++ = Base64Alphabet[(group >> 18) & 63];
    *p++ = Base64Alphabet[(group >> 12) & 63];
    *p++ = Base64Alphabet[(group >> 6) & 63];
    *p++ = Base64Alphabet[group & 63];
  }
  if (i < length) {
    const bool two = i + 1 < length;
    const std::uint32_t group =
        (std::uint32_t{bytes[i]} << 16) | (two ? std::uint32_t{bytes[i + 1]} << 8 : 0);
    *p++ = Base64Alphabet[(group >> 18) & 63];
    *p++ = Base64Alphabet[(group >> 12) & 63];
    *p++ = two ? Base64Alphabet[(group >> 6) & 63] : '=';
    *p++ = '=';
  }
}

// printf's "%f", independent of the C library's locale.
void AppendFixed(std::string& out, double value) {
  char text[400];  // DBL_MAX has 309 integer digits
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
  out.append(text, result.ptr);
}

void AppendInteger(std::string& out, long long value) {
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out.append(text, result.ptr);
}

bool IsDateField(TTxFbfr& fbfr, FLDID32 id) {
  const TTxFbfrFldDef* def = fbfr.GetFldDefs()->FindFldDefById(id);
  return def != nullptr && def->GetLogicalType() == txlftDate;
}

// Raises for a set Ferror32; the label names the file and line of the
// caller's check.
void CheckRead(FLDID32 id, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
  if (Ferror32 != 0) CheckFerror(OpLabelAt(AnsiString(), file, line), id);
}

// A value read without a contract, as a variant (Null for the null values).
Variant RawValue(FBFR32* buffer, FLDID32 id, FLDOCC32 occ) {
  switch (Fldtype32(id)) {
    case FLD_SHORT:
    case FLD_LONG: {
      const long value = FieldLong(buffer, id, occ);
      CheckRead(id);
      const long null = Fldtype32(id) == FLD_SHORT ? -32768L : -2147483648L;
      return value == null ? Null() : Variant(value);
    }
    case FLD_CHAR: {
      const char value = FieldChar(buffer, id, occ);
      CheckRead(id);
      return value == '\0' ? Null() : Variant(AnsiString(value));
    }
    case FLD_FLOAT: {
      float value = 0.0f;
      Fget32(buffer, id, occ, reinterpret_cast<char*>(&value), nullptr);
      CheckRead(id);
      return BadFloat(value) ? Null() : Variant(value);
    }
    case FLD_DOUBLE: {
      double value = 0.0;
      Fget32(buffer, id, occ, reinterpret_cast<char*>(&value), nullptr);
      CheckRead(id);
      return BadDouble(value) ? Null() : Variant(value);
    }
    case FLD_STRING: {
      const char* value = FieldString(buffer, id, occ);
      CheckRead(id);
      if (value == nullptr || value[0] == '\0') return Null();
      AnsiString text(value);
      TTxGlobalClient::TranslateString(text, false);
      return Variant(std::move(text));
    }
    case FLD_CARRAY: {
      FLDLEN32 length = 0;
      const char* value = Ffind32(buffer, id, occ, &length);
      CheckRead(id);
      return Variant(AnsiString(value, static_cast<int>(length)));
    }
    default:
      return Null();
  }
}

void AppendValue(std::string& out, int type, const Variant& value, bool dateField) {
  if (value.IsNull() || value.IsEmpty()) return;
  switch (type) {
    case FLD_FLOAT:
    case FLD_DOUBLE:
      AppendFixed(out, value.AsDouble());
      break;
    case FLD_LONG:
      AppendInteger(out, value.AsInt64() - (dateField ? 1 : 0));
      break;
    default:
      AppendEscaped(out, VarToStr(value).view());
      break;
  }
}

void AppendCarray(std::string& out, FBFR32* buffer, FLDID32 id, FLDOCC32 occ) {
  FLDLEN32 length = 0;
  const char* value = Ffind32(buffer, id, occ, &length);
  CheckRead(id);
  if (value != nullptr) AppendBase64(out, reinterpret_cast<const unsigned char*>(value), length);
}

// Walks the buffer and writes the document; read(id, occ) gives a value and
// dateField(id) tells whether a long is shifted.
template <class ReadValue, class DateField>
AnsiString WriteDocument(FBFR32* buffer, ReadValue read, DateField dateField) {
  std::string out;
  const long used = Fused32(buffer);
  Ferror32 = 0;
  out.reserve(DocumentHeader.size() + DocumentFooter.size() +
              (used > 0 ? static_cast<std::size_t>(used) * 3 / 2 : 0));
  out += DocumentHeader;

  FLDID32 id = FIRSTFLDID;
  FLDOCC32 occ = 0;
  FLDID32 shiftKnownFor = BADFLDID;
  bool shift = false;
  while (Fnext32(buffer, &id, &occ, nullptr, nullptr) > 0) {
    const int type = Fldtype32(id);
    out += "<OCC id=\"";
    AppendInteger(out, static_cast<std::int32_t>(id));
    out += "\">";
    if (type == FLD_CARRAY) {
      AppendCarray(out, buffer, id, occ);
    } else {
      if (type == FLD_LONG && id != shiftKnownFor) {
        shift = dateField(id);
        shiftKnownFor = id;
      }
      AppendValue(out, type, read(id, occ), type == FLD_LONG && shift);
    }
    out += "</OCC>\n";
  }
  CheckFerror(OpLabel(AnsiString()), NoFieldId);
  out += DocumentFooter;
  return AnsiString(std::move(out));
}

// ---- Reading -----------------------------------------------------------------------

constexpr DWORD ParserClassContext = 0x17;  // in-process, handler, local or remote server
constexpr int LargeDocument = 64 * 1024;

// The result check of the import: S_OK passes, anything else (S_FALSE, "not
// found", included) raises, with the thread's COM error description when
// there is one.
void CheckImportResult(HRESULT hr) {
  if (hr == S_OK) return;
  TComInterface<IErrorInfo> info;
  if (GetErrorInfo(0, info.ReleaseAndGetAddressOf()) == S_OK && info) {
    WideString description;
    if (SUCCEEDED(info->GetDescription(&description)) && !description.IsEmpty()) {
      throw Exception(AnsiString(description));
    }
  }
  throw Exception("Błąd importu FML z XML"_ansi);
}

// The value of each character in base64 text: 0 to 63 for the alphabet,
// else one of the marks below.
constexpr signed char Base64Space = -1;
constexpr signed char Base64Padding = -2;
constexpr signed char Base64Invalid = -3;

struct Base64Values {
  signed char Of[256];
  Base64Values() {
    for (signed char& value : Of) value = Base64Invalid;
    for (int i = 0; i < 64; ++i)
      Of[static_cast<unsigned char>(Base64Alphabet[i])] = static_cast<signed char>(i);
    for (const char c : {' ', '\t', '\n', '\r'}) Of[static_cast<unsigned char>(c)] = Base64Space;
    Of[static_cast<unsigned char>('=')] = Base64Padding;
  }
  int operator()(char c) const { return Of[static_cast<unsigned char>(c)]; }
};

// RFC 4648 base64 with "=" padding; white space anywhere is skipped. False
// for a character outside the alphabet, a length that is not a multiple of
// four, or padding anywhere but at the end of the last group.
bool DecodeBase64(std::string_view text, std::string& bytes) {
  static const Base64Values valueOf;
  bytes.resize(text.size() / 4 * 3 + 3);  // room for every group and a padded end
  char* out = bytes.data();
  const auto emit = [&out](std::uint32_t group, int count) {
    *out++ = static_cast<char>(group >> 16);
    if (count > 1) *out++ = static_cast<char>(group >> 8);
    if (count > 2) *out++ = static_cast<char>(group);
  };
  std::uint32_t group = 0;
  int filled = 0;   // characters in the current group
  int padding = 0;  // '=' seen
  for (std::size_t i = 0; i < text.size();) {
    // Whole groups of four alphabet characters, what the export writes.
    if (filled == 0 && padding == 0) {
      for (; i + 4 <= text.size(); i += 4) {
        const int a = valueOf(text[i]), b = valueOf(text[i + 1]), c = valueOf(text[i + 2]),
                  d = valueOf(text[i + 3]);
        if ((a | b | c | d) < 0) break;
        emit(static_cast<std::uint32_t>((a << 18) | (b << 12) | (c << 6) | d), 3);
      }
      if (i == text.size()) break;
    }
    const int value = valueOf(text[i++]);
    if (value == Base64Space) continue;
    if (value == Base64Padding) {
      if (filled < 2 || ++padding + filled > 4) return false;
      continue;
    }
    if (value < 0 || padding > 0) return false;
    group = (group << 6) | static_cast<std::uint32_t>(value);
    if (++filled == 4) {
      emit(group, 3);
      group = 0;
      filled = 0;
    }
  }
  if (padding == 0) {
    if (filled != 0) return false;
  } else {
    if (filled + padding != 4) return false;
    emit(group << (6 * padding), filled - 1);
  }
  bytes.resize(static_cast<std::size_t>(out - bytes.data()));
  return true;
}

// C's atof in the "C" locale (the application may have switched the C
// library to a locale with a decimal comma), after the last ',' of the text
// has become '.'.
double ParseDecimal(std::string_view text) {
  char local[64];
  std::string longText;
  char* number = local;
  if (text.size() < sizeof local) {
    std::memcpy(local, text.data(), text.size());
    local[text.size()] = '\0';
  } else {
    longText.assign(text);
    number = longText.data();
  }
  if (const std::size_t comma = text.rfind(','); comma != std::string_view::npos)
    number[comma] = '.';
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
  if (cLocale == locale_t{}) return std::atof(number);
  return strtod_l(number, nullptr, cLocale);
}

// StrToInt of the text; plain decimal numbers, what the export writes, are
// read here without a string of their own.
int IntegerOf(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string_view digits = text.substr(negative ? 1 : 0);
  if (!digits.empty() && digits.size() <= 9) {
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc() && end == digits.data() + digits.size() && digits[0] != '+' &&
        digits[0] != '-')
      return negative ? -value : value;
  }
  return StrToInt(AnsiString(text));
}

Variant IntegerVariant(long long value) {
  if (value >= INT32_MIN && value <= INT32_MAX) return Variant(static_cast<int>(value));
  return Variant(value);
}

class ValueAdder {
 public:
  explicit ValueAdder(TTxFbfr& fbfr) : FFbfr(fbfr) {}

  // Adds the value of one element: its field id's text and its own text,
  // both Windows-1250.
  void Add(std::string_view idText, std::string_view text) {
    const auto id = static_cast<FLDID32>(IntegerOf(idText));
    if (text.empty()) {
      FFbfr.AppendOcc(id, Null());
      return;
    }
    switch (Fldtype32(id)) {
      case FLD_CARRAY: {
        std::string bytes;
        if (!DecodeBase64(text, bytes) || bytes.empty()) return;
        FFbfr.AppendOcc(id, Variant(AnsiString(std::move(bytes))));
        break;
      }
      case FLD_FLOAT:
      case FLD_DOUBLE:
        FFbfr.AppendOcc(id, Variant(ParseDecimal(text)));
        break;
      case FLD_LONG: {
        const long long value = IntegerOf(text);
        FFbfr.AppendOcc(id, IntegerVariant(IsDate(id) ? value + 1 : value));
        break;
      }
      default:
        FFbfr.AppendOcc(id, Variant(AnsiString(text)));
        break;
    }
  }

 private:
  bool IsDate(FLDID32 id) {
    if (id != FDateKnownFor) {
      FDate = IsDateField(FFbfr, id);
      FDateKnownFor = id;
    }
    return FDate;
  }

  TTxFbfr& FFbfr;
  FLDID32 FDateKnownFor = BADFLDID;
  bool FDate = false;
};

// The elements of one readAnsiXML call, added as they come. No exception
// may cross the parser's interface: the first one is kept, the walk is
// stopped, and the import raises it afterwards.
class ImportSink final : public IXmlDomElementSink {
 public:
  ImportSink(TTxFbfr& fbfr, int documentLength)
      : FFbfr(fbfr), FAdder(fbfr), FDocumentLength(documentLength) {}

  HRESULT OnElement(bool HasAttribute, std::string_view Attribute, std::string_view Text) override {
    try {
      if (FFirst) {
        FFirst = false;
        if (FDocumentLength > LargeDocument) FFbfr.EnsureSpace(0, -1, FDocumentLength);
      }
      if (!HasAttribute) CheckImportResult(S_FALSE);  // as getNamedItem's "not found"
      FAdder.Add(Attribute, Text);
      return S_OK;
    } catch (...) {
      FFailure = std::current_exception();
      return E_ABORT;
    }
  }

  // Raises what stopped the walk, if anything did.
  void RaiseFailure() const {
    if (FFailure) std::rethrow_exception(FFailure);
  }

 private:
  TTxFbfr& FFbfr;
  ValueAdder FAdder;
  int FDocumentLength;
  bool FFirst = true;
  std::exception_ptr FFailure;
};

// The document for the parser, as UTF-16: the conversion of WideString in
// one pass over a string of the final length.
WideString DocumentText(const AnsiString& text) {
  const std::string_view bytes = text.view();
  std::u16string wide(bytes.size(), u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    wide[i] = static_cast<char16_t>(Cp1250ToUnicode(static_cast<unsigned char>(bytes[i])));
  return WideString(std::move(wide));
}

// A text of the parser as Windows-1250, as AnsiString(WideString) gives it;
// plain ASCII, what most values are, is copied as it is.
AnsiString NarrowText(const WideString& text) {
  const std::u16string_view wide = text.view();
  std::string narrow(wide.size(), '\0');
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] >= 0x80) return AnsiString(text);
    narrow[i] = static_cast<char>(wide[i]);
  }
  return AnsiString(std::move(narrow));
}

TComInterface<IXmlDomDocument> CreateDocument() {
  TComInterface<IUnknown> object;
  CheckImportResult(CoCreateInstance(CLSID_TxXmlDomDocument, nullptr, ParserClassContext, object));
  CheckImportResult(OleRun(object.get()));
  TComInterface<IXmlDomDocument> document;
  CheckImportResult(object.As(document));
  return document;
}

}  // namespace

AnsiString ExportFMLToXML(TTxFbfr* Fbfr) {
  return WriteDocument(
      Fbfr->GetFbfrP(), [&](FLDID32 id, FLDOCC32 occ) { return Fbfr->OccValue(id, occ); },
      [&](FLDID32 id) { return IsDateField(*Fbfr, id); });
}

AnsiString ExportFMLToXML(FBFR32* Fbfr) {
  return WriteDocument(
      Fbfr, [&](FLDID32 id, FLDOCC32 occ) { return RawValue(Fbfr, id, occ); },
      [](FLDID32) { return false; });
}

void ImportFMLFromXML(TTxFbfr* Fbfr, const AnsiString& Text) {
  Fbfr->DeleteAllOcc(0);
  const TComInterface<IXmlDomDocument> document = CreateDocument();
  constexpr VARIANT_BOOL variantFalse = 0;
  document->put_async(variantFalse);
  document->put_resolveExternals(variantFalse);
  VARIANT_BOOL loaded = variantFalse;

  // Our own parser reads the Windows-1250 text and hands over the elements
  // in one walk; any other goes node by node.
  TComInterface<IXmlDomElementReader> reader;
  if (SUCCEEDED(document.As(reader))) {
    ImportSink sink(*Fbfr, Text.Length());
    const HRESULT hr = reader->readAnsiXML(Text, "FML32/OCC", "id", &sink, &loaded);
    sink.RaiseFailure();
    if (loaded != VARIANT_BOOL{-1}) {  // a failed load, checked as loadXML's: no elements
      TX_HRCHECK(hr);
      return;
    }
    CheckImportResult(hr);
    return;
  }

  TX_HRCHECK(document->loadXML(DocumentText(Text), &loaded));

  TComInterface<IXmlDomNodeList> elements;
  CheckImportResult(document->selectNodes(u"FML32/OCC", elements.ReleaseAndGetAddressOf()));

  ValueAdder adder(*Fbfr);
  for (LONG i = 0;; ++i) {
    LONG length = 0;
    TX_HRCHECK(elements->get_length(&length));
    if (i >= length) break;
    if (i == 0 && Text.Length() > LargeDocument) Fbfr->EnsureSpace(0, -1, Text.Length());

    TComInterface<IXmlDomNode> element;
    CheckImportResult(elements->get_item(i, element.ReleaseAndGetAddressOf()));
    TComInterface<IXmlDomNamedNodeMap> attributes;
    CheckImportResult(element->get_attributes(attributes.ReleaseAndGetAddressOf()));
    TComInterface<IXmlDomNode> idAttribute;
    CheckImportResult(attributes->getNamedItem(u"id", idAttribute.ReleaseAndGetAddressOf()));
    if (!idAttribute) continue;

    WideString idText;
    TX_HRCHECK(idAttribute->get_text(&idText));
    const AnsiString id = NarrowText(idText);
    WideString valueText;
    TX_HRCHECK(element->get_text(&valueText));
    adder.Add(id.view(), NarrowText(valueText).view());
  }
}

}  // namespace Tx
