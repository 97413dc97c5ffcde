// txlib demo: builds an FML32 buffer, prints it in the middleware's text
// format and reads the text back into a second buffer.
#include <atmi.h>
#include <fml32.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct TpFree {
  void operator()(FBFR32* fbfr) const { tpfree(reinterpret_cast<char*>(fbfr)); }
};
using FbfrPtr = std::unique_ptr<FBFR32, TpFree>;

FbfrPtr AllocateFml32(long size) {
  return FbfrPtr(reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, size)));
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "demo: %s failed: %s\n", what, Fstrerror32(Ferror32));
  std::exit(1);
}

FLDID32 FieldId(const char* name) {
  const FLDID32 id = Fldid32(const_cast<char*>(name));
  if (id == BADFLDID) Fail(name);
  return id;
}

}  // namespace

int main() {
  // The demo's field table sits beside the sources unless the environment names one.
  if (std::getenv("FIELDTBLS32") == nullptr) {
    setenv("FLDTBLDIR32", TXLIB_DEMO_FIELD_TABLES, 1);
    setenv("FIELDTBLS32", "demo.fml", 1);
  }

  FbfrPtr request = AllocateFml32(4096);
  if (!request) Fail("tpalloc");

  const long ids[] = {1001, 1002};
  const char* names[] = {"Kowalski Jan", "Nowak\tAnna\\B"};
  const double balances[] = {1250.5, -3.25};
  for (int row = 0; row < 2; ++row) {
    if (Fadd32(request.get(), FieldId("CUST_ID"), (char*)&ids[row], 0) == -1) Fail("Fadd32");
    if (Fadd32(request.get(), FieldId("CUST_NAME"), (char*)names[row], 0) == -1) Fail("Fadd32");
    if (Fadd32(request.get(), FieldId("BALANCE"), (char*)&balances[row], 0) == -1) Fail("Fadd32");
  }
  char segment = 'A';
  if (Fadd32(request.get(), FieldId("SEGMENT"), &segment, 0) == -1) Fail("Fadd32");
  const char note[] = {'x', 0, '\x7f', 'y'};
  if (Fadd32(request.get(), FieldId("NOTE"), (char*)note, sizeof note) == -1) Fail("Fadd32");

  std::printf("== The buffer, as Fprint32 writes it (%ld of %ld bytes used)\n",
              Fused32(request.get()), Fsizeof32(request.get()));
  if (Fprint32(request.get()) == -1) Fail("Fprint32");

  // Round trip through the text format.
  char* text = nullptr;
  size_t textLength = 0;
  FILE* out = open_memstream(&text, &textLength);
  if (out == nullptr || Ffprint32(request.get(), out) == -1) Fail("Ffprint32");
  std::fclose(out);
  FILE* in = fmemopen(text, textLength, "r");
  FbfrPtr copy = AllocateFml32(4096);
  if (in == nullptr || !copy || Fextread32(copy.get(), in) == -1) Fail("Fextread32");
  std::fclose(in);
  std::free(text);

  std::printf("== Read back with Fextread32: %d occurrences, CUST_NAME[1] = \"%s\"\n",
              Fnum32(copy.get()), Fvals32(copy.get(), FieldId("CUST_NAME"), 1));
  return 0;
}
