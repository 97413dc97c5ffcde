// The XML DOM parser: a small document object model reached through the
// COM class registry, as the library reaches every outside object.
//
// The library asks the registry for CLSID_TxXmlDomDocument (ProgID
// "TxXml.DOMDocument"); the in-process implementation here, built on
// libxml2, registers itself when the program starts. Because the class id is
// defined in this unit, a program that names it also links the parser and
// its registration. Removing the registration (UnregisterComClass) makes
// creation fail with REGDB_E_CLASSNOTREG, as on a system without the parser;
// RegisterXmlDomParser puts it back.
//
// Only what the XML import needs is offered: a document that parses a text
// and selects nodes by XPath, node lists, attribute maps and text content.
// Strings cross as WideString (UTF-16), flags as VARIANT_BOOL (-1 true,
// 0 false). Out pointers must not be null (E_POINTER). Failures other than
// "nothing found" (S_FALSE) set the thread's COM error information.
//
// Parsing rules, chosen for text that comes from outside:
//   - the text is parsed as given; an encoding declaration is ignored (the
//     text is already Unicode);
//   - no network access, no external entities, no DTD loading: a document
//     type declaration (<!DOCTYPE ...>) is refused outright, so there are no
//     entities beyond the five predefined ones and nothing to expand;
//   - below the document element, elements may nest at most 256 levels (a
//     document 257 elements deep is the deepest accepted), names are at most 50,000 bytes
//     and an attribute value at most 10,000,000 bytes (the libxml2 limits
//     without its "huge" option); text content has no limit of its own;
//   - character references to the C0 controls that XML 1.0 forbids (U+0001
//     to U+0008, U+000B, U+000C, U+000E to U+001F) are accepted, as XML 1.1
//     accepts them, because the buffer export writes them for control bytes.
//     They are carried through libxml2 as the private-use characters U+10FF01
//     to U+10FF1F and given back as the controls by get_text; a document that
//     holds those private-use characters itself therefore reads them as
//     controls too;
//   - white space is kept exactly as written, around text as well;
//   - a text that is not well-formed XML gives loadXML's S_FALSE and an
//     empty document, never an exception or a partial tree.
// async and resolveExternals are accepted and have no effect: loading is
// always synchronous and external resources are never read.
//
// Besides the DOM interfaces the document object offers IXmlDomElementReader
// (ask for it with QueryInterface): it parses Windows-1250 text without a
// UTF-16 copy and hands the caller one attribute and the text of each
// selected element as Windows-1250 views, without a COM object or a wide
// string per node, reading the elements while it parses and freeing each
// once read, so a large document never stands as a whole tree. The views
// belong to the document object and last for one callback. A caller must
// still work with a parser that lacks the reader (another registered class)
// through the DOM interfaces; both give the same documents, texts and
// failures.
#pragma once

#include <string_view>

#include "platform/framework/AnsiString.h"
#include "platform/framework/Com.h"
#include "platform/framework/WideString.h"
#include "platform/framework/WinTypes.h"

namespace Tx {

// The COM boolean (VARIANT_TRUE -1, VARIANT_FALSE 0).
using VARIANT_BOOL = short;

struct IXmlDomNodeList;
struct IXmlDomNamedNodeMap;

struct IXmlDomNode : IUnknown {
  static constexpr IID Uuid = "{5B0C93E1-7A4D-4F63-9C1E-2D8A61F04B17}"_guid;
  using Base = IUnknown;

  // The attributes of an element. Other nodes have none: S_FALSE, nullptr.
  virtual HRESULT get_attributes(IXmlDomNamedNodeMap** AttributeMap) = 0;
  // The text content: for an element or the document every descendant text
  // (CDATA included) in document order; for an attribute its value; for a
  // text node itself. Character references are resolved.
  virtual HRESULT get_text(WideString* Text) = 0;
  // The nodes an XPath 1.0 expression selects with this node as context, in
  // document order (an empty list for a document that holds nothing).
  // E_INVALIDARG when the expression is not valid or does not give nodes.
  virtual HRESULT selectNodes(const WideString& QueryString, IXmlDomNodeList** ResultList) = 0;

 protected:
  ~IXmlDomNode() = default;
};

struct IXmlDomNodeList : IUnknown {
  static constexpr IID Uuid = "{5B0C93E2-7A4D-4F63-9C1E-2D8A61F04B17}"_guid;
  using Base = IUnknown;

