// viewc32 run as a user runs it: the header it writes, compared whole, and
// its messages and exit status for malformed view files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string DataDir() {
  const char* data = std::getenv("TXLIB_TESTDATA");
  return fs::absolute(std::string(data != nullptr ? data : "tests/data") + "/view32").string();
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class Viewc32 : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("viewc32_test_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "views");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name, std::ios::binary) << text; }

  // Runs the tool in the test directory with the shop field table; returns
  // the exit status, stderr in err_.
  int Tool(const std::string& arguments) {
    const fs::path err = dir_ / "stderr";
    const std::string command = "cd '" + dir_.string() + "' && FLDTBLDIR32='" + DataDir() +
                                "' FIELDTBLS32=shop.tbl '" VIEWC32_PROGRAM "' " + arguments + " 2>'" +
                                err.string() + "'";
    const int raw = std::system(command.c_str());
    err_ = ReadFile(err);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  fs::path dir_;
  std::string err_;
};

TEST_F(Viewc32, WritesTheStructuresOfEachView) {
  Write("order.v",
        "# an order\n"
        "$#include <stddef.h>\n"
        "VIEW order\n"
        "long   no    ITEM_NO    1 -   -  -1\n"
        "string names ITEM_NAME  2 C,L 16 \"a */ b\"\n"
        "-      qty   ITEM_QTY   4 S   -  NONE\n"
        "mbstring text ITEM_TEXT 1 -   30 -\n"
        "END\n"
        "VIEW empty_ok\n"
        "char   flag  -          1 N   -  'y'\n"
        "END\n");
  ASSERT_EQ(Tool("-d views order.v"), 0) << err_;
  EXPECT_EQ(ReadFile(dir_ / "views/order.V"), ReadFile(dir_ / "order.v")) << "the view file the engine reads";
  EXPECT_EQ(err_, "");
  EXPECT_EQ(ReadFile(dir_ / "order.h"),
            "/* Views of order, written by viewc32 from order.v */\n"
            "#ifndef VIEWC32_ORDER_H\n"
            "#define VIEWC32_ORDER_H\n"
            "\n"
            "#include <stddef.h>\n"
            "struct order {\n"
            "\tlong\tno;\t/* null=-1 */\n"
            "\tshort\tC_names;\t/* count of names */\n"
            "\tunsigned short\tL_names[2];\t/* length of names */\n"
            "\tchar\tnames[2][16];\t/* null=\"a * / b\" */\n"
            "\tshort\tqty[4];\t/* null=NONE */\n"
            "\tunsigned short\tL_text;\t/* length of text */\n"
            "\tchar\ttext[30];\t/* null=- */\n"
            "};\n"
            "\n"
            "struct empty_ok {\n"
            "\tchar\tflag;\t/* null='y' */\n"
            "};\n"
            "\n"
            "#endif\n");
}

TEST_F(Viewc32, ReportsEachMalformedFileAndWritesNoHeaderForIt) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"VIEW v\nlong a ITEM_NO 1 - -\nEND\n", "2: a member needs type, cname, fbname, count, flag, size and null"},
      {"VIEW v\nlong a ITEM_NO 1 - - -\n", "3: VIEW v has no END"},
      {"VIEW 9v\nEND\n", "1: bad view name '9v'"},
      {"VIEW v\ninteger a - 1 - - -\nEND\n", "2: unknown type 'integer'"},
      {"VIEW v\ndec_t a - 1 - 8,2 -\nEND\n", "2: type dec_t is not supported"},
      {"VIEW v\nlong a - 0 - - -\nEND\n", "2: count 0 out of range 1..65535"},
      {"VIEW v\nlong a - 1 L - -\nEND\n", "2: flag L on a member that is no text"},
      {"VIEW v\nlong a - 1 NS - -\nEND\n", "2: flag N with F or S"},
      {"VIEW v\nshort a - 1 - - 40000\nEND\n", "2: null value 40000 out of range for short"},
      {"VIEW v\nstring a - 1 - 3 \"abc\"\nEND\n", "2: null value \"abc\" longer than the member"},
      {"VIEW v\nstring a - 1 - 9 \"a\\q\"\nEND\n", "2: unknown escape \\q in null value \"a\\q\""},
      {"VIEW v\nlong C_a - 1 - - -\nlong a - 1 C - -\nEND\n", "3: cname C_a used twice in view v"},
      {"VIEW v\n- a NO_SUCH 1 - - -\nEND\n", "2: type '-' needs a known field, not 'NO_SUCH'"},
  };
  for (const auto& c : cases) {
    Write("bad.v", c.text);
    EXPECT_EQ(Tool("bad.v"), 1) << c.text;
    EXPECT_EQ(err_, std::string("viewc32: bad.v:") + c.message + "\n") << c.text;
    EXPECT_FALSE(fs::exists(dir_ / "bad.h") || fs::exists(dir_ / "bad.V")) << c.text;
  }

  Write("a.v", "VIEW v\nlong a ITEM_NO 1 - - -\nEND\n");
  Write("b.v", "VIEW v\nlong a NO_SUCH 1 - - -\nEND\n");
  EXPECT_EQ(Tool("a.v b.v missing.v"), 1);
  EXPECT_EQ(err_,
            "viewc32: b.v: view v is also defined in a.v\n"
            "viewc32: cannot open view file missing.v\n");
  EXPECT_TRUE(fs::exists(dir_ / "a.h"));
  Write("c.v", "VIEW w\nlong a NO_SUCH 1 - - -\nEND\n");
  EXPECT_EQ(Tool("c.v"), 1);
  EXPECT_EQ(err_, "viewc32: c.v: view w: field NO_SUCH is not in the field tables\n");
  EXPECT_EQ(Tool("-n c.v"), 0) << "-n: no field checks";
  EXPECT_EQ(Tool("-x c.v"), 1);
  EXPECT_EQ(err_, "usage: viewc32 [-n] [-d viewdir] viewfile [viewfile ...]\n");
}

}  // namespace
