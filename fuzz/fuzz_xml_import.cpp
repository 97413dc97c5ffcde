// Arbitrary text imported as an XML document into a buffer. Failures the
// import reports (the framework's exceptions) are expected; anything else
// is a finding. The import reads our parser's documents through its element
// reader; reading the same text node by node, as it reads another parser's,
// must leave the same buffer and raise the same message. What the import
// accepted must settle after one round trip: the first export may still
// change on re-import (an undefined byte's "&#x20;" comes back as a plain
// blank, a double loses its seventh decimal), but exporting, importing and
// exporting once more must then give the same document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/framework/Com.h"
#include "tests/xml/DomOnlyParser.h"
#include "xml/TxFMLXML.h"

namespace {

bool StartCom() { return Tx::SUCCEEDED(Tx::CoInitialize(nullptr)); }

// The message raised (empty when none) and the buffer's export.
std::string Outcome(Tx::TTxFbfr& buffer, const Tx::AnsiString& text, bool& raised) {
  std::string outcome;
  raised = false;
  try {
    Tx::ImportFMLFromXML(&buffer, text);
  } catch (const Tx::Exception& e) {
    raised = true;
    outcome = e.Message.str();
  }
  return outcome + '\n' + Tx::ExportFMLToXML(buffer.GetFbfrP()).str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool comStarted = StartCom();
  if (!comStarted) std::abort();
  static Tx::TTxFbfr imported(nullptr, 4096);
  static Tx::TTxFbfr nodeByNode(nullptr, 4096);
  static Tx::TTxFbfr again(nullptr, 4096);

  const Tx::AnsiString text(reinterpret_cast<const char*>(data), static_cast<int>(size));
  bool raised = false;
  const std::string outcome = Outcome(imported, text, raised);
  {
    const Tx::TDomOnlyParser domOnly;
    bool raisedNodeByNode = false;
    if (Outcome(nodeByNode, text, raisedNodeByNode) != outcome) std::abort();
  }
  if (raised) return 0;

  Tx::ImportFMLFromXML(&again, Tx::ExportFMLToXML(&imported));
  const Tx::AnsiString settled = Tx::ExportFMLToXML(&again);
  Tx::ImportFMLFromXML(&imported, settled);
  if (Tx::ExportFMLToXML(&imported) != settled) std::abort();
  return 0;
}
