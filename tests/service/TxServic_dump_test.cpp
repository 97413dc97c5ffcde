// The diagnostic dump: where the file goes, the records it holds byte for
// byte, the size limits, and failures that stay inside the dump.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/framework/DateTime.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/FormatSettings.h"
#include "platform/framework/HostPath.h"
#include "service/TxServic.h"

namespace Tx {
namespace {

namespace fs = std::filesystem;

// Fields of tests/data/dump/dump.tbl.
const FLDID32 AMOUNT = Fmkfldid32(FLD_LONG, 101);
const FLDID32 PHOTO = Fmkfldid32(FLD_CARRAY, 102);
const FLDID32 COUNT = Fmkfldid32(FLD_SHORT, 103);
const FLDID32 KIND = Fmkfldid32(FLD_CHAR, 104);
const FLDID32 RATE = Fmkfldid32(FLD_FLOAT, 105);
const FLDID32 PRICE = Fmkfldid32(FLD_DOUBLE, 106);
const FLDID32 NAME = Fmkfldid32(FLD_STRING, 107);
// Fields the table does not know.
const FLDID32 NOTE = Fmkfldid32(FLD_STRING, 500);
const FLDID32 CODE = Fmkfldid32(FLD_LONG, 501);

std::string DataDir() {
  const char* data = std::getenv("TXLIB_TESTDATA");
  return std::string(data != nullptr ? data : "tests/data") + "/dump";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <class T>
void Add(TTxFbfr& b, FLDID32 id, T value) {
  ASSERT_NE(Fadd32(b.GetFbfrP(), id, reinterpret_cast<char*>(&value), 0), -1);
}
void AddText(TTxFbfr& b, FLDID32 id, const AnsiString& text) {
  ASSERT_NE(Fadd32(b.GetFbfrP(), id, const_cast<char*>(text.c_str()), 0), -1);
}
void AddBytes(TTxFbfr& b, FLDID32 id, const std::string& bytes) {
  ASSERT_NE(Fadd32(b.GetFbfrP(), id, const_cast<char*>(bytes.data()),
                   static_cast<FLDLEN32>(bytes.size())),
            -1);
}

// Each test dumps into a directory of its own, with the field tables of the
// dump tests and a date-time text that does not change: the header shows
// DateTimeToStr, so the short date and long time formats decide it.
class Dump : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    FDir = fs::temp_directory_path() /
           ("txdump_" + std::to_string(getpid()) + "_" + info->name());
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    setenv("QUORDEBUGDIR", FDir.c_str(), 1);
    setenv("FLDTBLDIR32", DataDir().c_str(), 1);
    setenv("FIELDTBLS32", "dump.tbl", 1);
    Fidnm_unload32();
    FSavedSettings = FormatSettings();
    FormatSettings().ShortDateFormat = "'DATE'";
    FormatSettings().LongTimeFormat = "'TIME'";
    SetDebugMode(0);
    tpurcode = 0;
  }
  void TearDown() override {
    FormatSettings() = FSavedSettings;
    SetDebugMode(1);
    unsetenv("QUORDEBUGDIR");
    unsetenv("FIELDTBLS32");
    unsetenv("FLDTBLDIR32");
    Fidnm_unload32();
    fs::remove_all(FDir);
  }

  fs::path File() const { return FDir / "tuxfmldump.txt"; }
  std::string Dumped() const { return ReadFile(File()); }

  fs::path FDir;
  TTxFbfr FBuffer{nullptr, 4096};

