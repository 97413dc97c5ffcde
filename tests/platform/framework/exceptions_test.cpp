#include "platform/framework/Exceptions.h"

#include <gtest/gtest.h>

#include <exception>
#include <string>

using namespace Tx;

TEST(ExceptionTexts, StandardDefaults) {
  EXPECT_EQ(ERangeError().Message, "Range check error");
  EXPECT_EQ(EAbort().Message, "Operation aborted");
  EXPECT_EQ(std::string(ERangeError().what()), "Range check error");
}

TEST(ExceptionTexts, AbortRaisesTheSilentException) {
  try {
    Abort();
    FAIL() << "Abort returned";
  } catch (const EAbort& e) {
    EXPECT_EQ(e.Message, "Operation aborted");
  }
}

TEST(ExceptionTexts, WhatGivesTheWindows1250Bytes) {
  const Exception e("Błąd"_ansi);
  EXPECT_STREQ(e.what(), "B\xB3\xB9" "d");
}

TEST(ExceptionCreateFmt, FormatsPatternWithArgumentList) {
  const Exception e("Zły numer rekordu %d"_ansi, {17});
  EXPECT_EQ(e.Message, "Zły numer rekordu 17"_ansi);
  EXPECT_EQ(e.HelpContext, 0);  // a one-element list is an argument, not a help context
  const EDatabaseError d("Field \"%s\" is read-only", {"NAZWA"});
  EXPECT_EQ(d.Message, "Field \"NAZWA\" is read-only");
  const ERangeError r("Index %d out of %d", {5, 3});
  EXPECT_EQ(r.Message, "Index 5 out of 3");
}

TEST(ExceptionCreateFmt, FormatsPatternWithArgumentArray) {
  const AnsiString name = "ROUTER";
  const TVarRec args[] = {TVarRec(name), TVarRec(42)};
  const EReadError e("%s: %d", args, 1);
  EXPECT_EQ(e.Message, "ROUTER: 42");
}

TEST(ExceptionCreateFmt, BadPatternRaisesTheConvertError) {
  try {
    throw Exception("%d", {"not a number"});
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "Format '%d' invalid or incompatible with argument");
  } catch (...) {
    FAIL() << "expected the EConvertError of Format";
  }
}

TEST(ExceptionCreateFmt, HelpContextIsASecondIntArgument) {
  const Exception e("text", 7);
  EXPECT_EQ(e.Message, "text");
  EXPECT_EQ(e.HelpContext, 7);
  const EPropertyError p("text", 3);
  EXPECT_EQ(p.HelpContext, 3);
}

TEST(ExceptionCopying, CopyKeepsMessageHelpContextAndOwnFields) {
  const EOleException original("Serwer nie odpowiada"_ansi, -2147467259L, "TuxSession", "help.hlp", 12);
  const EOleException copy(original);  // NOLINT(performance-unnecessary-copy-initialization)
  EXPECT_EQ(copy.Message, "Serwer nie odpowiada"_ansi);
  EXPECT_EQ(copy.HelpContext, 12);
  EXPECT_EQ(copy.ErrorCode, -2147467259L);
  EXPECT_EQ(copy.Source, "TuxSession");
  EXPECT_EQ(copy.HelpFile, "help.hlp");

  EOleSysError assigned("other", 1);
  assigned = original;  // slicing assignment keeps the base part
  EXPECT_EQ(assigned.Message, original.Message);
  EXPECT_EQ(assigned.ErrorCode, original.ErrorCode);
}

TEST(ExceptionCopying, RethrowThroughBaseReferenceKeepsTheDerivedObject) {
  try {
    try {
      throw EOleSysError("Błąd COM"_ansi, 0x80004005L, 4);
    } catch (Exception& e) {
      e.Message += " (ponownie)"_ansi;  // handlers may amend the message
      throw;
    }
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.Message, "Błąd COM (ponownie)"_ansi);
    EXPECT_EQ(e.ErrorCode, 0x80004005L);
    EXPECT_EQ(e.HelpContext, 4);
  }
}

TEST(ExceptionCopying, ExceptionPtrCarriesTheWholeObject) {
  std::exception_ptr stored;
  try {
    throw EOleException("x", 5, "src", "file", 9);
  } catch (...) {
    stored = std::current_exception();
  }
  try {
    std::rethrow_exception(stored);
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode, 5);
    EXPECT_EQ(dynamic_cast<const EOleException&>(e).Source, "src");
  }
}

TEST(ExceptionHierarchy, DescendantsAreCaughtAsTheirBases) {
  EXPECT_THROW(throw EReadError("r"), EFilerError);
  EXPECT_THROW(throw EReadError("r"), EStreamError);
  EXPECT_THROW(throw EFOpenError("f"), EStreamError);
  EXPECT_THROW(throw EVariantTypeCastError("v"), EVariantError);
  EXPECT_THROW(throw EOleException("o", 1, "", ""), EOleError);
  EXPECT_THROW(throw EConvertError("c"), Exception);
  EXPECT_THROW(throw EDatabaseError("d"), std::exception);
  EXPECT_THROW(throw EAbort(), Exception);
}
