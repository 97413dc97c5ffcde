// mkfldhdr32 run as a user runs it: the headers it writes, compared whole,
// its messages and exit status, and agreement of the generated ids with
// what Fldid32 finds in the same tables at run time.
#include <fml32.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string DataDir() {
  const char* data = std::getenv("TXLIB_TESTDATA");
  return std::string(data != nullptr ? data : "tests/data") + "/fml32";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

struct ToolRun {
  int status = -1;
  std::string err;
};

class Mkfldhdr32 : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("mkfldhdr32_test_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the tool with `arguments` (already quoted where needed) and `env`
  // assignments in front.
  ToolRun Tool(const std::string& arguments, const std::string& env = "") {
    const fs::path err = dir_ / "stderr";
    const std::string command = "cd '" + dir_.string() + "' && " + env + " '" MKFLDHDR32_PROGRAM "' " +
                                arguments + " 2>'" + err.string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(err)};
  }
  fs::path dir_;
};

TEST_F(Mkfldhdr32, WritesOneDefinePerFieldNamedAfterTheTable) {
  const ToolRun run = Tool("-d out '" + DataDir() + "/accounts.tbl' '" + DataDir() + "/extra.tbl'",
                       "mkdir out &&");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "mkfldhdr32: " + DataDir() +
                         "/accounts.tbl:16: ACC_ID defined again; the first definition stays\n");
  EXPECT_EQ(ReadFile(dir_ / "out/accounts.tbl.h"),
            "/*\tfname\tfldid            */\n"
            "/*\t-----\t-----            */\n"
            " /* Fields of the accounts test domain */\n"
            "#define\tACC_ID\t((FLDID32)33555433)\t/* number: 1001 type: long */\n"
            "#define\tACC_NAME\t((FLDID32)167773162)\t/* number: 1002 type: string */\n"
            "#define\tACC_BALANCE\t((FLDID32)134218731)\t/* number: 1003 type: double */\n"
            "#define\tACC_KIND\t((FLDID32)67109868)\t/* number: 1004 type: char */\n"
            "#define\tACC_NOTE\t((FLDID32)201327597)\t/* number: 1005 type: carray */\n"
            "#define\tACC_COUNT\t((FLDID32)1006)\t/* number: 1006 type: short */\n"
            "#define\tACC_RATE\t((FLDID32)100664303)\t/* number: 1007 type: float */\n"
            "#define\tADDR_CITY\t((FLDID32)167774161)\t/* number: 2001 type: string */\n"
            "#define\tADDR_ZIP\t((FLDID32)402655186)\t/* number: 2002 type: mbstring */\n");
  EXPECT_EQ(ReadFile(dir_ / "out/extra.tbl.h"),
            "/*\tfname\tfldid            */\n"
            "/*\t-----\t-----            */\n"
            "#define\tEXTRA_FLAG\t((FLDID32)67109014)\t/* number: 150 type: char */\n"
            "#define\tEXTRA_BIG\t((FLDID32)201326591)\t/* number: 33554431 type: string */\n");
}

TEST_F(Mkfldhdr32, GeneratedIdsAreThoseTheTablesGiveAtRunTime) {
  ASSERT_EQ(Tool("'" + DataDir() + "/accounts.tbl'").status, 0);
  setenv("FLDTBLDIR32", DataDir().c_str(), 1);
  setenv("FIELDTBLS32", "accounts.tbl", 1);
  Fnmid_unload32();
  const std::string header = ReadFile(dir_ / "accounts.tbl.h");
  const std::regex define("#define\t(\\w+)\t\\(\\(FLDID32\\)(\\d+)\\)");
  int checked = 0;
  for (auto it = std::sregex_iterator(header.begin(), header.end(), define); it != std::sregex_iterator(); ++it) {
    const std::string name = (*it)[1];
    EXPECT_EQ(Fldid32(const_cast<char*>(name.c_str())), std::stoul((*it)[2])) << name;
    ++checked;
  }
  EXPECT_EQ(checked, 9);
}

TEST_F(Mkfldhdr32, WithoutArgumentsConvertsTheTablesOfTheEnvironment) {
  const ToolRun run = Tool("", "FLDTBLDIR32='/nonexistent:" + DataDir() + "' FIELDTBLS32=extra.tbl,fld.tbl");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::exists(dir_ / "extra.tbl.h"));
  EXPECT_EQ(ReadFile(dir_ / "fld.tbl.h"),
            "/*\tfname\tfldid            */\n"
            "/*\t-----\t-----            */\n"
            "#define\tDEFAULT_FIELD\t((FLDID32)167772560)\t/* number: 400 type: string */\n");
}

TEST_F(Mkfldhdr32, BadTablesFailWithAMessageAndLeaveNoHeader) {
  std::ofstream(dir_ / "range.tbl") << "*base 33554430\nOK 1 long\nTOO_FAR 2 long\n";
  std::ofstream(dir_ / "short.tbl") << "LONELY 5\n";
  const ToolRun run = Tool("'" + DataDir() + "/broken.tbl' range.tbl short.tbl missing.tbl '" + DataDir() + "/fld.tbl'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "mkfldhdr32: " + DataDir() + "/broken.tbl:2: unknown field type 'integer'\n" +
                         "mkfldhdr32: range.tbl:3: field number out of range\n" +
                         "mkfldhdr32: short.tbl:1: a field needs a name, a number and a type\n" +
                         "mkfldhdr32: cannot open field table missing.tbl\n");
  for (const char* header : {"broken.tbl.h", "range.tbl.h", "short.tbl.h", "missing.tbl.h"}) {
    EXPECT_FALSE(fs::exists(dir_ / header)) << header;
  }
  EXPECT_TRUE(fs::exists(dir_ / "fld.tbl.h")) << "the good table is still converted";
  EXPECT_EQ(Tool("-x").status, 1);
  EXPECT_EQ(Tool("-d '" + (dir_ / "absent").string() + "' '" + DataDir() + "/fld.tbl'").status, 1);
}

}  // namespace
