// Buffer contents kept in form files: the field-by-field record byte for
// byte and back, the contract questions before writing, records and raw
// images that are refused without touching the buffer, and both properties
// inside a form.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/tuxedo/FmlCalls.h"
#include "buffer/TxFbfr.h"
#include "buffer_test_support.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/Filer.h"

namespace Tx {
namespace {

const FLDID32 kLong = Fmkfldid32(FLD_LONG, 201);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 202);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 203);
const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 204);
const FLDID32 kFloat = Fmkfldid32(FLD_FLOAT, 205);
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 206);
const FLDID32 kChar = Fmkfldid32(FLD_CHAR, 207);

std::string Le(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}
const std::string kEnd("*FBUF_END*\0", 11);

std::string Bytes(TMemoryStream& s) {
  return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.GetSize()));
}
std::string Contents(TTxFbfr& b) {
  TMemoryStream s;
  b.WriteFBFRContents(&s);
  return Bytes(s);
}
void Load(TTxFbfr& b, const std::string& bytes,
          void (TTxFbfr::*read)(TStream*) = &TTxFbfr::ReadFBFRContents) {
  TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  s.SetPosition(0);
  (b.*read)(&s);
}
template <class E>
std::string Refused(TTxFbfr& b, const std::string& bytes,
                    void (TTxFbfr::*read)(TStream*) = &TTxFbfr::ReadFBFRContents) {
  return MessageOf<E>([&] { Load(b, bytes, read); }).str();
}
template <class T>
void Add(TTxFbfr& b, FLDID32 id, T value, FLDLEN32 length = 0) {
  ASSERT_NE(Fadd32(b.GetFbfrP(), id, reinterpret_cast<char*>(&value), length), -1);
}

// ---- The field-by-field record -------------------------------------------------------

TEST(FbfrContents, WritesTheDocumentedRecord) {
  TTxFbfr b(nullptr, 1024);
  AddLong(b, kLong, 5);
  AddString(b, kString, "AB");
  const std::string expected = std::string("\x01", 1) + std::string(1, '\0') + Le(kLong) + Le(1) +
                               Le(1) + Le(5) + std::string(1, '\0') + Le(kString) + Le(5) + Le(1) +
                               std::string("AB\0", 3) + kEnd;
  EXPECT_EQ(Contents(b), expected);
  // Names come from the buffer's definitions when the field tables lack them.
  b.SyncFbfrDef();
  EXPECT_EQ(Contents(b).substr(1, 9), std::to_string(kLong) + '\0');
}

TEST(FbfrContents, EveryTypeComesBackExactly) {
  TTxFbfr b(nullptr, 1024);
  Add<short>(b, kShort, -2);
  Add<float>(b, kFloat, 1.1F);
  Add<double>(b, kDouble, -1e-300);
  Add<char>(b, kChar, 'x');
  ASSERT_NE(Fadd32(b.GetFbfrP(), kCarray, const_cast<char*>(""), 0), -1);
  ASSERT_NE(Fadd32(b.GetFbfrP(), kCarray, const_cast<char*>("a\0b"), 3), -1);
  AddString(b, kString, "");
  AddString(b, kString, "druga");
  const std::string written = Contents(b);
  EXPECT_NE(written.find(Le(kShort) + Le(FLD_SHORT) + Le(1) + "\xFE\xFF\xFF\xFF"),
            std::string::npos);
  EXPECT_NE(
      written.find(Le(kCarray) + Le(FLD_CARRAY) + Le(2) + Le(0) + Le(3) + std::string("a\0b", 3)),
      std::string::npos);

  TTxFbfr copy(nullptr, 64);
  AddLong(copy, kLong, 99);  // replaced, not kept
  Load(copy, written);
  EXPECT_EQ(Contents(copy), written);
  EXPECT_EQ(Tx::FieldLong(copy.GetFbfrP(), kShort, 0), -2);
  float single = 0;
  ASSERT_NE(Fget32(copy.GetFbfrP(), kFloat, 0, reinterpret_cast<char*>(&single), nullptr), -1);
  EXPECT_EQ(single, 1.1F);
  EXPECT_EQ(Foccur32(copy.GetFbfrP(), kLong), 0);
  EXPECT_EQ(copy.GetFldDefs()->Count(), 0);  // until the next SyncFbfrDef
}

