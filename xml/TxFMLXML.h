// TxFMLXML: an FML32 buffer as an XML document and back.
//
// The document, byte for byte (plain ASCII; the call log and applications
// store it and other tools read it):
//
//   <?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n
//   <FML32><OCC id="167772267">Za&#x17c;&#xf3;&#x142;&#x107;</OCC>\n
//   <OCC id="33554533">7</OCC>\n
//   </FML32>\n
//
// One OCC element per field occurrence, in the order Fnext32 walks the
// buffer (field by field, each field's occurrences from 0); the id attribute
// is the whole field id (type bits included) in signed decimal. There is no
// line feed between "<FML32>" and the first element, so an empty buffer
// gives the declaration, "<FML32></FML32>" and a line feed.
//
// Element text by field type:
//   carray           base64 (RFC 4648, "=" padding, no line breaks); a value
//                    of length 0 gives an empty element
//   string           the text, escaped (below)
//   float, double    printf's "%f": six decimals, '.' as the point, whatever
//                    the locale
//   long             decimal; see the date shift below
//   short, char,     the value's text as the framework turns a variant into
//   other types      a string, escaped
// A null value (the types' reserved null values, an empty string, a char 0)
// gives an empty element.
//
// Escaping, byte by byte over the Windows-1250 text: bytes below 32 and
// '&', '<', '>' become "&#x<hex>;" with the byte in lower-case hex and no
// leading zeros; other ASCII bytes stand for themselves (quotes too); bytes
// from 128 up become "&#x<hex>;" with their Unicode code point, except the
// five bytes Windows-1250 leaves undefined (0x81 0x83 0x88 0x90 0x98), which
// become "&#x20;", a blank.
//
// What does not come back exactly from export and import: doubles and
// floats keep six decimals; an empty element (a null, an empty string, a
// carray of length 0) comes back as a null occurrence; the five undefined
// bytes come back as blanks.
#pragma once

#include <fml32.h>

#include "buffer/TxFbfr.h"
#include "platform/framework/AnsiString.h"

namespace Tx {

// The document of Fbfr's occurrences, read through TTxFbfr::OccValue, so the
// buffer's field definitions (its contract when it has one) apply: strings
// are translated from the server's code page, and a long field whose
// definition has the logical type txlftDate is written as the stored day
// number (the value OccValue gives, minus one). Raises what OccValue raises
// (an unsupported field type among them) and ETxFmlError for a failed walk;
// nothing is returned then. Fbfr is not owned and must not be null.
AnsiString ExportFMLToXML(TTxFbfr* Fbfr);

// The document of a bare buffer, read without any contract: strings are
// translated from the server's code page; fields of other types than the
// seven FML32 value types give empty elements. Raises ETxFmlError for a
// failed read or walk. Fbfr is not owned and must not be null.
AnsiString ExportFMLToXML(FBFR32* Fbfr);

// Replaces Fbfr's contents with the OCC elements of Text that are children
// of the root element FML32, in document order, each added with
// TTxFbfr::AppendOcc (so the contract's limits and conversions apply):
//   - empty element text: a null occurrence, whatever the type;
//   - carray: the base64 decoding of the text (white space skipped); text
//     that is not base64, or decodes to no byte, adds nothing;
//   - float, double: the last ',' is taken as the decimal point, then the
//     number is read as C's atof reads it in the "C" locale (text that is no
//     number gives 0.0);
//   - long: StrToInt of the text, plus one when the buffer's definition of
//     the field has the logical type txlftDate;
//   - other types: the text as a string.
// The buffer is emptied first (a read-only buffer raises there). Text that
// is not XML, or holds no such element, leaves the buffer empty and raises
// nothing. The text goes to the XML DOM parser of the COM class registry
// (platform/xml/XmlDom.h); COM must already be started on the calling
// thread. A parser object that offers IXmlDomElementReader (ours does) is
// read through it while it parses, any other node by node; the buffer and the
// failures are the same either way. Raises:
//   - Exception with the thread's COM error description, or "Błąd importu
//     FML z XML" when there is none, when the parser cannot be created
//     (COM not started, parser not registered) or a lookup does not answer
//     S_OK, as for an OCC element without an id attribute;
//   - EConvertError for an id or a long value that is not an integer;
//   - whatever AppendOcc raises for a value the field does not take.
// After an error part-way the buffer keeps the values added so far. Fbfr is
// not owned and must not be null.
// A document of more than 64 KB first makes room for its own length in the
// buffer (TTxFbfr::EnsureSpace), so that a large import grows the buffer
// once rather than in 4 KB steps.
void ImportFMLFromXML(TTxFbfr* Fbfr, const AnsiString& Text);

}  // namespace Tx
