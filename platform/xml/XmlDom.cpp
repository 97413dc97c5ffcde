// The XML DOM parser over libxml2. libxml2 objects are owned by smart
// pointers with their own free functions; a parsed document is shared by
// the document object and every node handed out from it, so nodes outlive
// a reload of the document.
#include "platform/xml/XmlDom.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace Tx {

const CLSID CLSID_TxXmlDomDocument = "{5B0C93E0-7A4D-4F63-9C1E-2D8A61F04B17}"_guid;

namespace {

constexpr VARIANT_BOOL VariantTrue = -1;
constexpr VARIANT_BOOL VariantFalse = 0;

// XML_PARSE_COMPACT keeps short texts inside their nodes: one allocation
// less for most values of a buffer's document.
constexpr int ParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                             XML_PARSE_IGNORE_ENC | XML_PARSE_NOCDATA | XML_PARSE_COMPACT;

const char16_t ErrorSource[] = u"TxXml.DOMDocument";

using SharedDoc = std::shared_ptr<xmlDoc>;

struct ParserContextFree {
  void operator()(xmlParserCtxt* context) const noexcept { xmlFreeParserCtxt(context); }
};
struct XPathContextFree {
  void operator()(xmlXPathContext* context) const noexcept { xmlXPathFreeContext(context); }
};
struct XPathObjectFree {
  void operator()(xmlXPathObject* object) const noexcept { xmlXPathFreeObject(object); }
};
struct XmlCharFree {
  void operator()(xmlChar* text) const noexcept { xmlFree(text); }
};

HRESULT Failure(HRESULT hr, const char16_t* description) {
  return SetComError(hr, WideString(description), WideString(ErrorSource));
}

// Runs a method body, turning a failed allocation into E_OUTOFMEMORY: no
// exception crosses the interface.
template <class Body>
HRESULT Guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Failure(E_OUTOFMEMORY, u"Out of memory");
  } catch (...) {
    return Failure(E_UNEXPECTED, u"Unexpected failure of the XML parser");
  }
}

// ---- Control characters ----------------------------------------------------------

// The C0 controls XML 1.0 refuses even as character references.
constexpr bool IsRefusedControl(unsigned long c) noexcept {
  return (c >= 0x1 && c <= 0x8) || c == 0xB || c == 0xC || (c >= 0xE && c <= 0x1F);
}

// U+10FF00 + c stands for control c inside libxml2; in UTF-8 it is
// F4 8F BC, then 0x80 + c.
constexpr unsigned char PlaceholderLead[] = {0xF4, 0x8F, 0xBC};

void AppendPlaceholderReference(std::string& out, unsigned long control) {
  static constexpr char hex[] = "0123456789ABCDEF";
  out += "&#x10FF";
  out += hex[control >> 4];
  out += hex[control & 0xF];
  out += ';';
}

// Gives the placeholders back as the controls they stand for.
void RestoreControls(std::string& text) {
  if (text.find(static_cast<char>(PlaceholderLead[0])) == std::string::npos) return;
  std::size_t out = 0;
  for (std::size_t in = 0; in < text.size();) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[in + k]); };
    if (in + 3 < text.size() && byte(0) == PlaceholderLead[0] && byte(1) == PlaceholderLead[1] &&
        byte(2) == PlaceholderLead[2] && byte(3) >= 0x81 && byte(3) <= 0x9F) {
      text[out++] = static_cast<char>(byte(3) - 0x80);
      in += 4;
    } else {
      text[out++] = text[in++];
    }
  }
  text.resize(out);
}

// ---- Preparing the text for libxml2 ------------------------------------------------