TEST(FbfrContents, StoredTypeConvertsToTheFieldsOwn) {
  TTxFbfr b(nullptr, 1024);
  // A long record for a string field, as a form written before the field changed type.
  Load(b, std::string("\x01", 1) + "X" + '\0' + Le(kString) + Le(FLD_LONG) + Le(1) + Le(-7) + kEnd);
  EXPECT_STREQ(Tx::FieldString(b.GetFbfrP(), kString, 0), "-7");
}

TEST(FbfrContents, RefusedRecordsLeaveTheBufferAsItWas) {
  TTxFbfr b(nullptr, 1024);
  AddLong(b, kLong, 5);
  const std::string before = Contents(b);
  const std::string head = std::string("\x01", 1) + std::string(1, '\0');
  EXPECT_EQ(Refused<EReadError>(b, "\x02" + before.substr(1)),
            "Nieznana wersja zapisu zawartości bufora FML"_ansi.str());
  EXPECT_EQ(Refused<EReadError>(b, before.substr(0, before.size() - 3)), "Stream read error");
  EXPECT_EQ(
      Refused<EReadError>(b, head + Le(kCarray) + Le(FLD_CARRAY) + Le(1) + Le(0x7FFFFFFF) + "ab"),
      "Stream read error");
  const std::string longText(8193, 'A');
  EXPECT_EQ(Refused<EAbort>(b, "\x01" + longText + '\0' + kEnd),
            "Za długi tekst do przeczytania ('"_ansi.str() + longText + "...')");
  const std::string fmlError = "Błąd FML #"_ansi.str();
  EXPECT_EQ(Refused<ETxFmlError>(b, head + Le(0) + Le(FLD_LONG) + Le(1) + Le(1) + kEnd)
                .substr(0, fmlError.size()),
            fmlError);
  EXPECT_EQ(Contents(b), before);
  // 8192 bytes and the zero byte still make a text.
  Load(b, "\x01" + std::string(8192, 'A') + '\0' + Le(kLong) + Le(FLD_LONG) + Le(0) + kEnd);
  EXPECT_EQ(Fnum32(b.GetFbfrP()), 0);
}

// ---- Contract questions ----------------------------------------------------------------

struct ContractedBuffer {
  TComponent owner{nullptr};
  TTxFbfrDef contract{&owner};
  TTxFbfr b{&owner, 1024};
  TRecordingUserInterface ui;
  TUserInterfaceScope scope{ui};
  ContractedBuffer() {
    owner.SetName("Svc");
    auto* def = static_cast<TTxFbfrFldDef*>(contract.Add());
    def->SetTxFldId(kLong);
    def->SetTxFldName("KWOTA");
    def->SetOccMin(2);
    b.Contract = &contract;
    AddLong(b, kLong, 5);
  }
};

TEST(FbfrContents, DeclinedRepairAsksBeforeSaving) {
  ContractedBuffer c;
  c.ui.QueueAnswer(IDNO);      // do not fill the missing occurrence
  c.ui.QueueAnswer(IDCANCEL);  // do not save anyway
  TMemoryStream s;
  EXPECT_EQ(MessageOf<EWriteError>([&] { c.b.WriteFBFRContents(&s); }),
            "Zawartość bufora niezgodna z kontraktem - zapis anulowany"_ansi);
  EXPECT_EQ(s.GetSize(), 0);
  const auto dialogs = c.ui.Dialogs();
  ASSERT_EQ(dialogs.size(), 2U);
  EXPECT_EQ(dialogs[1].Request.Text,
            "Komponent Svc\rZawartość bufora FML niezgodna z kontraktem!\rZapisać mimo to?"_ansi);
  EXPECT_EQ(dialogs[1].Request.Caption, "Ostrzeżenie"_ansi);
  EXPECT_EQ(dialogs[1].Request.Flags, MB_OKCANCEL);

  c.ui.QueueAnswer(IDNO);
  c.ui.QueueAnswer(IDOK);
  EXPECT_EQ(Contents(c.b),
            std::string("\x01KWOTA\0", 7) + Le(kLong) + Le(1) + Le(1) + Le(5) + kEnd);
}

