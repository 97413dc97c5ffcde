// Fboolco32 over arbitrary expression text; what compiles is evaluated
// against a fixed buffer (Fboolev32, Ffloatev32) and printed (Fboolpr32),
// and the printed form must compile to a tree that evaluates the same.
#include <fml32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

constexpr const char* kTable =
    "*base 100\n"
    "NAME 1 string\nCOUNT 2 short\nAMOUNT 3 long\nKIND 4 char\n"
    "RATE 5 float\nPRICE 6 double\nBYTES 7 carray\n";

FBFR32* Sample() {
  static FBFR32* sample = [] {
    FBFR32* fbfr = Falloc32(20, 400);
    long amount = 250;
    double price = 2.5;
    for (const char* name : {"John", "Joan"}) Fadd32(fbfr, Fldid32(const_cast<char*>("NAME")), const_cast<char*>(name), 0);
    Fadd32(fbfr, Fldid32(const_cast<char*>("AMOUNT")), reinterpret_cast<char*>(&amount), 0);
    Fadd32(fbfr, Fldid32(const_cast<char*>("PRICE")), reinterpret_cast<char*>(&price), 0);
    Fadd32(fbfr, Fldid32(const_cast<char*>("BYTES")), const_cast<char*>("a\0b"), 3);
    return fbfr;
  }();
  return sample;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char path[] = "/tmp/fuzz_fboolco_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 0;
  const std::string table = kTable;
  if (write(fd, table.data(), table.size()) != static_cast<ssize_t>(table.size())) std::abort();
  close(fd);
  setenv("FLDTBLDIR32", "/tmp", 1);
  setenv("FIELDTBLS32", path + 5, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string expression(reinterpret_cast<const char*>(data), size);
  char* tree = Fboolco32(const_cast<char*>(expression.c_str()));
  if (tree == nullptr) return 0;
  const int truth = Fboolev32(Sample(), tree);
  const double value = Ffloatev32(Sample(), tree);
  char* printed = nullptr;
  std::size_t printedSize = 0;
  FILE* out = open_memstream(&printed, &printedSize);
  Fboolpr32(tree, out);
  std::fclose(out);
  // What was printed reads back as the same expression.
  printed[printedSize - 1] = '\0';  // the newline
  char* again = Fboolco32(printed);
  if (again == nullptr) std::abort();
  if (Fboolev32(Sample(), again) != truth) std::abort();
  const double valueAgain = Ffloatev32(Sample(), again);
  if (!(valueAgain == value || (value != value && valueAgain != valueAgain))) std::abort();
  std::free(again);
  std::free(printed);
  std::free(tree);
  return 0;
}
