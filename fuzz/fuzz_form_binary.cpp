// Arbitrary bytes as a binary form: read into a data module holding a
// client and a service (their properties, contracts and buffer contents
// come from the input), and converted to the text form. A text made from a
// binary form, when it parses, converts back to the same text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "client/TxGlobal.h"
#include "platform/framework/Filer.h"
#include "service/TxServic.h"

namespace {

using namespace Tx;

class TFuzzModule : public TComponent {
 public:
  explicit TFuzzModule(TComponent* owner = nullptr) : TComponent(owner) {}
};
[[maybe_unused]] const bool kPublished =
    (PublishClass<TFuzzModule, TComponent>("TFuzzModule"), true);

std::string Convert(const std::string& input, void (*convert)(TStream*, TStream*)) {
  TMemoryStream in, out;
  in.WriteBuffer(input.data(), static_cast<std::int64_t>(input.size()));
  in.SetPosition(0);
  convert(&in, &out);
  return std::string(static_cast<const char*>(out.Memory()),
                     static_cast<std::size_t>(out.GetSize()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string form(reinterpret_cast<const char*>(data), size);
  {
    TFuzzModule module;
    auto* service = new TTxService(&module);
    service->SetName("Svc");
    TMemoryStream in;
    in.WriteBuffer(form.data(), static_cast<std::int64_t>(form.size()));
    in.SetPosition(0);
    try {
      TReader(&in).ReadRootComponent(&module);
      TMemoryStream again;
      WriteComponentToStream(&again, &module, TFormFileFormat::ffText);
    } catch (const Exception&) {
    }
  }
  std::string text;
  try {
    text = Convert(form, &ObjectBinaryToText);
  } catch (const Exception&) {
    return 0;
  }
  std::string binary;
  try {
    binary = Convert(text, &ObjectTextToBinary);
  } catch (const EParserError&) {
    return 0;  // names that are no identifiers cannot be written as text
  }
  if (Convert(binary, &ObjectBinaryToText) != text) std::abort();
  return 0;
}
