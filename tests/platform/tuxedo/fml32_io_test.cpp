// Buffers as bytes: Fwrite32 and Fread32 on streams, and the exported form
// of typed buffers made by tpexport and read by tpimport.

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 501);
const FLDID32 kLong = Fmkfldid32(FLD_LONG, 502);
const FLDID32 kChar = Fmkfldid32(FLD_CHAR, 503);
const FLDID32 kFloat = Fmkfldid32(FLD_FLOAT, 504);
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 505);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 506);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 507);

// A buffer with every basic type, two occurrences of some.
Fbfr Sample() {
  Fbfr fbfr(Falloc32(20, 400));
  short s = -7;
  long l = -1234567890123L;
  char c = 'Z';
  float f = 1.25f;
  double d = -0.0625;
  EXPECT_EQ(Fadd32(fbfr.get(), kShort, Raw(s), 0), 1);
  EXPECT_EQ(Fadd32(fbfr.get(), kLong, Raw(l), 0), 1);
  EXPECT_EQ(Fadd32(fbfr.get(), kLong, Raw(++l), 0), 1);
  EXPECT_EQ(Fadd32(fbfr.get(), kChar, Raw(c), 0), 1);
  EXPECT_EQ(Fadd32(fbfr.get(), kFloat, Raw(f), 0), 1);
  EXPECT_EQ(Fadd32(fbfr.get(), kDouble, Raw(d), 0), 1);
  EXPECT_EQ(Fadd32(fbfr.get(), kString, Text("zażółć"), 0), 1);
  EXPECT_EQ(Fadd32(fbfr.get(), kString, Text(""), 0), 1);
  EXPECT_EQ(Fadd32(fbfr.get(), kCarray, Text("\0\1\2"), 3), 1);
  return fbfr;
}

struct CloseFile {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, CloseFile>;

File FileWith(const std::string& bytes) {
  File file(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  std::rewind(file.get());
  return file;
}

std::string Written(FBFR32* fbfr) {
  File file(std::tmpfile());
  EXPECT_EQ(Fwrite32(fbfr, file.get()), 1);
  std::string bytes(static_cast<std::size_t>(std::ftell(file.get())), '\0');
  std::rewind(file.get());
  EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), file.get()), bytes.size());
  return bytes;
}

TEST(Fml32Streams, WrittenBuffersReadBackEqualOneAfterAnother) {
  Fbfr first = Sample();
  Fbfr second(Falloc32(2, 20));
  ASSERT_EQ(Fadd32(second.get(), kString, Text("next"), 0), 1);
  File file(std::tmpfile());
  ASSERT_EQ(Fwrite32(first.get(), file.get()), 1);
  ASSERT_EQ(Fwrite32(second.get(), file.get()), 1);
  std::rewind(file.get());
  Fbfr read(Falloc32(30, 600));
  ASSERT_EQ(Fadd32(read.get(), kChar, Text("x"), 0), 1);
  const long size = Fsizeof32(read.get());
  ASSERT_EQ(Fread32(read.get(), file.get()), 1);
  EXPECT_EQ(Fcmp32(read.get(), first.get()), 0) << "the old contents are gone";
  EXPECT_EQ(Fsizeof32(read.get()), size) << "the buffer keeps its size";
  ASSERT_EQ(Fread32(read.get(), file.get()), 1);
  EXPECT_EQ(Fcmp32(read.get(), second.get()), 0);
  ExpectFerror(Fread32(read.get(), file.get()) == -1, FNOTFLD, "Fread32 at the end of the stream");
  EXPECT_EQ(Fcmp32(read.get(), second.get()), 0);
}

