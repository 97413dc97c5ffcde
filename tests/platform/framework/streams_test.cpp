#include "platform/framework/Streams.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace Tx {
namespace {

namespace fs = std::filesystem;

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
  void SetUp() override {
    FDir = fs::temp_directory_path() /
           ("txlib_streams_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(FDir);
    ::setenv("TXLIB_DRIVE_ROOT", FDir.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("TXLIB_DRIVE_ROOT");
    fs::remove_all(FDir);
  }
  AnsiString Name(const std::string& leaf) const { return AnsiString((FDir / leaf).string()); }
  fs::path FDir;
};

TEST(MemoryStream, WriteSeekReadRoundTrip) {
  TMemoryStream s;
  const char bytes[] = {'a', '\0', 'b', '\xFF'};
  s.WriteBuffer(bytes, 4);
  EXPECT_EQ(s.GetPosition(), 4);
  EXPECT_EQ(s.Seek(std::int64_t{-3}, soEnd), 1);
  char back[3] = {};
  s.ReadBuffer(back, 3);
  EXPECT_EQ(std::string(back, 3), std::string("\0b\xFF", 3));
  EXPECT_EQ(s.Read(back, 3), 0);  // at the end
  EXPECT_EQ(s.Seek(-2, soFromCurrent), 2);
  EXPECT_EQ(s.Seek(1, soFromBeginning), 1);
  EXPECT_EQ(s.Seek(0, soFromEnd), 4);
}

TEST(MemoryStream, WritingPastTheEndZeroFillsTheGap) {
  TMemoryStream s;
  s.WriteBuffer("ab", 2);
  s.SetPosition(5);
  s.WriteBuffer("z", 1);
  EXPECT_EQ(Contents(s), std::string("ab\0\0\0z", 6));
}

TEST(MemoryStream, SetSizePullsThePositionBack) {
  TMemoryStream s;
  s.WriteBuffer("abcdef", 6);
  s.SetSize(2);
  EXPECT_EQ(s.GetPosition(), 2);
  s.SetSize(4);
  EXPECT_EQ(Contents(s), std::string("ab\0\0", 4));
  EXPECT_THROW(s.SetSize(std::int64_t{-1}), EStreamError);
  EXPECT_EQ(s.GetSize(), 4);
}

TEST(MemoryStream, PositionsAreSixtyFourBit) {
  TMemoryStream s;
  const std::int64_t far = std::int64_t{5} << 30;
  EXPECT_EQ(s.Seek(far, soBeginning), far);
  EXPECT_EQ(s.GetPosition(), far);
  char c;
  EXPECT_EQ(s.Read(&c, 1), 0);
}

TEST(StreamBuffers, ShortReadRaisesReadError) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  s.SetPosition(1);
  char buffer[8];
  try {
    s.ReadBuffer(buffer, 3);
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message, "Stream read error");
  }
}

TEST(StreamBuffers, NegativePositionMovesNothing) {
  TMemoryStream s;
  s.Seek(std::int64_t{-4}, soBeginning);
  EXPECT_THROW(s.WriteBuffer("x", 1), EWriteError);
  EXPECT_EQ(s.GetSize(), 0);
}

TEST(StreamCopy, ZeroCountCopiesTheWholeSource) {
  TMemoryStream source;
  source.WriteBuffer("0123456789", 10);
  TMemoryStream target;
  target.WriteBuffer(">", 1);
  EXPECT_EQ(target.CopyFrom(&source, 0), 10);
  EXPECT_EQ(Contents(target), ">0123456789");
}

TEST(StreamCopy, CountCopiesFromTheCurrentPositionAndInsists) {
  TMemoryStream source;
  source.WriteBuffer("0123456789", 10);
  source.SetPosition(6);
  TMemoryStream target;
  EXPECT_EQ(target.CopyFrom(&source, 3), 3);
  EXPECT_EQ(Contents(target), "678");
  EXPECT_THROW(target.CopyFrom(&source, 5), EReadError);
}

