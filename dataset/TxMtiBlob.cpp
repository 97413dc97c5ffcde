// The cursor engine's BLOB operations: memo, graphic and binary columns are
// kept out of the record buffer. Opening a BLOB copies the row's value into
// an entry of the BLOB list and puts the entry's handle into the slot;
// reads and writes work on that copy, a post writes it into the buffer
// (tuxPutRecord) and FreeBlob drops it.
#include <fml32.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "dataset/TxMti.h"
#include "platform/framework/Exceptions.h"

namespace Tx {
namespace {

std::int32_t HandleIn(const unsigned char* slot) {
  std::int32_t handle = 0;
  std::memcpy(&handle, slot + 1, sizeof handle);
  return handle;
}

void SetHandle(unsigned char* slot, std::int32_t handle) { std::memcpy(slot + 1, &handle, sizeof handle); }

}  // namespace

DBIResult TTxMti::BlobSlot(void* RecBuf, unsigned short FieldNo, unsigned char*& Slot) {
  if (!RecBuf) return DBIERR_INVALIDPARAM;
  if (FieldNo == 0 || FieldNo > FFieldCount) return DBIERR_OUTOFRANGE;
  const TColumn& col = Column(FieldNo);
  if (!col.Blob) return DBIERR_NOTABLOB;
  Slot = static_cast<unsigned char*>(RecBuf) + col.Offset;
  return DBIERR_NONE;
}

DBIResult TTxMti::OpenedBlob(void* RecBuf, unsigned short FieldNo, unsigned char*& Slot, AnsiString*& Blob) {
  const DBIResult result = BlobSlot(RecBuf, FieldNo, Slot);
  if (result != DBIERR_NONE) return result;
  const std::int32_t handle = HandleIn(Slot);
  if (handle < 1 || static_cast<std::size_t>(handle) > FBlobList.size() ||
      !FBlobList[static_cast<std::size_t>(handle - 1)])
    return DBIERR_BLOBNOTOPENED;
  Blob = FBlobList[static_cast<std::size_t>(handle - 1)].get();
  return DBIERR_NONE;
}

DBIResult TTxMti::OpenBlob(void* RecBuf, unsigned short FieldNo, DBIOpenMode /*Mode*/) {
  unsigned char* slot = nullptr;
  const DBIResult result = BlobSlot(RecBuf, FieldNo, slot);
  if (result != DBIERR_NONE) return result;
  if (HandleIn(slot) != 0) return DBIERR_BLOBOPENED;

  // The row the buffer was read at; a new row (header 0) starts empty, and
  // so does a row this column has no occurrence for.
  std::int32_t recNo = 0;
  std::memcpy(&recNo, RecBuf, sizeof recNo);
  Variant value = Null();
  if (recNo > 0) {
    const unsigned long id = Column(FieldNo).Id;
    const int occ = tuxOccFromRecNo(recNo);
    if (occ >= 0 && occ < FFbfr->OccCount(id)) value = FFbfr->GetValues(id, occ);
  }
  auto blob = std::make_unique<AnsiString>(VarIsNull(value) ? AnsiString() : value.AsString());

  auto free = std::find(FBlobList.begin(), FBlobList.end(), nullptr);
  if (free == FBlobList.end()) {
    FBlobList.push_back(std::move(blob));
    free = FBlobList.end() - 1;
  } else {
    *free = std::move(blob);
  }
  SetHandle(slot, static_cast<std::int32_t>(free - FBlobList.begin()) + 1);
  slot[0] = VarIsNull(value) ? 0 : 1;
  return DBIERR_NONE;
}

DBIResult TTxMti::GetBlobSize(void* RecBuf, unsigned short FieldNo, unsigned long& Size) {
  unsigned char* slot = nullptr;
  AnsiString* blob = nullptr;
  const DBIResult result = OpenedBlob(RecBuf, FieldNo, slot, blob);
  if (result != DBIERR_NONE) return result;
  Size = static_cast<unsigned long>(blob->Length());
  return DBIERR_NONE;
}

DBIResult TTxMti::GetBlob(void* RecBuf, unsigned short FieldNo, unsigned long Offset, unsigned long Length,
                          void* Dest, unsigned long& Read) {
  unsigned char* slot = nullptr;
  AnsiString* blob = nullptr;
  const DBIResult result = OpenedBlob(RecBuf, FieldNo, slot, blob);
  if (result != DBIERR_NONE) return result;
  const auto size = static_cast<unsigned long>(blob->Length());
  if (Offset >= size) return DBIERR_INVALIDBLOBOFFSET;
  Read = std::min(Length, size - Offset);
  if (Read > 0) std::memcpy(Dest, blob->data() + Offset, Read);
  return Read < Length ? DBIERR_ENDOFBLOB : DBIERR_NONE;
}

DBIResult TTxMti::PutBlob(void* RecBuf, unsigned short FieldNo, unsigned long Offset, unsigned long Length,
                          const void* Src) {
  unsigned char* slot = nullptr;
  AnsiString* blob = nullptr;
  const DBIResult result = OpenedBlob(RecBuf, FieldNo, slot, blob);
  if (result != DBIERR_NONE) return result;
  const auto size = static_cast<unsigned long>(blob->Length());
  if (Offset > size) throw Exception("Pole BLOB krótsze niż zadana pozycja zapisu"_ansi);
  if (Length > 0) {
    if (Offset + Length > size) blob->SetLength(static_cast<int>(Offset + Length));
    std::memcpy(&(*blob)[static_cast<int>(Offset) + 1], Src, Length);
  }
  slot[0] = 1;
  return DBIERR_NONE;
}

DBIResult TTxMti::TruncateBlob(void* RecBuf, unsigned short FieldNo, unsigned long Length) {
  unsigned char* slot = nullptr;
  AnsiString* blob = nullptr;
  const DBIResult result = OpenedBlob(RecBuf, FieldNo, slot, blob);
  if (result != DBIERR_NONE) return result;
  if (Length < static_cast<unsigned long>(blob->Length())) blob->SetLength(static_cast<int>(Length));
  return DBIERR_NONE;
}

DBIResult TTxMti::FreeBlob(void* RecBuf, unsigned short FieldNo) {
  unsigned char* slot = nullptr;
  AnsiString* blob = nullptr;
  const DBIResult result = OpenedBlob(RecBuf, FieldNo, slot, blob);
  if (result != DBIERR_NONE) return result;
  const std::int32_t handle = HandleIn(slot);
  slot[0] = blob->IsEmpty() ? 0 : 1;
  SetHandle(slot, 0);
  FBlobList[static_cast<std::size_t>(handle - 1)].reset();
  return DBIERR_NONE;
}

}  // namespace Tx