// The code point of the character reference at in[at] == '&' and the
// position after its ';'; 0 when there is no well-formed numeric reference
// there (an entity reference, a missing ';', no digits). Values out of range
// give 0x110000, never an overflow.
unsigned long NumericReference(std::string_view in, std::size_t at, std::size_t& end) {
  std::size_t pos = at + 1;
  if (pos >= in.size() || in[pos] != '#') return 0;
  ++pos;
  const bool hex = pos < in.size() && in[pos] == 'x';
  if (hex) ++pos;
  unsigned long value = 0;
  std::size_t digits = 0;
  for (; pos < in.size(); ++pos, ++digits) {
    const char c = in[pos];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    value = value * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
    if (value > 0x10FFFF) value = 0x110000;
  }
  if (digits == 0 || pos >= in.size() || in[pos] != ';') return 0;
  end = pos + 1;
  return value;
}

// Copies the reference at in[at] == '&' and returns the position after it;
// a reference to a refused control becomes a reference to its placeholder.
std::size_t CopyReference(std::string_view in, std::size_t at, std::string& out) {
  std::size_t end = 0;
  if (const unsigned long value = NumericReference(in, at, end); IsRefusedControl(value)) {
    AppendPlaceholderReference(out, value);
    return end;
  }
  out += '&';
  return at + 1;
}

// Copies the tag starting at in[at] == '<' up to its closing '>' (outside
// quotes) and returns the position after it; references in quoted attribute
// values go through CopyReference. A '<' in the middle ends the copy early:
// the text is malformed and libxml2 will say so.
std::size_t CopyTag(std::string_view in, std::size_t at, std::string& out) {
  char quote = '\0';
  std::size_t copied = at;  // in[copied, pos) is still to be copied
  std::size_t pos = at + 1;
  const auto flush = [&] { out.append(in.substr(copied, pos - copied)); };
  while (pos < in.size()) {
    const char c = in[pos];
    if (quote != '\0') {
      if (c == quote) {
        quote = '\0';
      } else if (c == '&') {
        flush();
        pos = CopyReference(in, pos, out);
        copied = pos;
        continue;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      ++pos;
      flush();
      return pos;
    } else if (c == '<') {
      flush();
      return pos;
    }
    ++pos;
  }
  flush();
  return pos;
}

// True when PrepareText would give the text back unchanged: no "<!" markup
// and no character reference to a refused control anywhere. A reference in
// a processing instruction counts too, so the answer errs on the side of
// the full preparation.
bool NeedsNoPreparation(std::string_view in) {
  if (in.find("<!") != std::string_view::npos) return false;
  for (std::size_t at = in.find("&#"); at != std::string_view::npos; at = in.find("&#", at + 2)) {
    std::size_t end = 0;
    if (IsRefusedControl(NumericReference(in, at, end))) return false;
  }
  return true;
}

// The text libxml2 parses: the references to refused controls rewritten
// (outside comments, CDATA sections and processing instructions, where
// nothing is a reference). False for a text with a document type
// declaration (or any other "<!" markup declaration), which is refused.
bool PrepareText(std::string_view in, std::string& out) {
  // A zero is never XML, and leading zeros would make libxml2 guess a
  // four-byte encoding.
  if (std::memchr(in.data(), 0, in.size()) != nullptr) return false;
  out.clear();
  out.reserve(in.size());
  std::size_t pos = 0;
  const auto copyThrough = [&](std::string_view terminator, std::size_t searchFrom) {
    std::size_t end = in.find(terminator, searchFrom);
    end = end == std::string_view::npos ? in.size() : end + terminator.size();
    out.append(in.substr(pos, end - pos));
    pos = end;
  };
  while (pos < in.size()) {
    const std::string_view rest = in.substr(pos);
    if (rest[0] == '<') {
      if (rest.starts_with("<!--")) {
        copyThrough("-->", pos + 4);
      } else if (rest.starts_with("<![CDATA[")) {
        copyThrough("]]>", pos + 9);
      } else if (rest.starts_with("<?")) {
        copyThrough("?>", pos + 2);
      } else if (rest.starts_with("<!")) {
        return false;
      } else {
        pos = CopyTag(in, pos, out);
      }
    } else if (rest[0] == '&') {
      pos = CopyReference(in, pos, out);
    } else {
      std::size_t length = 1;
      while (length < rest.size() && rest[length] != '<' && rest[length] != '&') ++length;
      out.append(rest.substr(0, length));
      pos += length;
    }
  }
  return true;
}

// UTF-16 to UTF-8 in one tight pass (documents are mostly ASCII); an
// unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text) {
  // The code point at text[i], moving i past a surrogate pair.
  const auto codePoint = [&](std::size_t& i) -> char32_t {
    const char32_t c = text[i];
    if (c < 0xD800 || c > 0xDFFF) return c;
    if (c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      return 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    return 0xFFFD;
  };
  const auto encodedLength = [](char32_t c) -> std::size_t {
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  };

  std::size_t length = 0;
  for (std::size_t i = 0; i < text.size(); ++i) length += encodedLength(codePoint(i));
  std::string out(length, '\0');
  char* p = out.data();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = codePoint(i);
    switch (encodedLength(c)) {
      case 1:
        *p++ = static_cast<char>(c);
        break;
      case 2:
        *p++ = static_cast<char>(0xC0 | (c >> 6));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
        break;
      case 3:
        *p++ = static_cast<char>(0xE0 | (c >> 12));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
        break;
      default:
        *p++ = static_cast<char>(0xF0 | (c >> 18));
        *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
        break;
    }
  }
  return out;
}

