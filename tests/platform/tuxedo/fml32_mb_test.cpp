// Multibyte text: Fmbpack32 and Fmbunpack32, and packed values stored in
// FLD_MBSTRING fields, printed, read back and compared.
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

struct FreeFbfr {
  void operator()(FBFR32* fbfr) const { Ffree32(fbfr); }
};
using Fbfr = std::unique_ptr<FBFR32, FreeFbfr>;

char* Text(const char* text) { return const_cast<char*>(text); }

const std::string kSjis("\x93\xfa\x96\x7b\x00\x8c\xea", 7);  // bytes with a zero inside

void ExpectFerror(int result, int error, const std::string& what) {
  EXPECT_EQ(result, -1) << what;
  EXPECT_EQ(Ferror32, error) << what;
  Ferror32 = 0;
}

TEST(Fmbpack32, PacksNameAndBytesAndUnpacksThemAgain) {
  char packed[64];
  FLDLEN32 size = sizeof packed;
  ASSERT_EQ(Fmbpack32(Text("SJIS"), Text(kSjis.data()), static_cast<FLDLEN32>(kSjis.size()), packed, &size, 0), 0);
  EXPECT_EQ(std::string(packed, size), std::string("SJIS\0", 5) + kSjis);

  char enc[80] = "?";
  char out[16];
  FLDLEN32 outlen = sizeof out;
  ASSERT_EQ(Fmbunpack32(packed, size, enc, out, &outlen, 0), 0);
  EXPECT_STREQ(enc, "SJIS");
  EXPECT_EQ(std::string(out, outlen), kSjis);

  // FBUFENC: the text is in the buffer's encoding, no name is kept.
  size = sizeof packed;
  ASSERT_EQ(Fmbpack32(nullptr, Text("abc"), 3, packed, &size, FBUFENC), 0);
  EXPECT_EQ(std::string(packed, size), std::string("\0abc", 4));
  outlen = sizeof out;
  ASSERT_EQ(Fmbunpack32(packed, size, enc, out, &outlen, 0), 0);
  EXPECT_STREQ(enc, "");
  EXPECT_EQ(std::string(out, outlen), "abc");

  // An empty text packs to the name alone.
  size = sizeof packed;
  ASSERT_EQ(Fmbpack32(Text("UTF-8"), nullptr, 0, packed, &size, 0), 0);
  EXPECT_EQ(size, 6U);
}

TEST(Fmbpack32, RefusesBadArgumentsAndReportsTheSizeNeeded) {
  char packed[8];
  FLDLEN32 size = sizeof packed;
  ExpectFerror(Fmbpack32(Text("EUC-JP"), Text("abc"), 3, packed, &size, 0), FNOSPACE, "10 bytes into 8");
  EXPECT_EQ(size, 10U);
  size = sizeof packed;
  ExpectFerror(Fmbpack32(nullptr, Text("a"), 1, packed, &size, 0), FEINVAL, "no name");
  ExpectFerror(Fmbpack32(Text("bad name"), Text("a"), 1, packed, &size, 0), FEINVAL, "blank in the name");
  ExpectFerror(Fmbpack32(Text(std::string(65, 'A').c_str()), Text("a"), 1, packed, &size, 0), FEINVAL,
               "name too long");
  ExpectFerror(Fmbpack32(Text("SJIS"), nullptr, 1, packed, &size, 0), FEINVAL, "no text");
  ExpectFerror(Fmbpack32(Text("SJIS"), Text("a"), 1, packed, &size, 4), FEINVAL, "unknown flag");

  char out[2];
  FLDLEN32 outlen = sizeof out;
  ExpectFerror(Fmbunpack32(Text("SJIS\0abc"), 8, nullptr, out, &outlen, 0), FNOSPACE, "3 bytes into 2");
  EXPECT_EQ(outlen, 3U);
  outlen = sizeof out;
  ExpectFerror(Fmbunpack32(Text("SJIS"), 4, nullptr, out, &outlen, 0), FEINVAL, "no zero byte: not packed");
  ExpectFerror(Fmbunpack32(Text("S J\0a"), 5, nullptr, out, &outlen, 0), FEINVAL, "not a name");
}

TEST(Fmbpack32, PackedValuesLiveInMbstringFields) {
  const FLDID32 field = Fmkfldid32(FLD_MBSTRING, 700);
  char packed[64];
  FLDLEN32 size = sizeof packed;
  ASSERT_EQ(Fmbpack32(Text("SJIS"), Text(kSjis.data()), static_cast<FLDLEN32>(kSjis.size()), packed, &size, 0), 0);
  Fbfr fbfr(Falloc32(4, 200));
  ASSERT_EQ(Fadd32(fbfr.get(), field, packed, size), 1);

  char got[64];
  FLDLEN32 gotlen = sizeof got;
  ASSERT_EQ(Fget32(fbfr.get(), field, 0, got, &gotlen), 1);
  EXPECT_EQ(std::string(got, gotlen), std::string(packed, size));
  EXPECT_EQ(Ffindocc32(fbfr.get(), field, packed, size), 0);

  // Printed as bytes and read back unchanged.
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(Ffprint32(fbfr.get(), file), 1);
  std::rewind(file);
  char line[128] = {};
  ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
  EXPECT_STREQ(line, "((FLDID32)402653884)\tSJIS\\00\\93\\fa\\96{\\00\\8c\\ea\n");
  std::rewind(file);
  Fbfr read(Falloc32(4, 200));
  ASSERT_EQ(Fextread32(read.get(), file), 1);
  std::fclose(file);
  EXPECT_EQ(Fcmp32(read.get(), fbfr.get()), 0);

  // Values of other encodings compare byte-wise.
  size = sizeof packed;
  ASSERT_EQ(Fmbpack32(Text("EUC"), Text(kSjis.data()), static_cast<FLDLEN32>(kSjis.size()), packed, &size, 0), 0);
  ASSERT_EQ(Fchg32(read.get(), field, 0, packed, size), 1);
  EXPECT_EQ(Fcmp32(read.get(), fbfr.get()), -1) << "\"EUC\" < \"SJIS\"";
}

}  // namespace
