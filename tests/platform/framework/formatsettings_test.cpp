#include "platform/framework/FormatSettings.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "platform/framework/Format.h"
#include "platform/framework/framework_test_support.h"

using namespace Tx;

namespace {

// Clears the locale variables for one test; the variables and the
// process's settings are put back afterwards.
class FormatSettingsEnvironment : public FrameworkTest::NeutralSettingsTest {
 protected:
  // The decimal separator and the first month name the variables give.
  std::string Read(std::initializer_list<std::pair<const char*, const char*>> variables) {
    for (const auto& [name, value] : variables) FEnv.Set(name, value);
    ResetFormatSettingsFromEnvironment();
    return std::string(1, FormatSettings().DecimalSeparator) + " " +
           AnsiToUtf8(FormatSettings().LongMonthNames[0]);
  }

  FrameworkTest::ScopedEnvironment FEnv{
      {"LC_ALL", nullptr}, {"LC_NUMERIC", nullptr}, {"LC_TIME", nullptr}, {"LANG", nullptr}};
};

}  // namespace

TEST_F(FormatSettingsEnvironment, PolishLangGivesPolishConventionsInAnySpelling) {
  EXPECT_EQ(Read({{"LANG", "pl_PL.UTF-8"}}), ", styczeń");
  const TFormatSettings& s = FormatSettings();
  EXPECT_EQ(s.ThousandSeparator, '\xA0');
  EXPECT_EQ(s.LongDayNames[1] + " " + s.ShortDayNames[3] + " " + s.LongMonthNames[9],
            "poniedziałek Śr październik"_ansi);
  EXPECT_EQ(Format("%m", {-1234.0}), AnsiString("-1\xA0") + "234,00 zł"_ansi);  // at once
  for (const char* name : {"pl", "PL_pl", "pl-PL", "pl_PL.ISO-8859-2", "pl_PL@euro", "pl.UTF-8"})
    EXPECT_TRUE(IsPolishLocaleName(name)) << name;
  for (const char* name : {"", "C", "POSIX", "plx", "p", "de_PL", "C.UTF-8"})
    EXPECT_FALSE(IsPolishLocaleName(name)) << name;
  EXPECT_FALSE(IsPolishLocaleName(nullptr));
}

TEST_F(FormatSettingsEnvironment, CategoriesAndTheirPrecedence) {
  FormatSettings().DecimalSeparator = '#';  // overwritten by the next reading
  EXPECT_EQ(Read({}), ". January");
  EXPECT_EQ(Read({{"LANG", "en_US.UTF-8"}}), ". January");
  EXPECT_EQ(Read({{"LANG", "pl_PL"}, {"LC_ALL", ""}}), ", styczeń");  // empty counts as unset
  EXPECT_EQ(Read({{"LC_ALL", "en_GB.UTF-8"}}), ". January");          // LC_ALL over LANG
  EXPECT_EQ(Read({{"LANG", "en_US"}, {"LC_ALL", ""}, {"LC_NUMERIC", "pl_PL"}}), ", January");
  EXPECT_EQ(Read({{"LC_NUMERIC", nullptr}, {"LC_TIME", "pl_PL"}}), ". styczeń");
}