// Windows-1250 to UTF-8 in one pass over a table of the upper half; plain
// ASCII needs no conversion at all.
bool IsPlainAscii(std::string_view text) noexcept {
  constexpr std::uint64_t highBits = 0x8080808080808080u;
  std::uint64_t bits = 0;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    bits |= word;
  }
  for (; i < text.size(); ++i) bits |= static_cast<unsigned char>(text[i]);
  return (bits & highBits) == 0;
}

std::string Cp1250ToUtf8(std::string_view text) {
  struct UpperHalf {
    char Bytes[128][3];
    unsigned char Length[128];
    UpperHalf() {
      for (int b = 0; b < 128; ++b) {
        const char32_t c = Cp1250ToUnicode(static_cast<unsigned char>(0x80 + b));
        char* out = Bytes[b];
        if (c < 0x800) {  // every byte of the table maps below U+FFFF
          out[0] = static_cast<char>(0xC0 | (c >> 6));
          out[1] = static_cast<char>(0x80 | (c & 0x3F));
          Length[b] = 2;
        } else {
          out[0] = static_cast<char>(0xE0 | (c >> 12));
          out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
          out[2] = static_cast<char>(0x80 | (c & 0x3F));
          Length[b] = 3;
        }
      }
    }
  };
  static const UpperHalf table;
  std::size_t length = text.size();
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) length += table.Length[byte - 0x80u] - 1u;
  }
  std::string out(length, '\0');
  char* p = out.data();
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      *p++ = c;
    } else {
      const unsigned b = byte - 0x80u;
      std::memcpy(p, table.Bytes[b], table.Length[b]);
      p += table.Length[b];
    }
  }
  return out;
}

// A handler for the end of each element, called after the tree builder's
// own, with the parser context and State as the context's _private.
struct TEndElementHook {
  endElementNsSAX2Func EndElement = nullptr;
  void* State = nullptr;
};

// The parsed document of UTF-8 text, or nullptr when the text is not
// acceptable XML.
SharedDoc ParseUtf8(const std::string& text, const TEndElementHook& hook = {}) {
  if (text.empty() || std::memchr(text.data(), 0, text.size()) != nullptr) return nullptr;
  const std::string* parsed = &text;
  std::string prepared;
  if (!NeedsNoPreparation(text)) {
    if (!PrepareText(text, prepared)) return nullptr;
    parsed = &prepared;
  }
  if (parsed->size() > static_cast<std::size_t>(INT_MAX)) return nullptr;

  const std::unique_ptr<xmlParserCtxt, ParserContextFree> context(xmlNewParserCtxt());
  if (!context) throw std::bad_alloc();
  if (hook.EndElement != nullptr) {
    context->sax->endElementNs = hook.EndElement;  // the context's own handler table
    context->_private = hook.State;
  }
  SharedDoc doc(xmlCtxtReadMemory(context.get(), parsed->data(), static_cast<int>(parsed->size()),
                                  nullptr, nullptr, ParseOptions),
                xmlFreeDoc);
  if (!doc || !context->wellFormed) return nullptr;
  if (doc->intSubset != nullptr || doc->extSubset != nullptr) return nullptr;
  if (xmlDocGetRootElement(doc.get()) == nullptr) return nullptr;
  return doc;
}