  virtual HRESULT get_length(LONG* ListLength) = 0;
  // The node at Index; S_FALSE and nullptr outside 0 .. length - 1.
  virtual HRESULT get_item(LONG Index, IXmlDomNode** ListItem) = 0;

 protected:
  ~IXmlDomNodeList() = default;
};

struct IXmlDomNamedNodeMap : IUnknown {
  static constexpr IID Uuid = "{5B0C93E3-7A4D-4F63-9C1E-2D8A61F04B17}"_guid;
  using Base = IUnknown;

  // The attribute with that name and no namespace; S_FALSE and nullptr when
  // the element has none.
  virtual HRESULT getNamedItem(const WideString& Name, IXmlDomNode** NamedItem) = 0;

 protected:
  ~IXmlDomNamedNodeMap() = default;
};

// The document: a node whose content is the last text loaded. Nodes handed
// out stay valid after the document loads another text or is released.
struct IXmlDomDocument : IXmlDomNode {
  static constexpr IID Uuid = "{5B0C93E4-7A4D-4F63-9C1E-2D8A61F04B17}"_guid;
  using Base = IXmlDomNode;

  virtual HRESULT put_async(VARIANT_BOOL IsAsync) = 0;
  virtual HRESULT put_resolveExternals(VARIANT_BOOL IsResolving) = 0;
  // Parses Xml (see the rules above). S_OK and VARIANT_TRUE on success;
  // S_FALSE and VARIANT_FALSE, with an empty document, when the text is
  // not XML; E_OUTOFMEMORY when memory ran out.
  virtual HRESULT loadXML(const WideString& Xml, VARIANT_BOOL* IsSuccessful) = 0;

 protected:
  ~IXmlDomDocument() = default;
};

// Receives the elements IXmlDomElementReader::readAnsiXML selects. Not a
// COM object: the caller keeps it alive for the call. It must not raise;
// a failure is reported by its result.
struct IXmlDomElementSink {
  // One element, in document order: the value of the asked attribute
  // (HasAttribute false and an empty view when the element has none) and the
  // element's text content, both in Windows-1250 exactly as AnsiString gives
  // them from the WideString of get_text (controls restored, characters
  // Windows-1250 lacks as '?'). The views belong to the reader and are valid
  // during the call only. S_OK goes on to the next element; any other result
  // ends the walk and is readAnsiXML's result.
  virtual HRESULT OnElement(bool HasAttribute, std::string_view Attribute,
                            std::string_view Text) = 0;

 protected:
  ~IXmlDomElementSink() = default;
};

// The bulk reading of a document, on the same object as its IXmlDomDocument.
struct IXmlDomElementReader : IUnknown {
  static constexpr IID Uuid = "{5B0C93E5-7A4D-4F63-9C1E-2D8A61F04B17}"_guid;
  using Base = IUnknown;

  // Parses Xml, Windows-1250 text converted to UTF-8 in one pass (plain
  // ASCII is parsed in place), by the rules of loadXML, and calls Sink for
  // every element a child path selects ("FML32/OCC": the OCC children of the
  // root element FML32), in document order: the elements selectNodes of
  // that path gives after loadXML of the same text. A path step is an
  // element name without a prefix and matches elements in no namespace.
  // Each selected element is read when its end tag has been parsed and its
  // content freed at once, so the whole tree is never built; Sink is called
  // only once the whole text has been accepted, and the document object is
  // empty afterwards. *IsSuccessful tells whether the text was accepted:
  // VARIANT_FALSE with S_FALSE (not XML, as loadXML), E_OUTOFMEMORY,
  // E_INVALIDARG (a path that is not such a child path, an empty
  // AttributeName) or E_POINTER (a null Sink or IsSuccessful), and no call
  // of Sink; VARIANT_TRUE with S_OK after the last element, E_OUTOFMEMORY,
  // or the first result of Sink other than S_OK (without error information
  // of its own).
  virtual HRESULT readAnsiXML(const AnsiString& Xml, const AnsiString& Path,
                              const AnsiString& AttributeName, IXmlDomElementSink* Sink,
                              VARIANT_BOOL* IsSuccessful) = 0;

 protected:
  ~IXmlDomElementReader() = default;
};

// The parser's class, served in-process.
extern const CLSID CLSID_TxXmlDomDocument;
inline constexpr char TxXmlDomDocumentProgID[] = "TxXml.DOMDocument";

// Registers the parser's class (as happens once when the program starts) and
// returns the cookie of this registration for RevokeComClass.
DWORD RegisterXmlDomParser();

}  // namespace Tx