// A stream that claims more bytes than it gives.
class TLyingStream : public TStream {
 public:
  using TStream::Seek;
  int Read(void* Buffer, int Count) override {
    const int n = std::min(Count, 4 - FPos);
    if (n <= 0) return 0;
    std::memset(Buffer, 'x', static_cast<std::size_t>(n));
    FPos += n;
    return n;
  }
  int Write(const void*, int) override { return 0; }
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override {
    if (Origin == soEnd) return 10;
    FPos = static_cast<int>(Origin == soBeginning ? Offset : FPos + Offset);
    return FPos;
  }

 private:
  int FPos = 0;
};

TEST(StreamCopy, FailedLoadKeepsTheOldContents) {
  TMemoryStream s;
  s.WriteBuffer("keep", 4);
  TLyingStream liar;
  EXPECT_THROW(s.LoadFromStream(&liar), EReadError);
  EXPECT_EQ(Contents(s), "keep");
}

TEST_F(FileStreamTest, BinaryBytesSurviveAFile) {
  const std::string bytes("\r\n\0\x1A\xFE", 5);
  {
    TFileStream out(Name("data.bin"), fmCreate);
    out.WriteBuffer(bytes.data(), 5);
  }
  EXPECT_EQ(ReadFile(FDir / "data.bin"), bytes);
  TFileStream in(Name("data.bin"), fmOpenRead | fmShareDenyNone);
  EXPECT_EQ(in.GetSize(), 5);
  std::string back(5, '?');
  in.ReadBuffer(back.data(), 5);
  EXPECT_EQ(back, bytes);
  EXPECT_THROW(in.ReadBuffer(back.data(), 1), EReadError);
}

TEST_F(FileStreamTest, MissingFileRaisesOpenErrorNamingIt) {
  const AnsiString name = Name("missing.bin");
  try {
    TFileStream in(name, fmOpenRead);
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message, "Cannot open file \"" + name + "\". " + std::strerror(ENOENT));
  }
}

TEST_F(FileStreamTest, UncreatableFileRaisesCreateError) {
  const AnsiString name = Name("no/such/dir/out.bin");
  try {
    TFileStream out(name, fmCreate);
    FAIL() << "no exception";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message, "Cannot create file \"" + name + "\". " + std::strerror(ENOENT));
  }
}

TEST_F(FileStreamTest, DirectoryAndBadModeAreRefused) {
  EXPECT_THROW(TFileStream(AnsiString(FDir.string()), fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream(Name("x"), 0x0003), EFOpenError);
}

TEST_F(FileStreamTest, WriteOnlyFileCannotBeRead) {
  { TFileStream create(Name("w.bin"), fmCreate); }
  TFileStream out(Name("w.bin"), fmOpenWrite);
  out.WriteBuffer("abc", 3);
  out.SetPosition(0);
  char c;
  EXPECT_THROW(out.ReadBuffer(&c, 1), EReadError);
}

TEST_F(FileStreamTest, SetSizeCutsOrExtendsAndMovesToTheEnd) {
  TFileStream f(Name("size.bin"), fmCreate);
  f.WriteBuffer("abcdef", 6);
  f.SetPosition(1);
  f.SetSize(std::int64_t{3});
  EXPECT_EQ(f.GetPosition(), 3);
  EXPECT_EQ(ReadFile(FDir / "size.bin"), "abc");
  const std::int64_t big = (std::int64_t{1} << 32) + 7;
  f.SetSize(big);
  EXPECT_EQ(f.GetSize(), big);
}

TEST_F(FileStreamTest, WindowsNamesAndPolishLettersMapToTheHost) {
  TMemoryStream s;
  s.WriteBuffer("payload", 7);
  const AnsiString windowsName = "C:\\Zażółć.bin"_ansi;
  s.SaveToFile(windowsName);
  EXPECT_TRUE(fs::exists(FDir / "Zażółć.bin"));
  TMemoryStream back;
  back.LoadFromFile(windowsName);
  EXPECT_EQ(Contents(back), Contents(s));
  EXPECT_EQ(back.GetPosition(), 0);
}

}  // namespace
}  // namespace Tx