SharedDoc ParseDocument(const WideString& xml) { return ParseUtf8(ToUtf8(xml.view())); }

SharedDoc ParseAnsiDocument(const AnsiString& xml, const TEndElementHook& hook = {}) {
  if (IsPlainAscii(xml.view())) return ParseUtf8(xml.str(), hook);
  return ParseUtf8(Cp1250ToUtf8(xml.view()), hook);
}

// ---- Node behaviour shared by nodes and the document ---------------------------------

void SilentXPathError(void*, xmlError*) {}

// The text of a node that holds one text node (or of that text node), read
// in place; nullptr for other nodes.
const xmlChar* SingleText(xmlNode* node) {
  if (node->type == XML_TEXT_NODE) return node->content;
  if (node->type != XML_ELEMENT_NODE && node->type != XML_ATTRIBUTE_NODE) return nullptr;
  xmlNode* child = node->children;
  if (child == nullptr) return node->type == XML_ELEMENT_NODE ? BAD_CAST "" : nullptr;
  if (child->next != nullptr || child->type != XML_TEXT_NODE) return nullptr;
  return child->content;
}

WideString NodeText(xmlNode* node) {
  if (const xmlChar* text = SingleText(node); text != nullptr) {
    const char* utf8 = reinterpret_cast<const char*>(text);
    if (std::strchr(utf8, static_cast<char>(PlaceholderLead[0])) == nullptr)
      return Utf8ToWide(utf8);
  }
  const std::unique_ptr<xmlChar, XmlCharFree> content(xmlNodeGetContent(node));
  if (!content) return WideString();
  const char* utf8 = reinterpret_cast<const char*>(content.get());
  if (std::strchr(utf8, static_cast<char>(PlaceholderLead[0])) == nullptr) return Utf8ToWide(utf8);
  std::string text(utf8);
  RestoreControls(text);
  return Utf8ToWide(text);
}

// ---- Texts as Windows-1250 for the element reader ----------------------------------

// The Windows-1250 byte of a code point (-1: none), from a table below
// U+0800, where the letters of the code page lie (the euro sign, the quotes
// and a few more are looked up).
int NarrowByte(char32_t c) {
  struct Table {
    std::array<short, 0x800> Bytes;
    Table() {
      for (char32_t cp = 0; cp < 0x800; ++cp) Bytes[cp] = static_cast<short>(UnicodeToCp1250(cp));
    }
  };
  static const Table table;
  return c < 0x800 ? table.Bytes[c] : UnicodeToCp1250(c);
}

