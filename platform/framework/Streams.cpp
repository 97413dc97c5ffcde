#include "platform/framework/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>

#include "platform/framework/HostPath.h"

namespace Tx {

namespace {

constexpr std::int64_t kCopyChunk = 64 * 1024;

int ChunkOf(std::int64_t remaining) {
  return static_cast<int>(std::min<std::int64_t>(remaining, INT_MAX));
}

[[noreturn]] void ThrowReadError() { throw EReadError(AnsiString("Stream read error")); }
[[noreturn]] void ThrowWriteError() { throw EWriteError(AnsiString("Stream write error")); }
[[noreturn]] void ThrowOutOfMemory() {
  throw EStreamError(AnsiString("Out of memory while expanding memory stream"));
}

// The system's reason for errno, as Windows-1250 text.
AnsiString SystemReason(int error) { return Utf8ToAnsi(std::strerror(error)); }

}  // namespace

// ---- TStream -----------------------------------------------------------------

int TStream::Seek(int Offset, unsigned short Origin) {
  TSeekOrigin origin;
  switch (Origin) {
    case soFromBeginning: origin = soBeginning; break;
    case soFromCurrent: origin = soCurrent; break;
    case soFromEnd: origin = soEnd; break;
    default: return -1;
  }
  return static_cast<int>(Seek(static_cast<std::int64_t>(Offset), origin));
}

std::int64_t TStream::GetPosition() { return Seek(std::int64_t{0}, soCurrent); }

void TStream::SetPosition(std::int64_t Pos) { Seek(Pos, soBeginning); }

std::int64_t TStream::GetSize() {
  const std::int64_t position = Seek(std::int64_t{0}, soCurrent);
  const std::int64_t size = Seek(std::int64_t{0}, soEnd);
  Seek(position, soBeginning);
  return size;
}

void TStream::SetSize(int NewSize) { SetSize(static_cast<std::int64_t>(NewSize)); }

void TStream::SetSize(std::int64_t /*NewSize*/) {}

void TStream::ReadBuffer(void* Buffer, std::int64_t Count) {
  if (Count < 0) ThrowReadError();
  auto* out = static_cast<unsigned char*>(Buffer);
  while (Count > 0) {
    const int n = Read(out, ChunkOf(Count));
    if (n <= 0) ThrowReadError();
    out += n;
    Count -= n;
  }
}

void TStream::WriteBuffer(const void* Buffer, std::int64_t Count) {
  if (Count < 0) ThrowWriteError();
  const auto* in = static_cast<const unsigned char*>(Buffer);
  while (Count > 0) {
    const int n = Write(in, ChunkOf(Count));
    if (n <= 0) ThrowWriteError();
    in += n;
    Count -= n;
  }
}

std::int64_t TStream::CopyFrom(TStream* Source, std::int64_t Count) {
  if (Count <= 0) {
    Source->SetPosition(0);
    Count = Source->GetSize();
  }
  std::vector<unsigned char> buffer(static_cast<std::size_t>(std::min(Count, kCopyChunk)));
  std::int64_t remaining = Count;
  while (remaining > 0) {
    const std::int64_t n = std::min(remaining, kCopyChunk);
    Source->ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    remaining -= n;
  }
  return Count;
}

// ---- TMemoryStream -----------------------------------------------------------

int TMemoryStream::Read(void* Buffer, int Count) {
  const auto size = static_cast<std::int64_t>(FData.size());
  if (Count <= 0 || FPosition < 0 || FPosition >= size) return 0;
  const int n = static_cast<int>(std::min<std::int64_t>(Count, size - FPosition));
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  return n;
}

int TMemoryStream::Write(const void* Buffer, int Count) {
  if (Count <= 0 || FPosition < 0 || FPosition > INT64_MAX - Count) return 0;
  const std::int64_t end = FPosition + Count;
  if (end > static_cast<std::int64_t>(FData.size())) SetSize(end);
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<std::size_t>(Count));
  FPosition = end;
  return Count;
}

std::int64_t TMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  std::int64_t base = 0;
  switch (Origin) {
    case TSeekOrigin::soBeginning: base = 0; break;
    case TSeekOrigin::soCurrent: base = FPosition; break;
    case TSeekOrigin::soEnd: base = static_cast<std::int64_t>(FData.size()); break;
  }
  std::int64_t target = 0;
  if (__builtin_add_overflow(base, Offset, &target)) return -1;
  FPosition = target;
  return FPosition;
}

