// Arbitrary text imported as an XML document into a buffer. Failures the
// import reports (the framework's exceptions) are expected; anything else
// is a finding. What the import accepted must survive its own round trip:
// exporting the buffer, importing that document into a second buffer and
// exporting again gives the same document.
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
  const Tx::AnsiString document = Tx::ExportFMLToXML(&imported);
  Tx::ImportFMLFromXML(&again, document);
  if (Tx::ExportFMLToXML(&again) != document) std::abort();
  return 0;
}