// Appends a text of the tree as get_text and AnsiString(WideString) give it:
// the placeholders back as controls, every other character as its
// Windows-1250 byte or '?'. False (with part of the text appended) for text
// that is not valid UTF-8, which libxml2 never gives; the caller then takes
// the long way.
bool AppendNarrowed(std::string& out, const xmlChar* text) {
  const unsigned char* p = text;
  for (;;) {
    const unsigned char* run = p;
    while (*p != 0 && *p < 0x80) ++p;
    out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
    if (*p == 0) return true;

    std::size_t length;
    char32_t c;
    if ((p[0] & 0xE0) == 0xC0) {
      length = 2;
      c = p[0] & 0x1Fu;
    } else if ((p[0] & 0xF0) == 0xE0) {
      length = 3;
      c = p[0] & 0x0Fu;
    } else if ((p[0] & 0xF8) == 0xF0) {
      length = 4;
      c = p[0] & 0x07u;
    } else {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {  // stops at the terminating zero
      if ((p[k] & 0xC0) != 0x80) return false;
      c = (c << 6) | (p[k] & 0x3Fu);
    }
    constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    p += length;

    if (c >= 0x10FF01 && c <= 0x10FF1F) {
      out += static_cast<char>(c - 0x10FF00);
    } else {
      const int byte = NarrowByte(c);
      out += byte < 0 ? '?' : static_cast<char>(byte);
    }
  }
}

// The long way: get_text's wide string, narrowed.
void AssignNarrowedNodeText(std::string& out, xmlNode* node) {
  out = AnsiString(NodeText(node)).str();
}

// The text content of an element (every descendant text and CDATA section in
// document order), narrowed into out.
void ElementText(std::string& out, xmlNode* element) {
  out.clear();
  xmlNode* node = element->children;
  while (node != nullptr) {
    switch (node->type) {
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE:
        if (node->content != nullptr && !AppendNarrowed(out, node->content))
          return AssignNarrowedNodeText(out, element);
        break;
      case XML_ELEMENT_NODE:
      case XML_COMMENT_NODE:
      case XML_PI_NODE:
        break;
      default:  // not made without a document type; libxml2 knows what it holds
        return AssignNarrowedNodeText(out, element);
    }
    if (node->type == XML_ELEMENT_NODE && node->children != nullptr) {
      node = node->children;
      continue;
    }
    while (node->next == nullptr) {
      node = node->parent;
      if (node == element) return;
    }
    node = node->next;
  }
}

// The attribute of that name in no namespace, as getNamedItem finds it.
xmlAttr* AttributeNamed(xmlNode* element, std::string_view name) {
  for (xmlAttr* attribute = element->properties; attribute != nullptr;
       attribute = attribute->next) {
    if (attribute->ns == nullptr &&
        std::string_view(reinterpret_cast<const char*>(attribute->name)) == name)
      return attribute;
  }
  return nullptr;
}

void AttributeText(std::string& out, xmlAttr* attribute) {
  out.clear();
  for (xmlNode* node = attribute->children; node != nullptr; node = node->next) {
    if (node->type != XML_TEXT_NODE ||
        (node->content != nullptr && !AppendNarrowed(out, node->content)))
      return AssignNarrowedNodeText(out, reinterpret_cast<xmlNode*>(attribute));
  }
}

// A child path: element names separated by '/', nothing else.
bool SplitChildPath(std::string_view path, std::vector<std::string_view>& steps) {
  constexpr std::string_view notInName = "/*@[]()|:=!<>$,'\" \t\r\n";
  for (std::size_t from = 0;;) {
    const std::size_t slash = std::min(path.find('/', from), path.size());
    const std::string_view step = path.substr(from, slash - from);
    if (step.empty() || step.find_first_of(notInName) != std::string_view::npos ||
        step.find('\0') != std::string_view::npos || step == "." || step == "..")
      return false;
    steps.push_back(step);
    if (slash == path.size()) return true;
    from = slash + 1;
  }
}

// ---- Reading while parsing ------------------------------------------------------------

// What readAnsiXML gathers while libxml2 builds the tree: each selected
// element's attribute and text, taken when its end tag has been read. The
// element's content and attributes are freed then, so the tree never holds
// the whole document (the empty element stays, and with it the tree builder's
// idea of where text goes next). The records are handed over only once the
// whole text has been accepted.
class TElementHarvest {
 public:
  TElementHarvest(const std::vector<std::string_view>& steps, std::string_view attributeName,
                  std::size_t textLength)
      : FSteps(steps), FAttributeName(attributeName) {
    // The texts of the records come from bytes of the text, each from its
    // own; only many tiny elements need more room than the text's length.
    FRecords.reserve(textLength);
  }

  TEndElementHook Hook() { return {EndElement, this}; }

  // Raises bad_alloc when memory ran out while parsing.
  void CheckTaken() const {
    if (FOutOfMemory) throw std::bad_alloc();
  }

  HRESULT Deliver(IXmlDomElementSink& sink) const {
    for (std::size_t at = 0; at < FRecords.size();) {
      const bool hasAttribute = FRecords[at] != '\0';
      const std::uint32_t attributeLength = LengthAt(at + 1);
      const std::uint32_t textLength = LengthAt(at + 5);
      at += 9;
      const std::string_view attribute(FRecords.data() + at, attributeLength);
      const std::string_view text(FRecords.data() + at + attributeLength, textLength);
      at += attributeLength + textLength;
      const HRESULT hr = sink.OnElement(hasAttribute, attribute, text);
      if (hr != S_OK) return hr;
    }
    return S_OK;
  }

 private:
  static void EndElement(void* parser, const xmlChar* localName, const xmlChar* prefix,
                         const xmlChar* uri) {
    auto* context = static_cast<xmlParserCtxt*>(parser);
    xmlNode* element = context->node;
    xmlSAX2EndElementNs(parser, localName, prefix, uri);
    auto* harvest = static_cast<TElementHarvest*>(context->_private);
    if (element == nullptr || !harvest->Selected(element)) return;
    try {
      harvest->Take(element);
    } catch (...) {  // nothing may unwind through libxml2
      harvest->FOutOfMemory = true;
      xmlStopParser(context);
      return;
    }
    xmlFreeNodeList(element->children);
    element->children = element->last = nullptr;
    xmlFreePropList(element->properties);
    element->properties = nullptr;
  }

  // Whether the path selects element: its name and its ancestors' names
  // are the steps, from an element right below the document.
  bool Selected(xmlNode* element) const {
    xmlNode* node = element;
    for (std::size_t step = FSteps.size(); step-- > 0; node = node->parent) {
      if (node == nullptr || node->type != XML_ELEMENT_NODE || node->ns != nullptr ||
          std::string_view(reinterpret_cast<const char*>(node->name)) != FSteps[step])
        return false;
    }
    return node != nullptr && node->type == XML_DOCUMENT_NODE;
  }

  void Take(xmlNode* element) {
    xmlAttr* attribute = AttributeNamed(element, FAttributeName);
    if (attribute != nullptr) {
      AttributeText(FAttribute, attribute);
    } else {
      FAttribute.clear();
    }
    ElementText(FText, element);
    FRecords += attribute != nullptr ? '\1' : '\0';
    AppendLength(FAttribute.size());
    AppendLength(FText.size());
    FRecords += FAttribute;
    FRecords += FText;
  }

  void AppendLength(std::size_t length) {
    const auto value = static_cast<std::uint32_t>(length);  // texts are below 2 GB
    char bytes[4];
    std::memcpy(bytes, &value, 4);
    FRecords.append(bytes, 4);
  }
  std::uint32_t LengthAt(std::size_t at) const {
    std::uint32_t value;
    std::memcpy(&value, FRecords.data() + at, 4);
    return value;
  }

  const std::vector<std::string_view>& FSteps;
  std::string_view FAttributeName;
  std::string FRecords;  // per element: 1 or 0 for the attribute, the two lengths, the texts
  std::string FAttribute;
  std::string FText;
  bool FOutOfMemory = false;
};

// The nodes Query selects from node; false when it is not a valid
// expression that gives nodes.
bool SelectNodes(const SharedDoc& doc, xmlNode* node, const WideString& query,
                 std::vector<xmlNode*>& nodes) {
  const std::unique_ptr<xmlXPathContext, XPathContextFree> context(xmlXPathNewContext(doc.get()));
  if (!context) throw std::bad_alloc();
  context->node = node;
  context->error = SilentXPathError;
  const std::string expression = WideToUtf8(query);
  if (expression.find('\0') != std::string::npos) return false;
  const std::unique_ptr<xmlXPathObject, XPathObjectFree> result(
      xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expression.c_str()), context.get()));
  if (!result || result->type != XPATH_NODESET) return false;
  if (result->nodesetval == nullptr) return true;
  nodes.reserve(static_cast<std::size_t>(result->nodesetval->nodeNr));
  for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
    xmlNode* found = result->nodesetval->nodeTab[i];
    // Namespace nodes of a node set are copies that die with the result.
    if (found != nullptr && found->type != XML_NAMESPACE_DECL) nodes.push_back(found);
  }
  return true;
}