TEST(Fml32Streams, TheByteFormIsLittleEndianWithLongsOf64Bits) {
  Fbfr fbfr(Falloc32(2, 40));
  long value = -2;
  ASSERT_EQ(Fadd32(fbfr.get(), kLong, Raw(value), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), kString, Text("ab"), 0), 1);
  const std::string expected = std::string("FM32\1\0\0\0", 8) + std::string("\2\0\0\0", 4) +  //
                               std::string("\xF6\1\0\2", 4) + std::string("\x08\0\0\0", 4) +  //
                               std::string("\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8) +           //
                               std::string("\xFA\1\0\x0A", 4) + std::string("\3\0\0\0", 4) + std::string("ab\0", 3);
  EXPECT_EQ(Written(fbfr.get()), expected);
}

TEST(Fml32Streams, ReadRefusesWhatIsNoBufferAndLeavesTheTargetAsItWas) {
  Fbfr sample = Sample();
  const std::string good = Written(sample.get());
  Fbfr target(Falloc32(30, 600));
  ASSERT_EQ(Fadd32(target.get(), kString, Text("kept"), 0), 1);
  std::string badString = Written(target.get());
  badString[badString.size() - 1] = 'X';  // "kept" without its zero byte
  std::string badLength = good;
  badLength[16] = 9;  // the short's length
  const std::pair<std::string, std::string> cases[] = {
      {"empty", ""},
      {"wrong magic", "FM33" + good.substr(4)},
      {"truncated", good.substr(0, good.size() - 1)},
      {"a string without its zero", badString},
      {"a fixed-size value of the wrong length", badLength},
      {"field number 0", std::string("FM32\1\0\0\0\1\0\0\0\0\0\0\x02\1\0\0\0", 20) + "Q"},
  };
  for (const auto& [what, bytes] : cases) {
    File file = FileWith(bytes);
    ExpectFerror(Fread32(target.get(), file.get()) == -1, FNOTFLD, what);
    EXPECT_STREQ(Fvals32(target.get(), kString, 0), "kept") << what;
    EXPECT_EQ(Fnum32(target.get()), 1) << what;
  }
  Fbfr small(Falloc32(1, 10));
  File file = FileWith(good);
  ExpectFerror(Fread32(small.get(), file.get()) == -1, FNOSPACE, "Fread32 into a small buffer");
  EXPECT_EQ(Fnum32(small.get()), 0);
  ExpectFerror(Fread32(small.get(), nullptr) == -1, FEINVAL, "Fread32 without a stream");
  File readOnly(std::fopen("/dev/null", "r"));
  ExpectFerror(Fwrite32(sample.get(), readOnly.get()) == -1, FEUNIX, "Fwrite32 to a read-only stream");
}

// ---- tpexport / tpimport ------------------------------------------------------

struct FreeTp {
  void operator()(char* p) const { tpfree(p); }
};
using Tp = std::unique_ptr<char, FreeTp>;

std::string Export(char* buffer, long ilen, long flags) {
  std::string form(8192, '\0');
  long olen = static_cast<long>(form.size());
  EXPECT_EQ(tpexport(buffer, ilen, form.data(), &olen, flags), 0) << tpstrerror(tperrno);
  form.resize(static_cast<std::size_t>(olen));
  return form;
}

TEST(AtmiExport, FmlBuffersTravelAsBytesAndAsText) {
  Fbfr sample = Sample();
  Tp fml(tpalloc(Text("FML32"), nullptr, 2048));
  ASSERT_EQ(Fcpy32(reinterpret_cast<FBFR32*>(fml.get()), sample.get()), 1);
  for (const long flags : {0L, static_cast<long>(TPEX_STRING)}) {
    const std::string form = Export(fml.get(), 0, flags);
    if (flags == TPEX_STRING) {
      EXPECT_EQ(form.back(), '\0') << "the text ends with its NUL, counted";
      EXPECT_EQ(form.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
                form.size() - 1);
    }
    // Into a STRING buffer: replaced by an FML32 one.
    char* target = tpalloc(Text("STRING"), nullptr, 10);
    long olen = -1;
    const long ilen = flags == TPEX_STRING ? 0 : static_cast<long>(form.size());
    ASSERT_EQ(tpimport(const_cast<char*>(form.data()), ilen, &target, &olen, flags), 0) << tpstrerror(tperrno);
    Tp imported(target);
    char type[9] = {};
    ASSERT_GT(tptypes(imported.get(), type, nullptr), 0);
    EXPECT_STREQ(type, "FML32");
    EXPECT_EQ(Fcmp32(reinterpret_cast<FBFR32*>(imported.get()), sample.get()), 0);
    EXPECT_EQ(olen, Fused32(reinterpret_cast<FBFR32*>(imported.get())));
  }
}

