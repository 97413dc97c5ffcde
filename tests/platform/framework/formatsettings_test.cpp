#include "platform/framework/FormatSettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "platform/framework/Format.h"

using namespace Tx;

namespace {

// Sets the locale variables for one test and puts back what was there.
class LocaleEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      FSaved[name] = value ? std::optional<std::string>(value) : std::nullopt;
      unsetenv(name);
    }
  }
  void TearDown() override {
    for (const auto& [name, value] : FSaved) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
    ResetFormatSettingsFromEnvironment();
  }

  static void Set(const char* name, const char* value) { setenv(name, value, 1); }

 private:
  static constexpr const char* kNames[] = {"LC_ALL", "LC_NUMERIC", "LC_TIME", "LANG"};
  std::map<std::string, std::optional<std::string>> FSaved;
};

void ExpectNeutral(const TFormatSettings& s) {
  const TFormatSettings neutral;
  EXPECT_EQ(s.DecimalSeparator, neutral.DecimalSeparator);
  EXPECT_EQ(s.ThousandSeparator, neutral.ThousandSeparator);
  EXPECT_EQ(s.ShortDateFormat, neutral.ShortDateFormat);
  EXPECT_EQ(s.LongMonthNames[0], "January");
  EXPECT_EQ(s.CurrencyString, neutral.CurrencyString);
}

using FormatSettingsEnvironment = LocaleEnvironment;

}  // namespace

TEST_F(FormatSettingsEnvironment, PolishLangGivesPolishConventions) {
  Set("LANG", "pl_PL.UTF-8");
  ResetFormatSettingsFromEnvironment();
  const TFormatSettings& s = FormatSettings();
  EXPECT_EQ(s.DecimalSeparator, ',');
  EXPECT_EQ(s.ThousandSeparator, '\xA0');
  EXPECT_EQ(s.DateSeparator, '-');
  EXPECT_EQ(s.ShortDateFormat, "yyyy-mm-dd");
  EXPECT_EQ(s.LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(s.CurrencyString, "zł"_ansi);
  EXPECT_EQ(s.LongMonthNames[0], "styczeń"_ansi);
  EXPECT_EQ(s.LongMonthNames[9], "październik"_ansi);
  EXPECT_EQ(s.LongDayNames[1], "poniedziałek"_ansi);
  EXPECT_EQ(s.ShortDayNames[3], "Śr"_ansi);
  // Formatting follows at once.
  EXPECT_EQ(FloatToStr(2.5), "2,5");
  EXPECT_EQ(Format("%.1n", {1234.5}), AnsiString("1\xA0") + "234,5");
  EXPECT_EQ(Format("%m", {-3.0}), "-3,00 zł"_ansi);
}

TEST_F(FormatSettingsEnvironment, EveryPolishSpellingIsRecognised) {
  for (const char* name : {"pl", "pl_PL", "PL_pl", "pl-PL", "pl_PL.ISO-8859-2", "pl_PL@euro", "pl.UTF-8"}) {
    EXPECT_TRUE(IsPolishLocaleName(name)) << name;
  }
  for (const char* name : {"", "C", "POSIX", "en_US.UTF-8", "plx", "p", "de_PL", "C.UTF-8"}) {
    EXPECT_FALSE(IsPolishLocaleName(name)) << name;
  }
  EXPECT_FALSE(IsPolishLocaleName(nullptr));
}

TEST_F(FormatSettingsEnvironment, OtherOrNoLocaleGivesNeutralDefaults) {
  ResetFormatSettingsFromEnvironment();
  ExpectNeutral(FormatSettings());
  Set("LANG", "en_US.UTF-8");
  ResetFormatSettingsFromEnvironment();
  ExpectNeutral(FormatSettings());
  Set("LANG", "C");
  ResetFormatSettingsFromEnvironment();
  ExpectNeutral(FormatSettings());
}

TEST_F(FormatSettingsEnvironment, LcAllOverridesTheOthers) {
  Set("LANG", "pl_PL.UTF-8");
  Set("LC_ALL", "en_GB.UTF-8");
  ResetFormatSettingsFromEnvironment();
  ExpectNeutral(FormatSettings());
  Set("LC_ALL", "pl_PL");
  Set("LANG", "en_GB");
  ResetFormatSettingsFromEnvironment();
  EXPECT_EQ(FormatSettings().DecimalSeparator, ',');
  EXPECT_EQ(FormatSettings().LongMonthNames[0], "styczeń"_ansi);
}

TEST_F(FormatSettingsEnvironment, NumericAndTimeCategoriesAreSeparate) {
  Set("LANG", "en_US");
  Set("LC_NUMERIC", "pl_PL");
  ResetFormatSettingsFromEnvironment();
  EXPECT_EQ(FormatSettings().DecimalSeparator, ',');
  EXPECT_EQ(FormatSettings().LongMonthNames[0], "January");

  unsetenv("LC_NUMERIC");
  Set("LC_TIME", "pl_PL");
  ResetFormatSettingsFromEnvironment();
  EXPECT_EQ(FormatSettings().DecimalSeparator, '.');
  EXPECT_EQ(FormatSettings().LongMonthNames[0], "styczeń"_ansi);
}

TEST_F(FormatSettingsEnvironment, EmptyVariableCountsAsUnset) {
  Set("LC_ALL", "");
  Set("LANG", "pl_PL");
  ResetFormatSettingsFromEnvironment();
  EXPECT_EQ(FormatSettings().DecimalSeparator, ',');
}

TEST_F(FormatSettingsEnvironment, ResetOverwritesHandAssignedFields) {
  FormatSettings().DecimalSeparator = '#';
  ResetFormatSettingsFromEnvironment();
  EXPECT_EQ(FormatSettings().DecimalSeparator, '.');
  // The reference stays the same object.
  EXPECT_EQ(&FormatSettings(), &FormatSettings());
}
