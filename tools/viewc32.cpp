// viewc32: checks view description files and writes the C header of their
// views, so that programs declare the structures the view functions fill:
//
//   viewc32 [-n] [-d viewdir] viewfile [viewfile ...]
//
// Each view file "dir/name.ext" becomes the header "name.h" in the current
// directory and the view file "viewdir/name.V" (viewdir defaults to the
// current directory) for VIEWFILES32 and VIEWDIR32. The FML32 engine reads
// view descriptions as text, so "name.V" is the checked description itself.
// Unless -n is given, every field a view names must be in the field tables
// of FIELDTBLS32 and FLDTBLDIR32. A view name may appear in one file only.
// Exit status 0, or 1 after a message on stderr ("viewc32: file:line: why")
// when a file cannot be read, is malformed or its output cannot be written;
// then nothing is written for that file.
//
// The header, guarded against a second inclusion, declares per view
//   struct <view> {
//   <TAB>short<TAB>C_<cname>;<TAB>/* count of <cname> */        (flag C)
//   <TAB>unsigned short<TAB>L_<cname>[count];<TAB>/* length of <cname> */ (flag L)
//   <TAB><type><TAB><cname>[count][size];<TAB>/* null=<null> */
//   };
// with array bounds only where count or size exceed one element; '$' lines
// of the view file are copied before the view that follows them.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fml32.h>

#include "../platform/tuxedo/builtin/fml32_viewfile.h"

#include "GeneratorFiles.h"

namespace {

using TxTools::Failure;
using TxTools::ReadFile;
using TxTools::WriteWhole;

using Tx::Fml32Builtin::ViewDescription;
using Tx::Fml32Builtin::ViewMember;

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

// Text for a C comment: a "*/" in a null value would end it early.
std::string Commented(std::string text) {
  for (std::size_t at = text.find("*/"); at != std::string::npos; at = text.find("*/", at)) text.insert(at + 1, " ");
  return text;
}

std::string Guard(const std::string& base) {
  std::string guard = "VIEWC32_";
  for (const char c : base) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    guard += plain ? static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c) : '_';
  }
  return guard + "_H";
}

std::string Bounds(const ViewMember& member) {
  std::string bounds;
  if (member.count > 1) bounds += "[" + std::to_string(member.count) + "]";
  if (member.type == FLD_STRING || member.type == FLD_CARRAY || member.type == FLD_MBSTRING) {
    bounds += "[" + std::to_string(member.size) + "]";
  }
  return bounds;
}

std::string Declare(const ViewDescription& view) {
  std::string text;
  for (const std::string& line : view.headerText) text += line + "\n";
  text += "struct " + view.name + " {\n";
  for (const ViewMember& member : view.members) {
    if (member.countMember) text += "\tshort\tC_" + member.cname + ";\t/* count of " + member.cname + " */\n";
    if (member.lengthMember) {
      text += "\tunsigned short\tL_" + member.cname + (member.count > 1 ? "[" + std::to_string(member.count) + "]" : "") +
              ";\t/* length of " + member.cname + " */\n";
    }
    text += std::string("\t") + Tx::Fml32Builtin::CTypeName(member.type) + "\t" + member.cname + Bounds(member) +
            ";\t/* null=" + Commented(member.nullText) + " */\n";
  }
  return text + "};\n\n";
}

int Usage() {
  std::fprintf(stderr, "usage: viewc32 [-n] [-d viewdir] viewfile [viewfile ...]\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string viewdir = ".";
  bool checkFields = true;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "-d") {
      if (++i == argc) return Usage();
      viewdir = argv[i];
    } else if (argument == "-n") {
      checkFields = false;
    } else if (!argument.empty() && argument[0] == '-') {
      return Usage();
    } else {
      files.push_back(argument);
    }
  }
  if (files.empty()) return Usage();

  int status = 0;
  std::map<std::string, std::string> viewFiles;  // view name -> the file that defines it
  for (const std::string& file : files) {
    try {
      std::string text;
      if (!ReadFile(file, text)) throw Failure{"cannot open view file " + file};
      const Tx::Fml32Builtin::FieldLookup lookup = [](const std::string& name, FLDID32& id) {
        id = Fldid32(const_cast<char*>(name.c_str()));
        return id != BADFLDID;
      };
      std::vector<ViewDescription> views;
      Tx::Fml32Builtin::ViewFileProblem problem;
      if (!Tx::Fml32Builtin::ParseViewFile(text, lookup, views, problem)) {
        throw Failure{file + ":" + std::to_string(problem.line) + ": " + problem.message};
      }
      const std::string guard = Guard(BaseName(file));
      std::string header = "/* Views of " + BaseName(file) + ", written by viewc32 from " + Commented(file) +
                           " */\n#ifndef " + guard + "\n#define " + guard + "\n\n";
      for (const ViewDescription& view : views) {
        const auto [at, added] = viewFiles.emplace(view.name, file);
        if (!added) throw Failure{file + ": view " + view.name + " is also defined in " + at->second};
        for (const ViewMember& member : view.members) {
          if (checkFields && !member.fbname.empty() && Fldid32(const_cast<char*>(member.fbname.c_str())) == BADFLDID) {
            throw Failure{file + ": view " + view.name + ": field " + member.fbname + " is not in the field tables"};
          }
        }
        header += Declare(view);
      }
      WriteWhole(viewdir + "/" + BaseName(file) + ".V", text);
      WriteWhole(BaseName(file) + ".h", header + "#endif\n");
    } catch (const Failure& failure) {
      std::fprintf(stderr, "viewc32: %s\n", failure.message.c_str());
      status = 1;
    }
  }
  return status;
}