 private:
  TFormatSettings FSavedSettings;
};

TEST_F(Dump, RequestListsEveryTypeByteForByte) {
  Add<short>(FBuffer, COUNT, -5);
  Add<short>(FBuffer, COUNT, 32767);
  Add<short>(FBuffer, COUNT, 0);
  Add<long>(FBuffer, AMOUNT, 7);
  Add<char>(FBuffer, KIND, 'x');
  Add<float>(FBuffer, RATE, 1.5f);
  Add<double>(FBuffer, PRICE, 1234567.0);
  Add<double>(FBuffer, PRICE, 0.0001);
  Add<double>(FBuffer, PRICE, -2.5e-7);
  AddText(FBuffer, NAME, "Zażółć gęślą jaźń"_ansi);
  AddText(FBuffer, NAME, "");
  AddBytes(FBuffer, PHOTO, "AB");

  DumpBuffer("ROUTER (PAY)", &FBuffer);

  // The golden file holds the record as the dump writes it: Windows-1250
  // text, line feeds only, a tab before each hex offset.
  EXPECT_EQ(Dumped(), ReadFile(DataDir() + "/request_all_types.txt"));
}

TEST_F(Dump, ReplyRecordShowsTpurcodeAndFollowsTheRequest) {
  Add<long>(FBuffer, AMOUNT, 7);
  AddBytes(FBuffer, PHOTO, "AB");
  DumpBuffer("PAY", &FBuffer);
  tpurcode = 42;
  DumpBuffer("", &FBuffer);

  const std::string listing =
      "---- AMOUNT: <33554533> long #101\n"
      "[0] 7\n"
      "---- PHOTO: <201326694> carray #102\n"
      "[0] \t000000: 41 42 \n"
      "---- koniec\n";
  EXPECT_EQ(Dumped(), ("\n\n**** DATE TIME : Wywołanie usługi PAY ****\n"
                       "==== Bufor wysłany:\n"_ansi).str() +
                          listing +
                          ("**** DATE TIME : Zakończenie usługi; tpurcode=42 ****\n"
                           "==== Bufor odebrany:\n"_ansi).str() +
                          listing);
}

TEST_F(Dump, EmptyBufferGivesHeaderAndEnd) {
  tpurcode = -1;
  DumpBuffer("", &FBuffer);
  EXPECT_EQ(Dumped(), ("**** DATE TIME : Zakończenie usługi; tpurcode=-1 ****\n"
                       "==== Bufor odebrany:\n"
                       "---- koniec\n"_ansi).str());
}

TEST_F(Dump, HexListingBreaksEverySixtyFourBytes) {
  std::string bytes;
  for (int i = 0; i < 65; ++i) bytes += static_cast<char>(i * 4);  // 0x00 .. 0xFC, then 0x00
  AddBytes(FBuffer, PHOTO, bytes);
  AddBytes(FBuffer, PHOTO, bytes.substr(0, 64));
  AddBytes(FBuffer, PHOTO, "");

  DumpBuffer("", &FBuffer);

  std::string line;
  for (int i = 0; i < 64; ++i) {
    static const char hex[] = "0123456789ABCDEF";
    const int b = (i * 4) & 0xFF;
    line += {hex[b >> 4], hex[b & 15], ' '};
  }
  const std::string expected = ("**** DATE TIME : Zakończenie usługi; tpurcode=0 ****\n"
                                "==== Bufor odebrany:\n"_ansi).str() +
                               "---- PHOTO: <201326694> carray #102\n"
                               "[0] \t000000: " + line + "\n\t000040: 00 \n"
                               "[1] \t000000: " + line + "\n"
                               "[2] \n"
                               "---- koniec\n";
  EXPECT_EQ(Dumped(), expected);
}

TEST_F(Dump, FieldsUnknownToTheTablesAreNamedByTheirDefinition) {
  AddText(FBuffer, NOTE, "a\"b");
  Add<long>(FBuffer, CODE, -2147483648L);

  TTxFbfrDef contract(nullptr);
  contract.AddFldDef(NOTE)->SetTxFldName("Uwagi");
  FBuffer.Contract = &contract;
  DumpBuffer("", &FBuffer);  // named by the contract; CODE has no definition
  FBuffer.Contract = nullptr;
  FBuffer.SyncFbfrDef();
  DumpBuffer("", &FBuffer);  // buffer definitions name fields by their id

  const std::string header = ("**** DATE TIME : Zakończenie usługi; tpurcode=0 ****\n"
                              "==== Bufor odebrany:\n"_ansi).str();
  EXPECT_EQ(Dumped(), header +
                          "---- : <33554933> long #501\n"
                          "[0] -2147483648\n"
                          "---- Uwagi: <167772660> string #500\n"
                          "[0] \"a\"b\"\n"
                          "---- koniec\n" +
                          header +
                          "---- 33554933: <33554933> long #501\n"
                          "[0] -2147483648\n"
                          "---- 167772660: <167772660> string #500\n"
                          "[0] \"a\"b\"\n"
                          "---- koniec\n");
  EXPECT_EQ(Ferror32, 0);
}

TEST_F(Dump, FailureInsideTheListingIsWrittenAndEndsTheRecord) {
  Add<long>(FBuffer, AMOUNT, 7);
  FBFR32* const kept = *FBuffer.GetFbfrPP();
  *FBuffer.GetFbfrPP() = nullptr;
  DumpBuffer("PAY", &FBuffer);
  *FBuffer.GetFbfrPP() = kept;
  DumpBuffer("PAY", nullptr);

  const std::string record =
      ("\n\n**** DATE TIME : Wywołanie usługi PAY ****\n"
       "==== Bufor wysłany:\n"
       "Zrzut diagnostyczny bufora do pliku nieudany. Wyjątek Wskaźnik bufora == NULL"
       "---- koniec\n"_ansi).str();
  EXPECT_EQ(Dumped(), record + record);
}

// ---- Size limits -----------------------------------------------------------------

class DumpLimits : public Dump {
 protected:
  // Dumps one request into a file that already holds size bytes and returns
  // what was appended.
  std::string AppendedTo(std::uintmax_t size) {
    { std::ofstream create(File(), std::ios::binary | std::ios::trunc); }
    fs::resize_file(File(), size);
    DumpBuffer("PAY", &FBuffer);
    EXPECT_GE(fs::file_size(File()), size);
    std::ifstream in(File(), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(size));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
};

TEST_F(DumpLimits, ListsUpToFiveMegabytesThenWarnsThenStops) {
  Add<long>(FBuffer, AMOUNT, 7);
  const std::string record = ("\n\n**** DATE TIME : Wywołanie usługi PAY ****\n"
                              "==== Bufor wysłany:\n"
                              "---- AMOUNT: <33554533> long #101\n"
                              "[0] 7\n"
                              "---- koniec\n"_ansi).str();
  const std::string warning =
      ("\n\n!!! Ten plik jest już zbyt duży. Zapisy diagnostyczne są zaniechane.\n"_ansi).str();

  EXPECT_EQ(AppendedTo(0), record);
  EXPECT_EQ(AppendedTo(5242880), record);
  EXPECT_EQ(AppendedTo(5242881), warning);
  EXPECT_EQ(AppendedTo(9437183), warning);
  EXPECT_EQ(AppendedTo(9437184), "");
  EXPECT_EQ(fs::file_size(File()), 9437184u);
}

// ---- Where the file is -------------------------------------------------------------

class DumpPath : public Dump {
 protected:
  AnsiString PathFor(const char* dir) {
    if (dir == nullptr) {
      unsetenv("QUORDEBUGDIR");
    } else {
      setenv("QUORDEBUGDIR", dir, 1);
    }
    return DumpFilePath();
  }
};

TEST_F(DumpPath, DirectoryFromQuordebugdir) {
  setenv("TXLIB_DRIVE_ROOT", FDir.c_str(), 1);
  const AnsiString root(FDir.string());
  EXPECT_EQ(PathFor(nullptr), root + "/tuxfmldump.txt");  // "C:\"
  EXPECT_EQ(PathFor("D:\\logs"), root + "/logs/tuxfmldump.txt");
  EXPECT_EQ(PathFor("D:\\logs\\"), root + "/logs/tuxfmldump.txt");
  EXPECT_EQ(PathFor("/var/tmp/tx"), "/var/tmp/tx/tuxfmldump.txt");
  EXPECT_EQ(PathFor("/var/tmp/tx/"), "/var/tmp/tx/tuxfmldump.txt");
  EXPECT_EQ(PathFor(""), "tuxfmldump.txt");
  unsetenv("TXLIB_DRIVE_ROOT");
}

TEST_F(DumpPath, DefaultDirectoryIsTheDriveRoot) {
  setenv("TXLIB_DRIVE_ROOT", FDir.c_str(), 1);
  unsetenv("QUORDEBUGDIR");
  tpurcode = 3;
  DumpBuffer("", &FBuffer);
  unsetenv("TXLIB_DRIVE_ROOT");
  EXPECT_EQ(Dumped(), ("**** DATE TIME : Zakończenie usługi; tpurcode=3 ****\n"
                       "==== Bufor odebrany:\n"
                       "---- koniec\n"_ansi).str());
}

TEST_F(DumpPath, FileThatCannotBeOpenedIsReportedOnce) {
  const std::string missing = (FDir / "missing").string();
  setenv("QUORDEBUGDIR", missing.c_str(), 1);
  TRecordingUserInterface ui;
  {
    const TUserInterfaceScope scope(ui);
    DumpBuffer("PAY", &FBuffer);
  }
  ASSERT_EQ(ui.Dialogs().size(), 1u);
  EXPECT_EQ(ui.Dialogs()[0].Request.Text,
            "Nie można otworzyć pliku "_ansi + AnsiString(missing) +
                "/tuxfmldump.txt do dopisywania.");
  EXPECT_FALSE(fs::exists(missing));
}

TEST(DumpHeader, DateTimeUsesTheFrameworkDefaultFormat) {
  const fs::path dir = fs::temp_directory_path() / ("txdump_header_" + std::to_string(getpid()));
  fs::create_directories(dir);
  setenv("QUORDEBUGDIR", dir.c_str(), 1);
  TTxFbfr buffer(nullptr, 1024);
  const AnsiString before = DateTimeToStr(Now());
  DumpBuffer("PAY", &buffer);
  const AnsiString after = DateTimeToStr(Now());
  const std::string text = ReadFile(dir / "tuxfmldump.txt");
  unsetenv("QUORDEBUGDIR");
  fs::remove_all(dir);

  const std::string prefix = "\n\n**** ";
  ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0);
  const std::string stamp = text.substr(prefix.size(), text.find(" : ") - prefix.size());
  EXPECT_TRUE(stamp == before.str() || stamp == after.str()) << stamp;
}

}  // namespace
}  // namespace Tx
