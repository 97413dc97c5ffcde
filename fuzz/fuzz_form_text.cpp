// Arbitrary bytes as a text form: parsed into a binary form, which must then
// convert back to text and read as a form without crashing, and read into a
// data module holding a client and a service.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream text;
  text.WriteBuffer(data, static_cast<std::int64_t>(size));
  text.SetPosition(0);
  TMemoryStream binary;
  try {
    ObjectTextToBinary(&text, &binary);
  } catch (const EParserError&) {
    return 0;
  }
  // What the parser makes is a well-formed binary form.
  binary.SetPosition(0);
  TMemoryStream back;
  try {
    ObjectBinaryToText(&binary, &back);
  } catch (const Exception&) {
    std::abort();
  }
  TFuzzModule module;
  auto* service = new TTxService(&module);
  service->SetName("Svc");
  binary.SetPosition(0);
  try {
    TReader(&binary).ReadRootComponent(&module);
  } catch (const Exception&) {
  }
  return 0;
}