// ---- Objects ----------------------------------------------------------------------

template <class Interface, class Object, class... Args>
HRESULT Create(Interface** out, Args&&... args) {
  auto* object = new Object(std::forward<Args>(args)...);
  *out = object;
  object->AddRef();
  return S_OK;
}

class TXmlDomNodeObject final : public TComObject<IXmlDomNode> {
 public:
  TXmlDomNodeObject(SharedDoc doc, xmlNode* node) : FDoc(std::move(doc)), FNode(node) {}

  HRESULT get_attributes(IXmlDomNamedNodeMap** AttributeMap) override;
  HRESULT get_text(WideString* Text) override {
    if (Text == nullptr) return E_POINTER;
    return Guarded([&] {
      *Text = NodeText(FNode);
      return S_OK;
    });
  }
  HRESULT selectNodes(const WideString& QueryString, IXmlDomNodeList** ResultList) override;

 private:
  SharedDoc FDoc;
  xmlNode* FNode;
};

class TXmlDomNodeListObject final : public TComObject<IXmlDomNodeList> {
 public:
  TXmlDomNodeListObject(SharedDoc doc, std::vector<xmlNode*> nodes)
      : FDoc(std::move(doc)), FNodes(std::move(nodes)) {}

  HRESULT get_length(LONG* ListLength) override {
    if (ListLength == nullptr) return E_POINTER;
    *ListLength = FNodes.size() > static_cast<std::size_t>(INT32_MAX)
                      ? INT32_MAX
                      : static_cast<LONG>(FNodes.size());
    return S_OK;
  }
  HRESULT get_item(LONG Index, IXmlDomNode** ListItem) override {
    if (ListItem == nullptr) return E_POINTER;
    *ListItem = nullptr;
    if (Index < 0 || static_cast<std::size_t>(Index) >= FNodes.size()) return S_FALSE;
    return Guarded([&] {
      return Create<IXmlDomNode, TXmlDomNodeObject>(ListItem, FDoc,
                                                    FNodes[static_cast<std::size_t>(Index)]);
    });
  }

