// Arbitrary bytes as the raw "FBFRdata" image of a buffer. An image is
// either refused, leaving the buffer as it was, or gives a buffer that FML32
// reads whole and that saves in the field-by-field record.
#include <fml32.h>

#include <cstdint>
#include <cstdlib>

#include "buffer/TxFbfr.h"
#include "platform/framework/Streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace Tx;
  TTxFbfr buffer(nullptr, 1024);
  long marker = 7;
  Fadd32(buffer.GetFbfrP(), Fmkfldid32(FLD_LONG, 1), reinterpret_cast<char*>(&marker), 0);
  TMemoryStream in;
  in.WriteBuffer(data, static_cast<std::int64_t>(size));
  in.SetPosition(0);
  try {
    buffer.ReadFBFRdata(&in);
  } catch (const EReadError&) {
    if (Fvall32(buffer.GetFbfrP(), Fmkfldid32(FLD_LONG, 1), 0) != 7) std::abort();
    return 0;
  }
  if (Fielded32(buffer.GetFbfrP()) != 1) std::abort();
  TMemoryStream out;
  try {
    buffer.WriteFBFRContents(&out);
  } catch (const Exception&) {
    std::abort();
  }
  return 0;
}
