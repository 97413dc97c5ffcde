// A data set driven by arbitrary bytes: the first bytes declare a contract
// (column types, sizes, logical types, groups), the next ones fill the
// buffer with occurrences of any length and content, and the rest is a
// sequence of operations on a TTxFbfrDSet over it: moves, edits, appends,
// posts, cancels, deletes, orders, the filter, Locate, bookmarks and BLOB
// streams. Every operation either works or raises the library's Exception;
// anything else, a crash or a sanitizer report is a finding.
#include <fml32.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/TxGlobal.h"
#include "dataset/TxFbDset.h"
#include "platform/framework/Dialogs.h"

namespace {

using namespace Tx;

class TInput {
 public:
  TInput(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
  bool Empty() const { return FPos >= FSize; }
  std::uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  int Int() {
    std::int32_t value = 0;
    for (int i = 0; i < 4; ++i) value = static_cast<std::int32_t>((static_cast<std::uint32_t>(value) << 8) | Byte());
    return value;
  }
  std::string Text(std::size_t limit) {
    const std::size_t length = Byte() % (limit + 1);
    std::string text;
    for (std::size_t i = 0; i < length && !Empty(); ++i) text.push_back(static_cast<char>(Byte()));
    return text;
  }

 private:
  const std::uint8_t* FData;
  std::size_t FSize;
  std::size_t FPos = 0;
};

// The filter reads a field of the row it is asked about, as handlers do.
struct THandlers {
  int Modulus = 2;
  void Filter(TDataSet* dataSet, bool& accept) {
    if (dataSet->FieldCount() == 0) return;
    const TField* field = dataSet->Fields()->Fields(0);
    accept = field->IsBlob() || field->AsString().Length() % Modulus == 0;
  }
  void Update(TDataSet*, TUpdateKind) {}
};

bool IsEditState(TDataSetState state) { return state == dsEdit || state == dsInsert; }

// Operations that keep the active row where it is, so open streams stay usable.
bool KeepsTheRow(int operation) { return operation == 12 || operation >= 19; }

const char* const kNames[] = {"A", "B", "C", "D", "E", "F"};
const char* const kExpressions[] = {"", "A", "\\B,A", "^C", "%D,\\E", "F", "1A", "A,B,C,D", "NOSUCH"};

void Operate(int operation, TTxFbfrDSet& ds, TTxFbfr& other, THandlers& handlers, TInput& in,
             std::vector<std::unique_ptr<TStream>>& streams, std::vector<TBookmark>& bookmarks) {
  const int fieldCount = ds.Active() ? ds.FieldCount() : 0;
  TField* field = fieldCount > 0 ? ds.Fields()->Fields(in.Byte() % fieldCount) : nullptr;
  switch (operation) {
    case 0: ds.SetActive(!ds.Active()); break;
    case 1: ds.First(); break;
    case 2: ds.Next(); break;
    case 3: ds.Prior(); break;
    case 4: ds.Last(); break;
    case 5: ds.MoveBy(static_cast<signed char>(in.Byte())); break;
    case 6: ds.SetRecNo(in.Byte()); break;
    case 7: ds.Edit(); break;
    case 8: ds.Append(); break;
    case 9: ds.Post(); break;
    case 10: ds.Cancel(); break;
    case 11: ds.Delete(); break;
    case 12:
      if (field) {
        switch (in.Byte() % 4) {
          case 0: field->SetAsString(AnsiString(in.Text(40))); break;
          case 1: field->SetAsInteger(in.Int()); break;
          case 2: field->SetAsFloat(static_cast<double>(in.Int()) / 7.0); break;
          default: field->Clear(); break;
        }
      }
      break;
    case 13: ds.SetIndexExpr(kExpressions[in.Byte() % (sizeof kExpressions / sizeof kExpressions[0])]); break;
    case 14: ds.SetFiltered(!ds.Filtered()); break;
    case 15:
      ds.SetOnFilterRecord(ds.OnFilterRecord() ? TFilterRecordEvent()
                                               : TFilterRecordEvent(&handlers, &THandlers::Filter));
      break;
    case 16:
      if (field) {
        TLocateOptions options;
        const std::uint8_t bits = in.Byte();
        if (bits & 1) options << loCaseInsensitive;
        if (bits & 2) options << loPartialKey;
        ds.Locate(field->FieldName(), Variant(AnsiString(in.Text(8))), options);
      }
      break;
    case 17:
      if (bookmarks.size() < 8) bookmarks.push_back(ds.GetBookmark());
      break;
    case 18:
      if (!bookmarks.empty()) {
        const std::size_t i = in.Byte() % bookmarks.size();
        if (ds.BookmarkValid(bookmarks[i])) ds.GotoBookmark(bookmarks[i]);
        ds.CompareBookmarks(bookmarks[i], bookmarks[in.Byte() % bookmarks.size()]);
      }
      break;
    case 19:
      // Streams live only while their row stays active; they are dropped
      // before anything else moves the data set.
      if (field && field->IsBlob() && streams.size() < 3)
        streams.emplace_back(ds.CreateBlobStream(field, static_cast<TBlobStreamMode>(in.Byte() % 3)));
      break;
    case 20:
      if (!streams.empty()) {
        TStream* stream = streams[in.Byte() % streams.size()].get();
        char bytes[64] = {};
        switch (in.Byte() % 4) {
          case 0: stream->Read(bytes, in.Byte() % 64); break;
          case 1: {
            const std::string text = in.Text(64);
            stream->Write(text.data(), static_cast<int>(text.size()));
            break;
          }
          case 2: stream->Seek(static_cast<signed char>(in.Byte()), static_cast<unsigned short>(in.Byte() % 3)); break;
          default: static_cast<TTxBlobStream*>(stream)->Truncate(); break;
        }
      }
      break;
    case 21:
      if (ds.Active()) {
        ds.RecordCount();
        ds.RecNo();
      }
      break;
    case 22: ds.AppendCurrentValues(&other); break;
    default:
      if (ds.Active() && IsEditState(ds.State())) ds.RefreshCurrentValues(&other);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TRecordingUserInterface* ui = new TRecordingUserInterface;
  static TUserInterfaceScope* scope = new TUserInterfaceScope(*ui);
  static const bool translated = (TTxGlobalClient::SetTranslateType(txttWindows), true);
  (void)scope;
  (void)translated;
  ui->Clear();

  TInput in(data, size);
  TTxFbfrDef contract(nullptr);
  const int columns = 1 + in.Byte() % 6;
  std::vector<FLDID32> ids;
  for (int i = 0; i < columns; ++i) {
    const FLDID32 id = Fmkfldid32(in.Byte() % 7, static_cast<FLDID32>(801 + i));
    TTxFbfrFldDef* def = contract.AddFldDef(id);
    def->SetTxFldName(kNames[i]);
    const std::uint8_t sizing = in.Byte();
    try {
      def->SetMaxSize(sizing % 4 == 0 ? 0 : (sizing % 4 == 3 ? 9000 : sizing % 40));
      def->SetLogicalType(static_cast<TTxFldLogicalType>(in.Byte() % 6));
    } catch (const Exception&) {
      // A logical type the FML32 type cannot take: the definition keeps its default.
    }
    def->SetGroup(in.Byte() % 3 == 0 ? 1 : 0);
    ids.push_back(id);
  }
  TTxFbfr buffer(nullptr, 8192);
  buffer.Contract = &contract;
  // Occurrences of any content, straight into the buffer.
  const int values = in.Byte() % 48;
  for (int i = 0; i < values && !in.Empty(); ++i) {
    const FLDID32 id = ids[in.Byte() % ids.size()];
    std::string bytes = in.Text(24);
    const int type = Fldtype32(id);
    if (type == FLD_SHORT || type == FLD_LONG || type == FLD_FLOAT || type == FLD_DOUBLE || type == FLD_CHAR)
      bytes.resize(8, '\0');
    if (type == FLD_STRING) bytes.push_back('\0');
    try {
      buffer.EnsureSpace(id, -1, static_cast<int>(bytes.size()) + 16);
      Fadd32(buffer.GetFbfrP(), id, bytes.data(), static_cast<FLDLEN32>(bytes.size()));
    } catch (const Exception&) {
    }
  }
  TTxFbfr other(nullptr, 4096);
  other.Contract = &contract;

  THandlers handlers;
  std::vector<std::unique_ptr<TStream>> streams;
  std::vector<TBookmark> bookmarks;
  {
    TTxFbfrDSet ds(nullptr);
    ds.SetTxFbfr(&buffer);
    try {
      ds.SetFldGroup(in.Byte() % 3 - 1);
    } catch (const Exception&) {
    }
    ds.OnUpdateRecord = TTxUpdateRecordEvent(&handlers, &THandlers::Update);
    for (int step = 0; step < 200 && !in.Empty(); ++step) {
      const int operation = in.Byte() % 24;
      // Streams end where their row stops being the active one.
      if (!KeepsTheRow(operation)) streams.clear();
      try {
        Operate(operation, ds, other, handlers, in, streams, bookmarks);
      } catch (const Exception&) {
        streams.clear();
      }
    }
    streams.clear();
    for (TBookmark bookmark : bookmarks) ds.FreeBookmark(bookmark);
  }
  return 0;
}