 private:
  SharedDoc FDoc;
  std::vector<xmlNode*> FNodes;
};

class TXmlDomAttributeMapObject final : public TComObject<IXmlDomNamedNodeMap> {
 public:
  TXmlDomAttributeMapObject(SharedDoc doc, xmlNode* element)
      : FDoc(std::move(doc)), FElement(element) {}

  HRESULT getNamedItem(const WideString& Name, IXmlDomNode** NamedItem) override {
    if (NamedItem == nullptr) return E_POINTER;
    *NamedItem = nullptr;
    return Guarded([&] {
      const std::string name = WideToUtf8(Name);
      if (name.find('\0') != std::string::npos) return S_FALSE;
      xmlAttr* attribute =
          xmlHasNsProp(FElement, reinterpret_cast<const xmlChar*>(name.c_str()), nullptr);
      // Without a DTD there are no defaulted attributes: only real ones count.
      if (attribute == nullptr || attribute->type != XML_ATTRIBUTE_NODE) return S_FALSE;
      return Create<IXmlDomNode, TXmlDomNodeObject>(NamedItem, FDoc,
                                                    reinterpret_cast<xmlNode*>(attribute));
    });
  }

 private:
  SharedDoc FDoc;
  xmlNode* FElement;
};

HRESULT AttributesOf(const SharedDoc& doc, xmlNode* node, IXmlDomNamedNodeMap** AttributeMap) {
  if (AttributeMap == nullptr) return E_POINTER;
  *AttributeMap = nullptr;
  if (node == nullptr || node->type != XML_ELEMENT_NODE) return S_FALSE;
  return Guarded([&] {
    return Create<IXmlDomNamedNodeMap, TXmlDomAttributeMapObject>(AttributeMap, doc, node);
  });
}