TEST(FbfrContents, FieldsOutsideTheContractAreLeftOut) {
  ContractedBuffer c;
  AddLong(c.b, kLong, 6);
  AddString(c.b, kString, "obcy");
  c.ui.QueueAnswer(IDNO);  // keep the extra field in the buffer
  c.ui.QueueAnswer(IDOK);
  EXPECT_EQ(Contents(c.b),
            std::string("\x01KWOTA\0", 7) + Le(kLong) + Le(1) + Le(2) + Le(5) + Le(6) + kEnd);
  const auto dialogs = c.ui.Dialogs();
  ASSERT_EQ(dialogs.size(), 3U);
  EXPECT_EQ(
      dialogs[2].Request.Text,
      "Pole <"_ansi + AnsiString(static_cast<unsigned long>(kString)) +
          "> z bufora FML nie występuje w kontrakcie.\rJego wartości nie zostaną zapisane."_ansi);
  EXPECT_EQ(Foccur32(c.b.GetFbfrP(), kString), 1);
}

// ---- The raw image ----------------------------------------------------------------------

std::string Image(TTxFbfr& b) {
  TMemoryStream s;
  b.WriteFBFRdata(&s);
  return Bytes(s);
}

TEST(FbfrData, ImageIsCheckedBeforeItIsUsed) {
  TTxFbfr source(nullptr, 512);
  AddLong(source, kLong, 5);
  AddString(source, kString, "AB");
  const std::string image = Image(source);
  EXPECT_EQ(image.size(), 4 + static_cast<std::size_t>(source.GetFbfrSize()));
  EXPECT_EQ(image.substr(0, 4), Le(static_cast<std::uint32_t>(source.GetFbfrSize())));

  TTxFbfr b(nullptr, 256);
  AddLong(b, kLong, 77);
  Load(b, image, &TTxFbfr::ReadFBFRdata);
  EXPECT_EQ(Contents(b), Contents(source));

  // Every occurrence comes back in its order, also of the types the
  // field-by-field record leaves out, and bytes after the buffer are ignored.
  TTxFbfr rich(nullptr, 1024);
  AddString(rich, kString, "AB");
  AddString(rich, kString, "");
  AddBytes(rich, kCarray, 0);
  AddBytes(rich, kCarray, 3);
  TTxFbfr inner(nullptr, 256);
  AddLong(inner, kLong, 9);
  const FLDID32 embedded = Fmkfldid32(FLD_FML32, 208);
  ASSERT_NE(Fadd32(rich.GetFbfrP(), embedded, reinterpret_cast<char*>(inner.GetFbfrP()), 0), -1);
  const std::string richImage = Image(rich);
  TTxFbfr copy(nullptr, 256);
  Load(copy, Le(static_cast<std::uint32_t>(rich.GetFbfrSize()) + 8) + richImage.substr(4) + "trailing",
       &TTxFbfr::ReadFBFRdata);
  EXPECT_EQ(Fcmp32(copy.GetFbfrP(), rich.GetFbfrP()), 0);
  EXPECT_EQ(Foccur32(copy.GetFbfrP(), kCarray), 2);

  const std::string refused =
      "Obraz bufora FML (FBFRdata) jest uszkodzony albo zapisała go inna biblioteka FML32 - nie został wczytany"_ansi
          .str();
  const std::string before = Contents(b);
  std::string foreign = image;
  for (int i = 4; i < 12; ++i) foreign[static_cast<std::size_t>(i)] = 'Z';
  EXPECT_EQ(Refused<EReadError>(b, foreign, &TTxFbfr::ReadFBFRdata), refused);
  EXPECT_EQ(Refused<EReadError>(b, Le(4) + "abcd", &TTxFbfr::ReadFBFRdata), refused);
  EXPECT_EQ(Refused<EReadError>(b, Le(600) + image.substr(4), &TTxFbfr::ReadFBFRdata), refused);
  EXPECT_EQ(Refused<EReadError>(b, Le(512) + std::string(512, '\x5A'), &TTxFbfr::ReadFBFRdata),
            refused);
  // A pointer saved with the image points nowhere in this process.
  TTxFbfr withPointer(nullptr, 256);
  char* pointed = tpalloc(const_cast<char*>("FML32"), nullptr, 256);
  const FLDID32 pointer = Fmkfldid32(FLD_PTR, 209);
  ASSERT_NE(Fadd32(withPointer.GetFbfrP(), pointer, reinterpret_cast<char*>(&pointed), 0), -1);
  const std::string pointerImage = Image(withPointer);
  Fdelall32(withPointer.GetFbfrP(), pointer);
  tpfree(pointed);
  EXPECT_EQ(Refused<EReadError>(b, pointerImage, &TTxFbfr::ReadFBFRdata), refused);
  EXPECT_EQ(Contents(b), before);

  // Whatever one damaged byte does, the buffer ends either refused and
  // unchanged or holding a buffer that FML32 can read whole.
  for (std::size_t i = 4; i < image.size(); ++i) {
    std::string damaged = image;
    damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
    TTxFbfr target(nullptr, 256);
    AddLong(target, kLong, 1);
    const std::string message =
        MessageOf<EReadError>([&] { Load(target, damaged, &TTxFbfr::ReadFBFRdata); }).str();
    if (message == "(no exception)") {
      EXPECT_EQ(Fielded32(target.GetFbfrP()), 1) << i;
      TMemoryStream again;
      target.WriteFBFRContents(&again);
    } else {
      EXPECT_EQ(message, refused) << i;
      EXPECT_EQ(Tx::FieldLong(target.GetFbfrP(), kLong, 0), 1) << i;
    }
  }
}

