// Field-table parsing from arbitrary text, through the engine's parser of
// table text held in memory.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/tuxedo/builtin/fml32_fieldtable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Tx::Fml32Builtin::FieldTable table;
  const int result =
      Tx::Fml32Builtin::ParseFieldTable(std::string_view(reinterpret_cast<const char*>(data), size), table);
  if (result != 0 && result != FFTSYNTAX && result != FMALLOC) std::abort();
  // Every entry names a valid field, and both directions agree on first meanings.
  for (const auto& [name, id] : table.idsByName) {
    if (name.empty() || Fldno32(id) < 1 || Fldno32(id) > FMAXNUM32 || Ftype32(id) == nullptr) std::abort();
    if (table.namesById.find(id) == table.namesById.end()) std::abort();
  }
  for (const auto& [id, name] : table.namesById) {
    if (table.idsByName.find(name) == table.idsByName.end()) std::abort();
  }
  return 0;
}