void TMemoryStream::SetSize(std::int64_t NewSize) {
  if (NewSize < 0) throw EStreamError(AnsiString("Stream size cannot be negative"));
  if (static_cast<std::uint64_t>(NewSize) > FData.max_size()) ThrowOutOfMemory();
  try {
    FData.resize(static_cast<std::size_t>(NewSize));
  } catch (const std::bad_alloc&) {
    ThrowOutOfMemory();
  } catch (const std::length_error&) {
    ThrowOutOfMemory();
  }
  if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear() noexcept {
  std::vector<unsigned char>().swap(FData);
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* Stream) {
  Stream->SetPosition(0);
  const std::int64_t size = Stream->GetSize();
  if (size < 0) ThrowReadError();
  std::vector<unsigned char> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    ThrowOutOfMemory();
  } catch (const std::length_error&) {
    ThrowOutOfMemory();
  }
  Stream->ReadBuffer(bytes.data(), size);
  FData.swap(bytes);
  FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream* Stream) {
  if (!FData.empty()) Stream->WriteBuffer(FData.data(), static_cast<std::int64_t>(FData.size()));
}

void TMemoryStream::LoadFromFile(const AnsiString& FileName) {
  TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&file);
}

void TMemoryStream::SaveToFile(const AnsiString& FileName) {
  TFileStream file(FileName, fmCreate);
  SaveToStream(&file);
}

// ---- TFileStream -------------------------------------------------------------

TFileStream::TFileStream(const AnsiString& FileName, unsigned short Mode) : FFileName(FileName) {
  const std::string path = AnsiToUtf8(HostPath(FileName));
  if ((Mode & fmCreate) == fmCreate) {
    FHandle = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0) {
      throw EFCreateError("Cannot create file \"" + FileName + "\". " + SystemReason(errno));
    }
    return;
  }

  int flags = 0;
  switch (Mode & 0x000F) {
    case fmOpenRead: flags = O_RDONLY; break;
    case fmOpenWrite: flags = O_WRONLY; break;
    case fmOpenReadWrite: flags = O_RDWR; break;
    default:
      throw EFOpenError("Cannot open file \"" + FileName + "\". " + SystemReason(EINVAL));
  }
  FHandle = ::open(path.c_str(), flags | O_CLOEXEC);
  if (FHandle < 0) {
    throw EFOpenError("Cannot open file \"" + FileName + "\". " + SystemReason(errno));
  }
  // A directory opens for reading here, but no stream can be read from it.
  struct stat info {};
  if (::fstat(FHandle, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(FHandle);
    FHandle = -1;
    throw EFOpenError("Cannot open file \"" + FileName + "\". " + SystemReason(EISDIR));
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int TFileStream::Read(void* Buffer, int Count) {
  if (Count <= 0) return 0;
  auto* out = static_cast<unsigned char*>(Buffer);
  int done = 0;
  while (done < Count) {
    const ssize_t n = ::read(FHandle, out + done, static_cast<std::size_t>(Count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int>(n);
  }
  return done;
}

int TFileStream::Write(const void* Buffer, int Count) {
  if (Count <= 0) return 0;
  const auto* in = static_cast<const unsigned char*>(Buffer);
  int done = 0;
  while (done < Count) {
    const ssize_t n = ::write(FHandle, in + done, static_cast<std::size_t>(Count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int>(n);
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  int whence = SEEK_SET;
  switch (Origin) {
    case TSeekOrigin::soBeginning: whence = SEEK_SET; break;
    case TSeekOrigin::soCurrent: whence = SEEK_CUR; break;
    case TSeekOrigin::soEnd: whence = SEEK_END; break;
  }
  return static_cast<std::int64_t>(::lseek(FHandle, static_cast<off_t>(Offset), whence));
}

// As the framework's file stream does, the position ends at the new size.
void TFileStream::SetSize(std::int64_t NewSize) {
  if (NewSize < 0 || ::ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0) {
    const int error = NewSize < 0 ? EINVAL : errno;
    throw EStreamError("Cannot change the size of \"" + FFileName + "\". " + SystemReason(error));
  }
  Seek(NewSize, soBeginning);
}

}  // namespace Tx
