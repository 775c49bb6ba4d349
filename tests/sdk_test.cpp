// The installed SDK as a user meets it: installed (by the sdk_install fixture) and moved to
// another directory, used from a directory of its own, away from this source and build tree.
// It builds the examples with the drivers, the CMake package, the toolchain file and
// pkg-config, and runs them under the installed nuvrelos-run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

namespace fs = std::filesystem;

const std::string kPrefix = NUV_BINARY_DIR "/sdk-test/prefix";
const std::string kExamples = kPrefix + "/share/doc/nuvrelos/examples";
const std::string kTallyOut =
    "tally: stock.txt:6: not \"NAME COUNT\": pears three\n5 lines, 4 names -> totals.txt\n";
const std::string kTotals = "apples 42\npears 16\nplums 5\nfigs 7\n";
const std::string kShapesOut =
    "shapes ready\nsquare 1\nsquare 4\nsquare 9\nsquare 16\ncircle 50\n5 shapes, total area 80\n";

class Sdk : public ::testing::Test {
 protected:
  Sdk() { fs::copy(kExamples + "/stock.txt", dir / "stock.txt"); }

  // A shell command run in the test's own directory, with the SDK's bin/ on PATH.
  Outcome sh(const std::string& command) {
    return shell("cd " + quoted(dir.string()) + " && PATH=" + quoted(kPrefix + "/bin") +
                 ":\"$PATH\" && export PATH && (" + command + ")");
  }

  ScratchDir scratch;
  const fs::path& dir = scratch.path;
};

TEST_F(Sdk, TheCMakePackageAndTheToolchainFileBuildTheExamples) {
  const std::string toolchain = kPrefix + "/lib/cmake/nuvrelos/nuvrelos-toolchain.cmake";
  for (const std::string& how :
       {"-DCMAKE_PREFIX_PATH=" + kPrefix,
        "-DCMAKE_PREFIX_PATH=" + kPrefix + " -DCMAKE_TOOLCHAIN_FILE=" + toolchain}) {
    SCOPED_TRACE(how);
    fs::remove_all(dir / "build");
    fs::remove(dir / "totals.txt");
    Outcome b = sh("cmake -S " + kExamples + " -B build " + how + " && cmake --build build");
    ASSERT_EQ(b.status, 0) << b.out << b.err;
    Outcome r = sh("nuvrelos-run build/tally stock.txt totals.txt");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kTallyOut);
    EXPECT_EQ(slurp(dir / "totals.txt"), kTotals);
    Outcome s = sh("nuvrelos-run build/shapes 4");
    EXPECT_EQ(s.status, 0) << s.err;
    EXPECT_EQ(s.out, kShapesOut);
    // The records: the command from the source's macro, the package from PACKAGE.
    EXPECT_EQ(sh("nuvrelos-meta build/tally").out,
              "command: tally\ndescription: Add up the counts per name in a stock file.\n"
              "package: tally 2\n");
    EXPECT_EQ(sh("nuvrelos-meta build/shapes").out,
              "command: none declared\npackage: none declared\n");
  }
}

