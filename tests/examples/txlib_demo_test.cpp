// The demo program as the README's first command runs it: it goes through to
// its end and leaves nothing behind in the temporary directory.
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

TEST(Demo, RunsToItsEndAndRemovesItsDumpDirectory) {
  const fs::path base = fs::temp_directory_path() / ("txlib_demo_test_" + std::to_string(getpid()));
  const fs::path tmp = base / "tmp";
  fs::create_directories(tmp);
  const std::string command = "TMPDIR='" + tmp.string() +
                              "' '" TXLIB_DEMO_PROGRAM "' </dev/null >'" + (base / "out").string() +
                              "' 2>&1";
  const int status = std::system(command.c_str());
  std::ostringstream out;
  out << std::ifstream(base / "out", std::ios::binary).rdbuf();

  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out.str();
  // The dump went into a directory of its own there, which is gone again.
  EXPECT_NE(out.str().find("the dump file is " + tmp.string() + "/txlib-demo-"), std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("\nDone.\n"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(tmp));
  fs::remove_all(base);
}

}  // namespace