// ---- Inside a form -----------------------------------------------------------------------

class THolder : public TComponent {
 public:
  explicit THolder(TComponent* owner) : TComponent(owner), FData(this, 1024) {}
  TTxFbfr* GetData() { return &FData; }
  void SetData(TTxFbfr* v) { FData = *v; }

 private:
  TTxFbfr FData;
};
[[maybe_unused]] const bool kPublished = [] {
  PublishClass<THolder, TComponent>("THolder").Object("Data", &THolder::GetData, &THolder::SetData);
  return true;
}();

std::string TextForm(THolder& h) {
  TMemoryStream s;
  WriteComponentToStream(&s, &h, TFormFileFormat::ffText);
  return Bytes(s);
}
void ReadForm(THolder& h, const std::string& text) {
  TMemoryStream s;
  s.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
  s.SetPosition(0);
  ReadComponentFromStream(&s, &h);
}

TEST(FbfrInForm, EmptyBufferWritesNothing) {
  THolder h(nullptr);
  h.SetName("H");
  EXPECT_EQ(TextForm(h), "object H: THolder\nend\n");
  AddLong(*h.GetData(), kLong, 5);
  ReadForm(h, "object H: THolder\nend\n");
  EXPECT_EQ(Fnum32(h.GetData()->GetFbfrP()), 1);  // nothing read, nothing changed
}

TEST(FbfrInForm, OldRawImageLoadsAndIsSavedInTheNewFormat) {
  THolder h(nullptr);
  h.SetName("H");
  AddLong(*h.GetData(), kLong, 5);
  std::string hex;
  for (const unsigned char c : Image(*h.GetData())) {
    static const char digits[] = "0123456789ABCDEF";
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  THolder loaded(nullptr);
  ReadForm(loaded, "object H: THolder\n  Data.FBFRdata = {" + hex + "}\nend\n");
  EXPECT_EQ(Tx::FieldLong(loaded.GetData()->GetFbfrP(), kLong, 0), 5);
  const std::string saved = TextForm(loaded);
  EXPECT_EQ(saved.find("FBFRdata"), std::string::npos);
  EXPECT_EQ(saved,
            "object H: THolder\n  Data.FBFRContents = {\n    0100C9000002010000000100000005000000"
            "2A464255465F454E442A00}\nend\n");
  EXPECT_EQ(MessageOf<EReadError>(
                [&] { ReadForm(loaded, "object H: THolder\n  Data.FBFRdata = {00}\nend\n"); }),
            "Error reading H.Data.FBFRdata: Stream read error");
}

}  // namespace
}  // namespace Tx