TEST(AtmiExport, StringAndByteBuffersKeepTheirTypeAndALargeEnoughTargetIsReused) {
  Tp text(tpalloc(Text("STRING"), nullptr, 600));
  std::strcpy(text.get(), "hi");
  EXPECT_EQ(Export(text.get(), 0, TPEX_STRING), std::string("VFBFWAFTVFJJTkcAAAAAAAAAAAAAAAAAAAAAAAADAAAAaGkA") + '\0');

  Tp bytes(tpalloc(Text("CARRAY"), nullptr, 10));
  std::memcpy(bytes.get(), "\0\1\2\3", 4);
  const std::string form = Export(bytes.get(), 4, 0);
  char* target = tpalloc(Text("CARRAY"), nullptr, 100);
  char* const before = target;
  long olen = 0;
  ASSERT_EQ(tpimport(const_cast<char*>(form.data()), static_cast<long>(form.size()), &target, &olen, 0), 0);
  Tp imported(target);
  EXPECT_EQ(target, before) << "same type, enough room: the buffer is kept";
  EXPECT_EQ(olen, 4);
  EXPECT_EQ(std::string(target, 4), std::string("\0\1\2\3", 4));
}

TEST(AtmiExport, BadArgumentsSmallOutputAndForeignInputAreRefused) {
  Tp text(tpalloc(Text("STRING"), nullptr, 600));
  std::strcpy(text.get(), "hello");
  char out[16];
  long olen = sizeof out;
  ExpectTperrno(tpexport(text.get(), 0, out, &olen, TPEX_STRING), TPELIMIT, "tpexport into 16 bytes");
  EXPECT_EQ(olen, 53) << "the length needed";
  olen = sizeof out;
  ExpectTperrno(tpexport(text.get(), 0, out, &olen, 4), TPEINVAL, "tpexport flags");
  ExpectTperrno(tpexport(nullptr, 0, out, &olen, 0), TPEINVAL, "tpexport of NULL");
  char notTyped[16] = {};
  ExpectTperrno(tpexport(notTyped, 0, out, &olen, 0), TPEINVAL, "tpexport of an untyped buffer");

  char* target = text.get();
  const std::string good = Export(text.get(), 0, 0);
  const std::pair<const char*, std::string> foreign[] = {
      {"not base 64", std::string("@@@@")},
      {"bad padding", std::string("QQ=A")},
      {"no export", std::string("aGVsbG8=")},
  };
  for (const auto& [what, input] : foreign) {
    ExpectTperrno(tpimport(const_cast<char*>(input.c_str()), 0, &target, nullptr, TPEX_STRING), TPEPROTO, what);
  }
  std::string truncated = good.substr(0, good.size() - 1);
  ExpectTperrno(tpimport(truncated.data(), static_cast<long>(truncated.size()), &target, nullptr, 0), TPEPROTO,
                "truncated");
  std::string wrongType = good;
  wrongType.replace(5, 6, "TPINIT");
  ExpectTperrno(tpimport(wrongType.data(), static_cast<long>(wrongType.size()), &target, nullptr, 0), TPEPROTO,
                "a type that cannot be exported");
  EXPECT_EQ(target, text.get());
  EXPECT_STREQ(target, "hello") << "the target is untouched";
  ExpectTperrno(tpimport(const_cast<char*>(good.data()), 3, &target, nullptr, 8), TPEINVAL, "tpimport flags");
  char* untyped = notTyped;
  ExpectTperrno(tpimport(const_cast<char*>(good.data()), 3, &untyped, nullptr, 0), TPEINVAL, "untyped target");
}

}  // namespace
