// The framework's byte streams: the abstract TStream with its buffer,
// position and copy helpers, a stream in memory and a stream on a file.
//
// Sizes and positions are 64-bit. Read and Write move up to Count bytes and
// return how many moved; ReadBuffer and WriteBuffer insist on all of them
// (EReadError "Stream read error", EWriteError "Stream write error").
//
// Seek comes in two overloads, as in the framework: Seek(int, unsigned short)
// with the soFrom* origins and Seek(int64_t, TSeekOrigin). A class that
// overrides one of them writes `using TStream::Seek;` to keep the other
// visible (likewise for SetSize).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/framework/AnsiString.h"
#include "platform/framework/Classes.h"

namespace Tx {

// Origins of the 32-bit Seek.
constexpr unsigned short soFromBeginning = 0;
constexpr unsigned short soFromCurrent = 1;
constexpr unsigned short soFromEnd = 2;

// Origins of the 64-bit Seek.
enum class TSeekOrigin : unsigned char { soBeginning, soCurrent, soEnd };
constexpr TSeekOrigin soBeginning = TSeekOrigin::soBeginning;
constexpr TSeekOrigin soCurrent = TSeekOrigin::soCurrent;
constexpr TSeekOrigin soEnd = TSeekOrigin::soEnd;

class TStream : public TObject {
 public:
  // Up to Count bytes from the position into Buffer; returns the number
  // read (0 at the end). A negative Count reads nothing.
  virtual int Read(void* Buffer, int Count) = 0;
  // Up to Count bytes from Buffer at the position; returns the number written.
  virtual int Write(const void* Buffer, int Count) = 0;
  // Moves the position; Origin is soFromBeginning, soFromCurrent or
  // soFromEnd. Returns the new position (cut to 32 bits). The base calls the
  // 64-bit Seek.
  virtual int Seek(int Offset, unsigned short Origin);
  // Moves the position and returns it, or -1 when the stream cannot seek there.
  virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;

  std::int64_t GetPosition();
  void SetPosition(std::int64_t Pos);
  // The size, found by seeking to the end and back.
  virtual std::int64_t GetSize();
  // Changes the size, where the stream supports it; the base does nothing.
  // SetSize(int) calls the 64-bit one.
  virtual void SetSize(int NewSize);
  virtual void SetSize(std::int64_t NewSize);

  // Exactly Count bytes, else EReadError "Stream read error" (the bytes that
  // could be read have then been consumed).
  void ReadBuffer(void* Buffer, std::int64_t Count);
  // Exactly Count bytes, else EWriteError "Stream write error".
  void WriteBuffer(const void* Buffer, std::int64_t Count);
  // Copies Count bytes from Source's position into this stream; Count 0
  // copies the whole of Source from its beginning. Returns the number copied;
  // EReadError/EWriteError when Source has fewer bytes or this stream takes
  // fewer.
  std::int64_t CopyFrom(TStream* Source, std::int64_t Count);
};

// A stream over a growable block of memory that it owns. Seeking beyond the
// end is allowed; writing there fills the gap with zero bytes. A negative
// position reads and writes nothing.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;

  using TStream::Seek;
  using TStream::SetSize;
  int Read(void* Buffer, int Count) override;
  int Write(const void* Buffer, int Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t GetSize() override { return static_cast<std::int64_t>(FData.size()); }
  // New bytes are zero; the position is pulled back to the new end when
  // beyond it. EStreamError for a negative size or when memory runs out,
  // with the stream unchanged.
  void SetSize(std::int64_t NewSize) override;

  // The bytes (GetSize() of them); nullptr while empty. Valid until the size changes.
  void* Memory() noexcept { return FData.empty() ? nullptr : FData.data(); }
  const void* Memory() const noexcept { return FData.empty() ? nullptr : FData.data(); }
  // Size and position 0, memory released.
  void Clear() noexcept;

  // Replaces the contents with the whole of Stream (from its beginning);
  // the position becomes 0. On a read error the contents are unchanged.
  void LoadFromStream(TStream* Stream);
  // Writes the whole contents to Stream at its position.
  void SaveToStream(TStream* Stream);
  void LoadFromFile(const AnsiString& FileName);
  // Creates (or truncates) the file and writes the contents.
  void SaveToFile(const AnsiString& FileName);

 private:
  std::vector<unsigned char> FData;
  std::int64_t FPosition = 0;
};

// Open modes of TFileStream: one access mode, optionally or-ed with a share
// mode; fmCreate creates or truncates the file and opens it for reading and
// writing.
constexpr unsigned short fmOpenRead = 0x0000;
constexpr unsigned short fmOpenWrite = 0x0001;
constexpr unsigned short fmOpenReadWrite = 0x0002;
constexpr unsigned short fmShareCompat = 0x0000;
constexpr unsigned short fmShareExclusive = 0x0010;
constexpr unsigned short fmShareDenyWrite = 0x0020;
constexpr unsigned short fmShareDenyRead = 0x0030;
constexpr unsigned short fmShareDenyNone = 0x0040;
constexpr unsigned short fmCreate = 0xFF00;

// A stream on a file, opened in binary. The file name is Windows-1250 text
// in Windows form: a drive and backslashes are mapped to this system's
// directories (HostPath) and the name is stored on disk in UTF-8. Share
// modes are accepted and not enforced.
class TFileStream : public TStream {
 public:
  // Opens FileName; EFCreateError 'Cannot create file "<name>". <reason>'
  // (fmCreate) or EFOpenError 'Cannot open file "<name>". <reason>' when it
  // cannot, and for an access mode other than the three above.
  TFileStream(const AnsiString& FileName, unsigned short Mode);
  ~TFileStream() override;

  using TStream::Seek;
  using TStream::SetSize;
  int Read(void* Buffer, int Count) override;
  int Write(const void* Buffer, int Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  // Cuts or extends the file; EStreamError when the system refuses.
  void SetSize(std::int64_t NewSize) override;

  const AnsiString& FileName() const noexcept { return FFileName; }
  // The system's file descriptor (valid while the stream lives).
  int Handle() const noexcept { return FHandle; }

 private:
  AnsiString FFileName;
  int FHandle = -1;
};

}  // namespace Tx