HRESULT SelectFrom(const SharedDoc& doc, xmlNode* node, const WideString& query,
                   IXmlDomNodeList** ResultList) {
  if (ResultList == nullptr) return E_POINTER;
  *ResultList = nullptr;
  return Guarded([&] {
    std::vector<xmlNode*> nodes;
    if (doc && !SelectNodes(doc, node, query, nodes)) {
      return Failure(E_INVALIDARG, u"The XPath expression is not valid or does not select nodes");
    }
    return Create<IXmlDomNodeList, TXmlDomNodeListObject>(ResultList, doc, std::move(nodes));
  });
}

HRESULT TXmlDomNodeObject::get_attributes(IXmlDomNamedNodeMap** AttributeMap) {
  return AttributesOf(FDoc, FNode, AttributeMap);
}

HRESULT TXmlDomNodeObject::selectNodes(const WideString& QueryString,
                                       IXmlDomNodeList** ResultList) {
  return SelectFrom(FDoc, FNode, QueryString, ResultList);
}

class TXmlDomDocumentObject final : public TComObject<IXmlDomDocument, IXmlDomElementReader> {
 public:
  HRESULT get_attributes(IXmlDomNamedNodeMap** AttributeMap) override {
    return AttributesOf(FDoc, nullptr, AttributeMap);
  }
  HRESULT get_text(WideString* Text) override {
    if (Text == nullptr) return E_POINTER;
    return Guarded([&] {
      *Text = FDoc ? NodeText(reinterpret_cast<xmlNode*>(FDoc.get())) : WideString();
      return S_OK;
    });
  }
  HRESULT selectNodes(const WideString& QueryString, IXmlDomNodeList** ResultList) override {
    return SelectFrom(FDoc, reinterpret_cast<xmlNode*>(FDoc.get()), QueryString, ResultList);
  }

  HRESULT put_async(VARIANT_BOOL) override { return S_OK; }
  HRESULT put_resolveExternals(VARIANT_BOOL) override { return S_OK; }
  HRESULT loadXML(const WideString& Xml, VARIANT_BOOL* IsSuccessful) override {
    if (IsSuccessful == nullptr) return E_POINTER;
    *IsSuccessful = VariantFalse;
    FDoc.reset();
    return Guarded([&] {
      FDoc = ParseDocument(Xml);
      if (!FDoc) return S_FALSE;
      *IsSuccessful = VariantTrue;
      return S_OK;
    });
  }

  HRESULT readAnsiXML(const AnsiString& Xml, const AnsiString& Path,
                      const AnsiString& AttributeName, IXmlDomElementSink* Sink,
                      VARIANT_BOOL* IsSuccessful) override {
    if (IsSuccessful == nullptr) return E_POINTER;
    *IsSuccessful = VariantFalse;
    if (Sink == nullptr) return E_POINTER;
    FDoc.reset();
    return Guarded([&] {
      const std::string path = Cp1250ToUtf8(Path.view());
      const std::string attributeName = Cp1250ToUtf8(AttributeName.view());
      std::vector<std::string_view> steps;
      if (!SplitChildPath(path, steps) || attributeName.empty() ||
          attributeName.find('\0') != std::string::npos)
        return Failure(E_INVALIDARG, u"The path is not a child path of element names");
      TElementHarvest harvest(steps, attributeName, static_cast<std::size_t>(Xml.Length()));
      SharedDoc doc = ParseAnsiDocument(Xml, harvest.Hook());
      harvest.CheckTaken();
      if (!doc) return S_FALSE;
      doc.reset();  // what is left of the tree goes before the sink's work
      *IsSuccessful = VariantTrue;
      return harvest.Deliver(*Sink);
    });
  }

 private:
  SharedDoc FDoc;
};

// The registration made when the program starts.
[[maybe_unused]] const DWORD StartupRegistration = RegisterXmlDomParser();

}  // namespace

DWORD RegisterXmlDomParser() {
  xmlInitParser();
  return RegisterComClass(CLSID_TxXmlDomDocument, TxXmlDomDocumentProgID, CLSCTX_INPROC_SERVER,
                          ComClassFactory<TXmlDomDocumentObject>());
}

}  // namespace Tx
