// txcall's table view of a reply (--table): the occurrences of a group of
// fields printed as rows, the way people look at a select's reply.
//
// The columns are named on the command line, either as a comma-separated
// list of field names, which the field tables resolve, or as "@FILE", a
// field table whose fields (in the file's order) are the columns. Row i holds
// occurrence i of every column; a column with fewer occurrences leaves its
// cell empty, and so does a null value. Numbers are right-aligned, texts
// left-aligned; texts are Windows-1250 in the buffer and UTF-8 on the
// terminal. A field table usually names more fields than one reply holds,
// so its fields without an occurrence in the reply are left out.
#pragma once

#include <fml32.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "buffer/TxFbfr.h"

namespace TxcallTable {

struct Column {
  std::string Name;
  FLDID32 Id = BADFLDID;
  bool OnlyWhenPresent = false;  // from a field table file: left out of a reply without it
};

inline std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The FML32 type of a field table's type word, or -1.
inline int TypeOf(const std::string& word) {
  static const char* const names[] = {"short", "long", "char", "float", "double", "string", "carray"};
  for (int type = 0; type < 7; ++type)
    if (word == names[type]) return type;
  return -1;
}

// The columns of a field table file: "name number type ..." lines after
// "*base N" lines; blank lines and those starting with '#' or '$' are
// skipped. False (after a message) when the file cannot be read or holds a
// line that is not a field.
inline bool ColumnsOfFile(const std::string& path, std::vector<Column>& columns) {
  std::ifstream file(path);
  if (!file) {
    std::fprintf(stderr, "txcall: --table: cannot read the field table '%s'\n", path.c_str());
    return false;
  }
  long base = 0;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    line = Trimmed(line);
    if (line.empty() || line[0] == '#' || line[0] == '$') continue;
    std::istringstream words(line);
    std::string name, type;
    long field = 0;
    if (line.rfind("*base", 0) == 0) {
      if (words >> name >> base) continue;
    } else if (words >> name >> field >> type && TypeOf(type) >= 0 && field > 0) {
      columns.push_back({name, Fmkfldid32(TypeOf(type), static_cast<FLDID32>(base + field)), true});
      continue;
    }
    std::fprintf(stderr, "txcall: --table: %s, line %d is not a field: %s\n", path.c_str(), number, line.c_str());
    return false;
  }
  return true;
}

// The columns named by the --table argument; false (after a message) when
// one is unknown or none is named.
inline bool ParseColumns(const std::string& argument, std::vector<Column>& columns) {
  columns.clear();
  if (!argument.empty() && argument[0] == '@') {
    if (!ColumnsOfFile(argument.substr(1), columns)) return false;
  } else {
    std::istringstream list(argument);
    for (std::string name; std::getline(list, name, ',');) {
      name = Trimmed(name);
      if (name.empty()) continue;
      const FLDID32 id = Fldid32(const_cast<char*>(name.c_str()));
      Ferror32 = 0;
      if (id == BADFLDID) {
        std::fprintf(stderr, "txcall: --table: no field named '%s' in the field tables\n", name.c_str());
        return false;
      }
      columns.push_back({name, id});
    }
  }
  if (columns.empty()) {
    std::fprintf(stderr, "txcall: --table names no columns\n");
    return false;
  }
  return true;
}

// Characters of a UTF-8 text.
inline std::size_t Width(const std::string& utf8) {
  return static_cast<std::size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

inline bool IsNumber(FLDID32 id) {
  const int type = Fldtype32(id);
  return type == FLD_SHORT || type == FLD_LONG || type == FLD_FLOAT || type == FLD_DOUBLE;
}

// One cell as the terminal shows it.
inline std::string Cell(Tx::TTxFbfr& reply, const Column& column, int occ) {
  if (occ >= reply.OccCount(column.Id)) return "";
  try {
    const Tx::Variant value = reply.GetValues(column.Id, occ);
    return Tx::VarIsNull(value) ? std::string() : Tx::AnsiToUtf8(Tx::VarToStr(value));
  } catch (const Tx::Exception&) {
    return "?";
  }
}

// Prints the reply's occurrences of the columns as a table and the number of rows.
inline void Print(Tx::TTxFbfr& reply, const std::vector<Column>& named, std::FILE* out) {
  std::vector<Column> columns;
  for (const Column& column : named)
    if (!column.OnlyWhenPresent || reply.OccCount(column.Id) > 0) columns.push_back(column);
  if (columns.empty()) {
    std::fprintf(out, "(no columns in this reply)\n");
    return;
  }
  int rows = 0;
  for (const Column& column : columns) rows = std::max(rows, reply.OccCount(column.Id));
  std::vector<std::vector<std::string>> cells(static_cast<std::size_t>(rows) + 1);
  std::vector<std::size_t> widths;
  for (const Column& column : columns) {
    cells[0].push_back(column.Name);
    widths.push_back(Width(column.Name));
    for (int occ = 0; occ < rows; ++occ) {
      cells[static_cast<std::size_t>(occ) + 1].push_back(Cell(reply, column, occ));
      widths.back() = std::max(widths.back(), Width(cells[static_cast<std::size_t>(occ) + 1].back()));
    }
  }
  const auto printLine = [&](const std::vector<std::string>& line, bool header) {
    std::string text;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::string padding(widths[c] - Width(line[c]), ' ');
      const bool right = !header && IsNumber(columns[c].Id);
      text += (c == 0 ? "" : "  ") + (right ? padding + line[c] : line[c] + padding);
    }
    text.erase(text.find_last_not_of(' ') + 1);
    std::fprintf(out, "%s\n", text.c_str());
  };
  printLine(cells[0], true);
  std::vector<std::string> rule;
  for (const std::size_t width : widths) rule.emplace_back(width, '-');
  printLine(rule, true);
  for (int occ = 0; occ < rows; ++occ) printLine(cells[static_cast<std::size_t>(occ) + 1], false);
  std::fprintf(out, "(%d %s)\n", rows, rows == 1 ? "row" : "rows");
}

}  // namespace TxcallTable
