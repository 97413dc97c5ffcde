// The diagnostic dump: the records it writes byte for byte, the size limits,
// where the file goes, and failures that stay inside the dump.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/framework/Dialogs.h"
#include "platform/framework/FormatSettings.h"
#include "service/TxServic.h"

namespace Tx {
namespace {

namespace fs = std::filesystem;

// Fields of tests/data/dump/dump.tbl, and two the tables do not know.
const FLDID32 AMOUNT = Fmkfldid32(FLD_LONG, 101), PHOTO = Fmkfldid32(FLD_CARRAY, 102),
              COUNT = Fmkfldid32(FLD_SHORT, 103), KIND = Fmkfldid32(FLD_CHAR, 104),
              RATE = Fmkfldid32(FLD_FLOAT, 105), PRICE = Fmkfldid32(FLD_DOUBLE, 106),
              NAME = Fmkfldid32(FLD_STRING, 107), NOTE = Fmkfldid32(FLD_STRING, 500),
              CODE = Fmkfldid32(FLD_LONG, 501);

std::string DataDir() {
  const char* data = std::getenv("TXLIB_TESTDATA");
  return std::string(data != nullptr ? data : "tests/data") + "/dump";
}
std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Each test dumps into an empty directory, with the field tables of the
// dump tests and a date-time text that does not change: the header shows
// DateTimeToStr, so the short date and long time formats decide it.
class Dump : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    setenv("QUORDEBUGDIR", FDir.c_str(), 1);
    setenv("FLDTBLDIR32", DataDir().c_str(), 1);
    setenv("FIELDTBLS32", "dump.tbl", 1);
    Fidnm_unload32();
    FSavedSettings = FormatSettings();
    FormatSettings().ShortDateFormat = "'DATE'";
    FormatSettings().LongTimeFormat = "'TIME'";
  }
  void TearDown() override {
    FormatSettings() = FSavedSettings;
    for (const char* name : {"QUORDEBUGDIR", "FIELDTBLS32", "FLDTBLDIR32", "TXLIB_DRIVE_ROOT"})
      unsetenv(name);
    Fidnm_unload32();
    fs::remove_all(FDir);
    tpurcode = 0;
  }
  fs::path File() const { return FDir / "tuxfmldump.txt"; }

  const fs::path FDir = fs::temp_directory_path() / ("txdump_" + std::to_string(getpid()));
  TTxFbfr FBuffer{nullptr, 4096};
  TFormatSettings FSavedSettings;
};

// The golden file holds the records as the dump writes them: Windows-1250
// text, line feeds only, a tab before each hex offset. In order: a request
// with every type (hex lines of 64 bytes), a reply, an empty reply, fields
// the tables do not know named by the contract and then by the buffer's own
// definitions, and listings that fail on a missing buffer.
TEST_F(Dump, RecordsMatchTheGoldenFile) {
  std::string bytes;
  for (int i = 0; i < 65; ++i) bytes += static_cast<char>(i * 4);  // 0x00 .. 0xFC, then 0x00
  for (const int count : {-5, 32767, 0}) FBuffer.AppendOcc(COUNT, count);
  FBuffer.AppendOcc(AMOUNT, 7);
  FBuffer.AppendOcc(KIND, "x");
  FBuffer.AppendOcc(RATE, 1.5f);
  for (const double price : {1234567.0, 0.0001, -2.5e-7}) FBuffer.AppendOcc(PRICE, price);
  for (const AnsiString& name : {"Zażółć gęślą jaźń"_ansi, AnsiString()})
    FBuffer.AppendOcc(NAME, name);
  for (const AnsiString& photo :
       {AnsiString("AB"), AnsiString(bytes.data(), 65), AnsiString(bytes.data(), 64), AnsiString()})
    FBuffer.AppendOcc(PHOTO, photo);
  DumpBuffer("ROUTER (PAY)", &FBuffer);
  tpurcode = 42;
  DumpBuffer("", &FBuffer);
  tpurcode = -1;
  TTxFbfr other(nullptr, 1024);
  DumpBuffer("", &other);

  tpurcode = 0;
  other.AppendOcc(NOTE, "a\"b");
  other.AppendOcc(CODE, -2147483647 - 1);
  TTxFbfrDef contract(nullptr);
  contract.AddFldDef(NOTE)->SetTxFldName("Uwagi");
  other.Contract = &contract;
  DumpBuffer("", &other);  // CODE has no definition: no name
  other.Contract = nullptr;
  other.SyncFbfrDef();
  DumpBuffer("", &other);  // buffer definitions name fields by their id
  EXPECT_EQ(Ferror32, 0);

  FBFR32* const kept = *other.GetFbfrPP();
  *other.GetFbfrPP() = nullptr;
  DumpBuffer("PAY", &other);
  *other.GetFbfrPP() = kept;
  DumpBuffer("PAY", nullptr);

  EXPECT_EQ(ReadFile(File()), ReadFile(DataDir() + "/records.txt"));
}

