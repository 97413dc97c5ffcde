// Field tables: parsing, lookup through the environment, and the mapping
// functions Fname32, Fldid32, Fnmid_unload32 and Fidnm_unload32.
#include "fml32_fieldtable.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#include "fml32_block.h"

namespace Tx::Fml32Builtin {
namespace {

// The two directions are loaded and dropped independently, as the two
// unload functions require; each holds a whole parsed set of tables.
struct LoadedTables {
  std::mutex mutex;
  std::shared_ptr<const FieldTable> forNames;  // name -> id (Fldid32)
  std::shared_ptr<const FieldTable> forIds;    // id -> name (Fname32)
};

LoadedTables& Tables() {
  static LoadedTables* tables = new LoadedTables;  // never destroyed: Fname32 results stay readable at exit
  return *tables;
}

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    const std::size_t start = at;
    while (at < line.size() && !IsBlank(line[at])) ++at;
    if (at > start) words.push_back(line.substr(start, at - start));
  }
  return words;
}

// A decimal integer of modest size (field numbers and bases), optionally signed.
bool ParseNumber(std::string_view word, long long& value) noexcept {
  constexpr long long kLimit = 1LL << 40;
  if (!word.empty() && word.front() == '+') word.remove_prefix(1);
  const auto result = std::from_chars(word.data(), word.data() + word.size(), value);
  return result.ec == std::errc() && result.ptr == word.data() + word.size() && value > -kLimit && value < kLimit;
}

bool IsFieldName(std::string_view word) noexcept {
  for (const char c : word) {
    const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letterOrDigit && c != '_') return false;
  }
  return !word.empty();
}

int ParseLines(std::string_view text, FieldTable& table) {
  long long base = 0;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    if (line.empty() || line.front() == '#' || line.front() == '$') continue;

    const std::vector<std::string_view> words = Words(line);
    if (line.front() == '*') {
      if (words.size() < 2 || words[0] != "*base" || !ParseNumber(words[1], base)) return FFTSYNTAX;
      continue;
    }
    long long relative = 0;
    if (words.size() < 3 || !IsFieldName(words[0]) || !ParseNumber(words[1], relative)) return FFTSYNTAX;
    const long long number = base + relative;
    const int type = TypeFromName(words[2]);
    if (number < 1 || number > FMAXNUM32 || type == kNoType) return FFTSYNTAX;
    const FLDID32 id = static_cast<FLDID32>(type) << 25 | static_cast<FLDID32>(number);
    table.idsByName.try_emplace(std::string(words[0]), id);
    table.namesById.try_emplace(id, std::string(words[0]));
  }
  return 0;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  content.clear();
  char chunk[8192];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, got);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

std::vector<std::string> Split(std::string_view list, char separator) {
  std::vector<std::string> parts;
  while (true) {
    const std::size_t at = list.find(separator);
    parts.emplace_back(list.substr(0, at));
    if (at == std::string_view::npos) break;
    list.remove_prefix(at + 1);
  }
  return parts;
}

bool FindTable(const std::string& name, const char* directories, std::string& content) {
  if (name.front() == '/' || directories == nullptr) return ReadWholeFile(name, content);
  for (const std::string& directory : Split(directories, ':')) {
    const std::string path = directory.empty() ? name : directory + "/" + name;
    if (ReadWholeFile(path, content)) return true;
  }
  return false;
}

std::string Trimmed(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

// Loads the tables into `slot` unless they are there; the lock is held.
int EnsureLoaded(std::shared_ptr<const FieldTable>& slot) noexcept {
  if (slot) return 0;
  try {
    auto table = std::make_shared<FieldTable>();
    if (const int error = LoadFieldTables(*table)) return error;
    slot = std::move(table);
    return 0;
  } catch (const std::bad_alloc&) {
    return FMALLOC;
  }
}

}  // namespace

int ParseFieldTable(std::string_view text, FieldTable& table) noexcept {
  try {
    return ParseLines(text, table);
  } catch (const std::bad_alloc&) {
    return FMALLOC;
  }
}

int LoadFieldTables(FieldTable& table) noexcept {
  try {
    const char* files = std::getenv("FIELDTBLS32");
    const char* directories = std::getenv("FLDTBLDIR32");
    const std::string list = files != nullptr && *files != '\0' ? files : "fld.tbl";
    std::string content;
    for (const std::string& entry : Split(list, ',')) {
      const std::string name = Trimmed(entry);
      if (name.empty()) continue;
      if (!FindTable(name, directories, content)) return FFTOPEN;
      if (const int error = ParseLines(content, table)) return error;
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return FMALLOC;
  }
}

std::shared_ptr<const FieldTable> NameTableForPrinting() noexcept {
  LoadedTables& tables = Tables();
  std::lock_guard lock(tables.mutex);
  if (EnsureLoaded(tables.forIds) != 0) return nullptr;
  return tables.forIds;
}

}  // namespace Tx::Fml32Builtin

using namespace Tx::Fml32Builtin;

extern "C" {

char* Fname32(FLDID32 fieldid) {
  LoadedTables& tables = Tables();
  std::lock_guard lock(tables.mutex);
  if (const int error = EnsureLoaded(tables.forIds)) {
    SetError(error);
    return nullptr;
  }
  const auto found = tables.forIds->namesById.find(fieldid);
  if (found == tables.forIds->namesById.end()) {
    SetError(FBADFLD);
    return nullptr;
  }
  // Valid until the id-to-name tables are unloaded.
  return const_cast<char*>(found->second.c_str());
}

FLDID32 Fldid32(char* name) {
  if (name == nullptr) {
    SetError(FBADNAME);
    return BADFLDID;
  }
  LoadedTables& tables = Tables();
  std::lock_guard lock(tables.mutex);
  if (const int error = EnsureLoaded(tables.forNames)) {
    SetError(error);
    return BADFLDID;
  }
  try {
    const auto found = tables.forNames->idsByName.find(std::string(name));
    if (found != tables.forNames->idsByName.end()) return found->second;
  } catch (const std::bad_alloc&) {
    SetError(FMALLOC);
    return BADFLDID;
  }
  SetError(FBADNAME);
  return BADFLDID;
}

void Fnmid_unload32(void) {
  LoadedTables& tables = Tables();
  std::lock_guard lock(tables.mutex);
  tables.forNames.reset();
}

void Fidnm_unload32(void) {
  LoadedTables& tables = Tables();
  std::lock_guard lock(tables.mutex);
  tables.forIds.reset();
}

}  // extern "C"
