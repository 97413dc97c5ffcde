// Arbitrary text imported as an XML document into a buffer. Failures the
// import reports (the framework's exceptions) are expected; anything else
// is a finding. What the import accepted must settle after one round trip:
// the first export may still change on re-import (an undefined byte's
// "&#x20;" comes back as a plain blank, a double loses its seventh decimal),
// but exporting, importing and exporting once more must then give the same
// document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/framework/Com.h"
#include "xml/TxFMLXML.h"

namespace {

bool StartCom() { return Tx::SUCCEEDED(Tx::CoInitialize(nullptr)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool comStarted = StartCom();
  if (!comStarted) std::abort();
  static Tx::TTxFbfr imported(nullptr, 4096);
  static Tx::TTxFbfr again(nullptr, 4096);

  const Tx::AnsiString text(reinterpret_cast<const char*>(data), static_cast<int>(size));
  try {
    Tx::ImportFMLFromXML(&imported, text);
  } catch (const Tx::Exception&) {
    return 0;
  }
  Tx::ImportFMLFromXML(&again, Tx::ExportFMLToXML(&imported));
  const Tx::AnsiString settled = Tx::ExportFMLToXML(&again);
  Tx::ImportFMLFromXML(&imported, settled);
  if (Tx::ExportFMLToXML(&imported) != settled) std::abort();
  return 0;
}
