// Arbitrary bytes as the "FBFRContents" record of a buffer. A record that
// reads is written again, and that record reads back to the same record.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "buffer/TxFbfr.h"
#include "platform/framework/Streams.h"

namespace {

using namespace Tx;

std::string Written(TTxFbfr& buffer) {
  TMemoryStream out;
  buffer.WriteFBFRContents(&out);
  return std::string(static_cast<const char*>(out.Memory()),
                     static_cast<std::size_t>(out.GetSize()));
}

void Read(TTxFbfr& buffer, const void* data, std::size_t size) {
  TMemoryStream in;
  in.WriteBuffer(data, static_cast<std::int64_t>(size));
  in.SetPosition(0);
  buffer.ReadFBFRContents(&in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TTxFbfr buffer(nullptr, 1024);
  try {
    Read(buffer, data, size);
  } catch (const Exception&) {
    if (Fnum32(buffer.GetFbfrP()) != 0) std::abort();  // a refused record changes nothing
    return 0;
  }
  const std::string first = Written(buffer);
  TTxFbfr copy(nullptr, 1024);
  Read(copy, first.data(), first.size());
  if (Written(copy) != first) std::abort();
  return 0;
}
