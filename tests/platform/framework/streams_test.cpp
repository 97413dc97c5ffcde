#include "platform/framework/Streams.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/framework/framework_test_support.h"

namespace Tx {
namespace {

namespace fs = std::filesystem;
using FrameworkTest::Raised;

std::string Contents(TMemoryStream& s) {
  return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.GetSize()));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A temporary directory that also stands for drive C: of Windows names.
class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(FDir); }
  void TearDown() override { fs::remove_all(FDir); }
  AnsiString Name(const std::string& leaf) const { return AnsiString((FDir / leaf).string()); }

  const fs::path FDir =
      fs::temp_directory_path() / ("txlib_streams_" + std::to_string(::getpid()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  FrameworkTest::ScopedEnvironment FDrive{{"TXLIB_DRIVE_ROOT", FDir.c_str()}};
};

TEST(MemoryStream, WriteSeekReadAndResize) {
  TMemoryStream s;
  s.WriteBuffer("a\0b\xFF", 4);
  EXPECT_EQ(s.Seek(std::int64_t{-3}, soEnd), 1);
  char back[3] = {};
  s.ReadBuffer(back, 3);
  EXPECT_EQ(std::string(back, 3), std::string("\0b\xFF", 3));
  EXPECT_EQ(s.Read(back, 3), 0);  // at the end
  EXPECT_EQ(s.Seek(-2, soFromCurrent), 2);
  EXPECT_EQ(s.Seek(1, soFromBeginning), 1);
  EXPECT_EQ(s.Seek(0, soFromEnd), 4);
  const std::int64_t far = std::int64_t{5} << 30;  // positions are 64-bit
  EXPECT_EQ(s.Seek(far, soBeginning), far);
  EXPECT_EQ(s.Read(back, 1), 0);
  s.SetSize(2);
  s.SetPosition(5);
  s.WriteBuffer("z", 1);  // past the end: the gap is zero-filled
  EXPECT_EQ(Contents(s), std::string("a\0\0\0\0z", 6));
  s.SetSize(1);
  EXPECT_EQ(s.GetPosition(), 1);  // pulled back
  s.SetSize(3);
  EXPECT_EQ(Contents(s), std::string("a\0\0", 3));
  EXPECT_EQ(Raised([&] { s.SetSize(std::int64_t{-1}); }),
            "EStreamError: Stream size cannot be negative");
  EXPECT_EQ(s.GetSize(), 3);
}

TEST(StreamBuffers, ShortReadNegativePositionAndShortCopyRaise) {
  TMemoryStream s;
  s.WriteBuffer("0123456789", 10);
  s.SetPosition(8);
  char buffer[8];
  EXPECT_EQ(Raised([&] { s.ReadBuffer(buffer, 3); }), "EReadError: Stream read error");
  TMemoryStream target;
  target.WriteBuffer(">", 1);
  EXPECT_EQ(target.CopyFrom(&s, 0), 10);  // zero copies the whole source
  s.SetPosition(6);
  EXPECT_EQ(target.CopyFrom(&s, 3), 3);  // a count copies from the position
  EXPECT_EQ(Contents(target), ">0123456789678");
  EXPECT_THROW(target.CopyFrom(&s, 5), EReadError);
  target.Seek(std::int64_t{-4}, soBeginning);
  EXPECT_EQ(Raised([&] { target.WriteBuffer("x", 1); }), "EWriteError: Stream write error");
}

// A Windows name with Polish letters lands in the directory standing for C:.
TEST_F(FileStreamTest, BinaryBytesSurviveAFileWithAWindowsName) {
  const std::string bytes("\r\n\0\x1A\xFE", 5);
  {
    TFileStream out("C:\\Zażółć.bin"_ansi, fmCreate);
    out.WriteBuffer(bytes.data(), 5);
  }
  EXPECT_EQ(ReadFile(FDir / "Zażółć.bin"), bytes);
  TFileStream in("c:\\Zażółć.bin"_ansi, fmOpenRead | fmShareDenyNone);
  std::string back(5, '?');
  in.ReadBuffer(back.data(), 5);
  EXPECT_EQ(back, bytes);
  EXPECT_THROW(in.ReadBuffer(back.data(), 1), EReadError);
}

TEST_F(FileStreamTest, OpenAndCreateFailuresNameTheFile) {
  const AnsiString missing = Name("missing.bin");
  EXPECT_EQ(Raised([&] { TFileStream in(missing, fmOpenRead); }),
            "EFOpenError: Cannot open file \"" + missing.str() + "\". " + std::strerror(ENOENT));
  const AnsiString uncreatable = Name("no/such/dir/out.bin");
  EXPECT_EQ(
      Raised([&] { TFileStream out(uncreatable, fmCreate); }),
      "EFCreateError: Cannot create file \"" + uncreatable.str() + "\". " + std::strerror(ENOENT));
  EXPECT_THROW(TFileStream(AnsiString(FDir.string()), fmOpenRead), EFOpenError);  // a directory
  EXPECT_THROW(TFileStream(Name("x"), 0x0003), EFOpenError);                      // a bad mode
}

TEST_F(FileStreamTest, SetSizeCutsTheFileAndAFailedLoadFromAWriteOnlyFileKeepsTheOldContents) {
  TFileStream out(Name("w.bin"), fmCreate);
  out.WriteBuffer("abcdef", 6);
  out.SetSize(std::int64_t{3});
  EXPECT_EQ(out.GetPosition(), 3);
  EXPECT_EQ(ReadFile(FDir / "w.bin"), "abc");
  EXPECT_THROW(out.SetSize(std::int64_t{-1}), EStreamError);
  TFileStream writeOnly(Name("w.bin"), fmOpenWrite);
  TMemoryStream s;
  s.WriteBuffer("keep", 4);
  EXPECT_THROW(s.LoadFromStream(&writeOnly), EReadError);  // three bytes announced, none given
  EXPECT_EQ(Contents(s), "keep");
}

}  // namespace
}  // namespace Tx