TEST_F(Sdk, TheDriversBuildTheExamplesAndTakeOrdinaryGccUsage) {
  std::ofstream(dir / "main.c") << "#include <stdio.h>\n#include \"extra.h\"\n"
                                   "int main(void) { printf(\"%s %d\\n\", GREETING, twice(21)); "
                                   "return 0; }\n";
  fs::create_directories(dir / "inc");
  std::ofstream(dir / "inc/extra.h") << "int twice(int);\n";
  std::ofstream(dir / "extra.c") << "int twice(int x) { return 2 * x; }\n";
  std::ofstream(dir / "only_main.c") << "int main(void) { return 42; }\n";
  std::ofstream(dir / "host.c") << "#include <math.h>\nint main(void) { return 0; }\n";
  struct Case {
    std::string command;
    int status;
    std::string out;   // standard output of a run, which then says nothing on standard error
    std::string seen;  // part of standard output or error
  } cases[] = {
      {"nuvrelos-cc -O2 -g -Wall -Wextra -Werror -o tally " + kExamples +
           "/tally.c && nuvrelos-run tally stock.txt totals.txt",
       0, kTallyOut, ""},
      {"nuvrelos-c++ -O2 -Wall -Werror -o shapes " + kExamples +
           "/shapes.cpp && nuvrelos-run shapes 4",
       0, kShapesOut, ""},
      {"gcc $(PKG_CONFIG_PATH=" + kPrefix + "/lib/pkgconfig pkg-config --cflags nuvrelos) -c " +
           kExamples + "/tally.c && gcc -o tally tally.o $(PKG_CONFIG_PATH=" + kPrefix +
           "/lib/pkgconfig pkg-config --libs nuvrelos) && nuvrelos-run tally stock.txt totals.txt",
       0, kTallyOut, ""},
      {"nuvrelos-cc -Iinc -DGREETING='\"hi\"' main.c extra.c -o p && nuvrelos-run p", 0, "hi 42\n",
       ""},
      {"nuvrelos-cc -c extra.c && ar rcs libextra.a extra.o && "
       "nuvrelos-cc -Iinc -D GREETING='\"ar\"' main.c -L. -lextra -o p && nuvrelos-run p",
       0, "ar 42\n", ""},
      {"nuvrelos-cc -E -Iinc -DGREETING=1 main.c", 0, "", "/include/nuvrelos/stdio.h"},
      {"nuvrelos-cc -v only_main.c -o p", 0, "", "/lib/nuvrelos/libnuvrelos.a -lgcc"},
      {"nuvrelos-cc -c host.c", 1, "", "math.h: No such file"},
      {"nuvrelos-c++ --version", 0, "", "g++"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    Outcome o = sh(c.command);
    EXPECT_EQ(o.status, c.status) << o.err;
    if (!c.out.empty()) {
      EXPECT_EQ(o.out, c.out);
      EXPECT_EQ(o.err, "");
    }
    EXPECT_NE((o.out + o.err).find(c.seen), std::string::npos) << o.out << o.err;
  }
}

TEST_F(Sdk, TheTreeStandsOnItsOwn) {
  // Only the public headers.
  std::set<std::string> headers;
  for (const auto& e : fs::directory_iterator(kPrefix + "/include/nuvrelos")) {
    headers.insert(e.path().filename().string());
  }
  EXPECT_EQ(headers,
            (std::set<std::string>{"abi", "errno.h", "fcntl.h", "gui.h", "kernel_errors.h",
                                   "kernel_services.h", "new", "nuvrelos.h", "stdio.h", "stdlib.h",
                                   "string.h", "syscall.h", "unistd.h", "user_crt0.h"}));
  // The other tests use every other file of it.
  EXPECT_TRUE(fs::exists(kPrefix + "/share/doc/nuvrelos/writing-programs.md"));
  // No text in it names this tree, and the commands find every library outside it.
  Outcome grep =
      sh("grep -rlI -e '" NUV_SOURCE_DIR "' -e '" NUV_BINARY_DIR "' '" + kPrefix + "' || true");
  EXPECT_EQ(grep.out, "");
  for (const char* command : {"nuvrelos-run", "nuvrelos-meta"}) {
    SCOPED_TRACE(command);
    std::string path = kPrefix + "/bin/" + command;
    // Each library is the system's, or the SDK's own copy (this test's SDK lies in the build
    // tree, so the tree's name is no test by itself); that each is found, the other tests'
    // runs show.
    std::istringstream lines(sh("ldd '" + path + "'").out);
    for (std::string line; std::getline(lines, line);) {
      size_t arrow = line.find("=> ");
      if (arrow == std::string::npos) continue;
      std::string library = line.substr(arrow + 3);
      if (library.starts_with(kPrefix + "/")) continue;
      EXPECT_FALSE(library.starts_with(NUV_SOURCE_DIR "/")) << line;
    }
    Outcome rpath = sh("readelf -d '" + path + "' | grep -E 'RPATH|RUNPATH'");
    EXPECT_NE(rpath.out.find("[$ORIGIN/../lib]"), std::string::npos) << rpath.out;
  }
}

}  // namespace
}  // namespace nuv::test
