// mkfldhdr32: turns FML32 field tables into C headers, one per table, so
// that programs name fields by compile-time constants:
//
//   mkfldhdr32 [-d outdir] [field_table ...]
//
// Each table "dir/name" becomes "outdir/name.h" (outdir defaults to the
// current directory). Without tables on the command line the tables are
// those of FIELDTBLS32 (comma-separated, "fld.tbl" when unset), looked up
// in the directories of FLDTBLDIR32 (colon-separated, the current directory
// when unset), as the FML32 functions find them at run time.
//
// Per field the header has one line
//   #define<TAB>NAME<TAB>((FLDID32)id)<TAB>/* number: n type: t */
// under a two-line heading; a table line starting with '$' is copied into
// the header without the '$'. A name defined twice keeps its first number,
// as the run-time lookup does. The header is written to a temporary file
// and renamed, so a build never sees half a header. Exit status 0, or 1
// after a message on stderr when a table cannot be read, has a malformed
// line or its header cannot be written (no header is left for it).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "GeneratorFiles.h"

namespace {

using TxTools::Failure;
using TxTools::ReadFile;
using TxTools::WriteWhole;

// The field types a table may name, in the order of their type codes.
constexpr const char* kTypeNames[] = {"short", "long",  "char", "float",  "double", "string",   "carray",
                                      "int",   "dec_t", "ptr",  "fml32",  "view32", "mbstring", "fml"};
constexpr long long kMaxFieldNumber = 33554431;  // 2^25 - 1

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    const std::size_t start = at;
    while (at < line.size() && !IsBlank(line[at])) ++at;
    if (at > start) words.emplace_back(line.substr(start, at - start));
  }
  return words;
}

bool ParseNumber(const std::string& word, long long& value) {
  if (word.empty() || word.size() > 12) return false;
  std::size_t at = (word[0] == '+' || word[0] == '-') ? 1 : 0;
  if (at == word.size()) return false;
  for (std::size_t i = at; i < word.size(); ++i) {
    if (word[i] < '0' || word[i] > '9') return false;
  }
  value = std::strtoll(word.c_str(), nullptr, 10);
  return true;
}

bool IsFieldName(const std::string& word) {
  if (word.empty() || (word[0] >= '0' && word[0] <= '9')) return false;
  for (const char c : word) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

int TypeCode(const std::string& name) {
  for (int type = 0; type < static_cast<int>(std::size(kTypeNames)); ++type) {
    if (name == kTypeNames[type]) return type;
  }
  return -1;
}

// The header text for one table; throws Failure for a malformed line.
std::string Translate(const std::string& text, const std::string& tableName) {
  std::ostringstream header;
  header << "/*\tfname\tfldid            */\n"
         << "/*\t-----\t-----            */\n";
  std::set<std::string> defined;
  long long base = 0;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    const auto fail = [&](const std::string& why) {
      throw Failure{tableName + ":" + std::to_string(number) + ": " + why};
    };
    std::size_t start = 0;
    while (start < line.size() && IsBlank(line[start])) ++start;
    const std::string_view content = std::string_view(line).substr(start);
    if (content.empty() || content.front() == '#') continue;
    if (content.front() == '$') {
      header << content.substr(1) << '\n';
      continue;
    }
    const std::vector<std::string> words = Words(content);
    if (content.front() == '*') {
      if (words.size() < 2 || words[0] != "*base" || !ParseNumber(words[1], base)) fail("bad *base line");
      continue;
    }
    long long relative = 0;
    if (words.size() < 3) fail("a field needs a name, a number and a type");
    if (!IsFieldName(words[0])) fail("bad field name '" + words[0] + "'");
    if (!ParseNumber(words[1], relative)) fail("bad field number '" + words[1] + "'");
    const long long fieldNumber = base + relative;
    if (fieldNumber < 1 || fieldNumber > kMaxFieldNumber) fail("field number out of range");
    const int type = TypeCode(words[2]);
    if (type < 0) fail("unknown field type '" + words[2] + "'");
    if (!defined.insert(words[0]).second) {
      std::fprintf(stderr, "mkfldhdr32: %s:%d: %s defined again; the first definition stays\n", tableName.c_str(),
                   number, words[0].c_str());
      continue;
    }
    const unsigned long id = static_cast<unsigned long>(type) << 25 | static_cast<unsigned long>(fieldNumber);
    header << "#define\t" << words[0] << "\t((FLDID32)" << id << ")\t/* number: " << fieldNumber
           << " type: " << words[2] << " */\n";
  }
  return header.str();
}

std::vector<std::string> Split(const std::string& list, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = list.find(separator, start);
    parts.push_back(list.substr(start, at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

// The path of a table named by FIELDTBLS32, searched in FLDTBLDIR32.
std::string Locate(const std::string& name) {
  const char* directories = std::getenv("FLDTBLDIR32");
  if (name.empty() || name[0] == '/' || directories == nullptr) return name;
  for (const std::string& directory : Split(directories, ':')) {
    const std::string path = directory.empty() ? name : directory + "/" + name;
    if (std::ifstream(path)) return path;
  }
  return name;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Usage() {
  std::fprintf(stderr, "usage: mkfldhdr32 [-d outdir] [field_table ...]\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string outdir = ".";
  std::vector<std::string> tables;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "-d") {
      if (++i == argc) return Usage();
      outdir = argv[i];
    } else if (argument.rfind("-d", 0) == 0 && argument.size() > 2) {
      outdir = argument.substr(2);
    } else if (!argument.empty() && argument[0] == '-') {
      return Usage();
    } else {
      tables.push_back(argument);
    }
  }
  if (tables.empty()) {
    const char* listed = std::getenv("FIELDTBLS32");
    for (const std::string& name : Split(listed != nullptr && *listed != '\0' ? listed : "fld.tbl", ',')) {
      if (!name.empty()) tables.push_back(Locate(name));
    }
  }
  int status = 0;
  for (const std::string& table : tables) {
    try {
      std::string text;
      if (!ReadFile(table, text)) throw Failure{"cannot open field table " + table};
      WriteWhole(outdir + "/" + BaseName(table) + ".h", Translate(text, table));
    } catch (const Failure& failure) {
      std::fprintf(stderr, "mkfldhdr32: %s\n", failure.message.c_str());
      status = 1;
    }
  }
  return status;
}