TEST_F(Dump, ListsUpToFiveMegabytesThenWarnsThenStops) {
  FBuffer.AppendOcc(AMOUNT, 7);
  // What one request appends to a file that already holds size bytes.
  const auto appendedTo = [&](std::uintmax_t size) {
    { std::ofstream create(File(), std::ios::binary | std::ios::trunc); }
    fs::resize_file(File(), size);
    DumpBuffer("PAY", &FBuffer);
    return ReadFile(File()).substr(size);
  };
  const std::string record = ("\n\n**** DATE TIME : Wywołanie usługi PAY ****\n"
                              "==== Bufor wysłany:\n"
                              "---- AMOUNT: <33554533> long #101\n"
                              "[0] 7\n"
                              "---- koniec\n"_ansi)
                                 .str();
  const std::string warning =
      ("\n\n!!! Ten plik jest już zbyt duży. Zapisy diagnostyczne są zaniechane.\n"_ansi).str();
  EXPECT_EQ(appendedTo(0), record);
  EXPECT_EQ(appendedTo(5242880), record);
  EXPECT_EQ(appendedTo(5242881), warning);
  EXPECT_EQ(appendedTo(9437183), warning);
  EXPECT_EQ(appendedTo(9437184), "");
  EXPECT_EQ(fs::file_size(File()), 9437184u);
}

TEST_F(Dump, FileIsNamedByQuordebugdirAndAFailedOpenIsReported) {
  setenv("TXLIB_DRIVE_ROOT", FDir.c_str(), 1);
  const std::string root = FDir.string();
  const std::pair<const char*, std::string> paths[] = {
      {nullptr, root + "/tuxfmldump.txt"},  // "C:\"
      {"D:\\logs", root + "/logs/tuxfmldump.txt"},
      {"D:\\logs\\", root + "/logs/tuxfmldump.txt"},
      {"/var/tmp/tx", "/var/tmp/tx/tuxfmldump.txt"},
      {"/var/tmp/tx/", "/var/tmp/tx/tuxfmldump.txt"},
      {"", "tuxfmldump.txt"}};
  for (const auto& [dir, path] : paths) {
    dir ? setenv("QUORDEBUGDIR", dir, 1) : unsetenv("QUORDEBUGDIR");
    EXPECT_EQ(DumpFilePath().str(), path) << (dir ? dir : "unset");
  }
  unsetenv("QUORDEBUGDIR");
  DumpBuffer("", &FBuffer);
  EXPECT_TRUE(fs::exists(File()));

  const std::string missing = (FDir / "missing").string();
  setenv("QUORDEBUGDIR", missing.c_str(), 1);
  TRecordingUserInterface ui;
  {
    const TUserInterfaceScope scope(ui);
    DumpBuffer("PAY", &FBuffer);
  }
  ASSERT_EQ(ui.Dialogs().size(), 1u);
  EXPECT_EQ(ui.Dialogs()[0].Request.Text, "Nie można otworzyć pliku "_ansi + AnsiString(missing) +
                                              "/tuxfmldump.txt do dopisywania.");
  EXPECT_FALSE(fs::exists(missing));
}

}  // namespace
}  // namespace Tx
