// tpimport over arbitrary text and bytes. A refused input must leave the
// target buffer as it was; an imported buffer must export and import back
// to the same contents.
#include <atmi.h>
#include <fml32.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

// The contents of a typed buffer as bytes, for comparison.
std::string Contents(char* buffer, long length) {
  char type[9] = {};
  if (tptypes(buffer, type, nullptr) < 0) std::abort();
  if (std::strcmp(type, "FML32") == 0) {
    long sum = Fchksum32(reinterpret_cast<FBFR32*>(buffer));
    return "FML32 " + std::to_string(sum) + " " + std::to_string(Fnum32(reinterpret_cast<FBFR32*>(buffer)));
  }
  return std::string(type) + " " + std::string(buffer, static_cast<std::size_t>(length));
}

void Import(const char* input, long ilen, long flags) {
  char* target = tpalloc(const_cast<char*>("STRING"), nullptr, 16);
  std::strcpy(target, "before");
  char* const original = target;
  long olen = -1;
  if (tpimport(const_cast<char*>(input), ilen, &target, &olen, flags) == -1) {
    Check(target == original && std::strcmp(target, "before") == 0);
    tpfree(target);
    return;
  }
  const std::string imported = Contents(target, olen);
  std::vector<char> form(static_cast<std::size_t>(olen) * 2 + 4096);
  long formLen = static_cast<long>(form.size());
  char type[9] = {};
  tptypes(target, type, nullptr);
  Check(tpexport(target, olen, form.data(), &formLen, TPEX_STRING) == 0);
  char* again = tpalloc(const_cast<char*>("CARRAY"), nullptr, 1);
  long againLen = -1;
  Check(tpimport(form.data(), 0, &again, &againLen, TPEX_STRING) == 0);
  Check(Contents(again, againLen) == imported);
  tpfree(again);
  tpfree(target);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
  Import(text.c_str(), 0, TPEX_STRING);
  Import(text.data(), static_cast<long>(text.size()), 0);
  return 0;
}
