// The session server's environment file, digest and client-name rule.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/session/SessionText.h"

namespace Tx::SessionText {
namespace {

std::vector<std::string> NamesAndValues(const TEnvFile& file) {
  std::vector<std::string> result;
  for (const TEnvAssignment& a : file.Assignments)
    result.push_back(a.Name.str() + "=" + a.Value.str());
  return result;
}

const char* const kFile =
    "# common part\r\n"
    "TUXDIR = /opt/tux \r\n"
    "EMPTY=\n"
    "\n"
    "[Test]\n"
    "WSNADDR=//test:4000\n"
    "  ; a comment in a section\n"
    "[ production ]\n"
    "WSNADDR=//prod:4000\n"
    "FIELDTBLS32=app.fml,login.fml\n";

TEST(EnvFile, CommonLinesAlwaysAndOnlyTheChosenSection) {
  EXPECT_EQ(NamesAndValues(ParseEnvFile(kFile, "")),
            (std::vector<std::string>{"TUXDIR=/opt/tux", "EMPTY="}));
  EXPECT_EQ(NamesAndValues(ParseEnvFile(kFile, "test")),
            (std::vector<std::string>{"TUXDIR=/opt/tux", "EMPTY=", "WSNADDR=//test:4000"}));
  EXPECT_EQ(NamesAndValues(ParseEnvFile(kFile, "PRODUCTION")),
            (std::vector<std::string>{"TUXDIR=/opt/tux", "EMPTY=", "WSNADDR=//prod:4000",
                                      "FIELDTBLS32=app.fml,login.fml"}));
  EXPECT_EQ(NamesAndValues(ParseEnvFile(kFile, "other")).size(), 2U);
  EXPECT_TRUE(ParseEnvFile(kFile, "test").BadLines.empty());
}

TEST(EnvFile, BadLinesAreReportedAndSkippedWithoutLosingTheRest) {
  const TEnvFile file = ParseEnvFile("A=1\nno assignment\n1X=2\n=3\n[open\nB=a=b\n", "");
  EXPECT_EQ(file.BadLines, (std::vector<int>{2, 3, 4, 5}));
  EXPECT_EQ(NamesAndValues(file), (std::vector<std::string>{"A=1", "B=a=b"}));
  EXPECT_EQ(file.Assignments[1].Line, 6);
}

TEST(EnvFile, ReferencesExpandAgainstTheEnvironmentAsLinesApply) {
  ::setenv("TXSES_ROOT", "/srv", 1);
  ::unsetenv("TXSES_UNSET");
  EXPECT_EQ(ExpandEnvReferences("${TXSES_ROOT}/a:${TXSES_UNSET}:$HOME:${bad name}:$"),
            AnsiString("/srv/a::$HOME:${bad name}:$"));

  const TEnvFile file =
      ParseEnvFile("TXSES_DIR=${TXSES_ROOT}/app\nTXSES_TBL=${TXSES_DIR}/tables\n", "");
  EXPECT_EQ(ApplyEnvFile(file), 2);
  EXPECT_STREQ(std::getenv("TXSES_DIR"), "/srv/app");
  EXPECT_STREQ(std::getenv("TXSES_TBL"), "/srv/app/tables");
}

TEST(Hash, Sha256OfKnownTexts) {
  EXPECT_EQ(Sha256Hex(""),
            AnsiString("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
  EXPECT_EQ(Sha256Hex("abc"),
            AnsiString("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
  // 56 bytes: the length no longer fits the first padding block.
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            AnsiString("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"));
  // 1000 bytes: many whole blocks and a tail.
  EXPECT_EQ(Sha256Hex(AnsiString::StringOfChar('a', 1000)),
            AnsiString("41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"));
}

TEST(ClientName, FirstBrokenRuleIsReported) {
  EXPECT_EQ(CheckClientName("Kasa_01.pl-2"), cncValid);
  EXPECT_EQ(CheckClientName(AnsiString::StringOfChar('a', 30)), cncValid);
  EXPECT_EQ(CheckClientName(""), cncEmpty);
  EXPECT_EQ(CheckClientName(AnsiString::StringOfChar('a', 31)), cncTooLong);
  EXPECT_EQ(CheckClientName("1kasa"), cncBadFirst);
  EXPECT_EQ(CheckClientName("_kasa"), cncBadFirst);
  EXPECT_EQ(CheckClientName("kasa 1"), cncBadCharacter);
  EXPECT_EQ(CheckClientName(AnsiString("ka\xB3"
                                       "a")),
            cncBadCharacter);  // a Polish letter
}

}  // namespace
}  // namespace Tx::SessionText
