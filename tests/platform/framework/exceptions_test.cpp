#include "platform/framework/Exceptions.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/framework/framework_test_support.h"

using namespace Tx;
using FrameworkTest::Raised;

TEST(ExceptionTexts, DefaultsWhatAndTheOleFields) {
  EXPECT_STREQ(ERangeError().what(), "Range check error");
  EXPECT_STREQ(Exception("Błąd"_ansi).what(), "B\263\271d");  // the Windows-1250 bytes
  EXPECT_EQ(Raised([] { Abort(); }), "EAbort: Operation aborted");
  const EOleException e("Serwer nie odpowiada"_ansi, 0x80004005L, "TuxSession", "help.hlp", 4);
  EXPECT_EQ(e.ErrorCode, 0x80004005L);
  EXPECT_EQ(e.Message + "|" + e.Source + "|" + e.HelpFile,
            "Serwer nie odpowiada|TuxSession|help.hlp"_ansi);
  EXPECT_EQ(e.HelpContext, 4);
}

TEST(ExceptionCreateFmt, FormatsThePatternWithAListOrAnArray) {
  const Exception e("Zły numer rekordu %d"_ansi, {17});
  EXPECT_EQ(e.Message, "Zły numer rekordu 17"_ansi);
  EXPECT_EQ(e.HelpContext, 0);  // a one-element list is an argument, not a help context
  const AnsiString name = "ROUTER";
  const TVarRec args[] = {TVarRec(name), TVarRec(42)};
  EXPECT_EQ(EReadError("%s: %d", args, 1).Message, "ROUTER: 42");
  EXPECT_EQ(Raised([&] { EReadError("%s: %d", args, 0); }),  // high limits what is read
            "EConvertError: No argument for format '%s: %d'");
  EXPECT_EQ(EPropertyError("text", 3).HelpContext, 3);
  EXPECT_EQ(Raised([] { throw Exception("%d", {"not a number"}); }),
            "EConvertError: Format '%d' invalid or incompatible with argument");
}
