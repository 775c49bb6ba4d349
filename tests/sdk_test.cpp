// The installed SDK as a user meets it: installed (by the sdk_install fixture) and moved to
// another directory, used from a directory of its own, away from this source and build tree.
// It builds the examples with the drivers, the CMake package, the toolchain file and
// pkg-config, and runs them under the installed nuvrelos-run.
#include <gtest/gtest.h>

#include <algorithm>
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
  std::ofstream(dir / "host.c") << "#include <sys/socket.h>\nint main(void) { return 0; }\n";
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
      {"nuvrelos-cc -c host.c", 1, "", "sys/socket.h: No such file"},
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
  for (const auto& e : fs::recursive_directory_iterator(kPrefix + "/include/nuvrelos")) {
    if (e.is_regular_file()) {
      headers.insert(fs::relative(e.path(), kPrefix + "/include/nuvrelos").string());
    }
  }
  EXPECT_EQ(headers, (std::set<std::string>{"abi/errors.h",
                                            "abi/gui_records.h",
                                            "abi/open_flags.h",
                                            "abi/program_records.h",
                                            "abi/services.h",
                                            "assert.h",
                                            "bits/os_defines.h",
                                            "ctype.h",
                                            "errno.h",
                                            "fcntl.h",
                                            "gui.h",
                                            "inttypes.h",
                                            "kernel_errors.h",
                                            "kernel_services.h",
                                            "limits.h",
                                            "math.h",
                                            "memory.h",
                                            "new",
                                            "nuvrelos.h",
                                            "setjmp.h",
                                            "stdint.h",
                                            "stdio.h",
                                            "stdlib.h",
                                            "string.h",
                                            "strings.h",
                                            "sys/types.h",
                                            "sys/wait.h",
                                            "syscall.h",
                                            "time.h",
                                            "unistd.h",
                                            "user_crt0.h"}));
  // The pkg-config file names no directory of this machine: every path comes from its place.
  std::string pc = slurp(kPrefix + "/lib/pkgconfig/nuvrelos.pc");
  EXPECT_EQ(pc.find("=/"), std::string::npos) << pc;
  EXPECT_EQ(pc.find(" /"), std::string::npos) << pc;
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

// A C program that uses every header the SDK and the compiler give C, a C++ one that includes
// the freestanding C++ headers, and a program that allocates and frees 64 MiB through a 1 MiB
// heap: each built through the driver, the CMake package, the toolchain file and pkg-config.
const char kAllC[] = R"(#include <assert.h>
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <float.h>
#include <gui.h>
#include <inttypes.h>
#include <iso646.h>
#include <limits.h>
#include <math.h>
#include <memory.h>
#include <nuvrelos.h>
#include <setjmp.h>
#include <stdalign.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <stdnoreturn.h>
#include <string.h>
#include <strings.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__) || defined(__linux) || defined(linux) || defined(__unix__) || defined(unix)
#error a Linux or Unix system macro is defined
#endif
#ifndef __nuvrelos__
#error __nuvrelos__ is not defined
#endif
static jmp_buf env;
static int order(const void *a, const void *b) { return *(const int *)a - *(const int *)b; }
int main(void) {
  int v[] = {3, 1, 2};
  qsort(v, 3, sizeof v[0], order);
  assert(v[0] == 1 && errno == 0);
  volatile int jumped = setjmp(env);
  if (jumped == 0) longjmp(env, 5);
  alignas(8) char text[16];
  memcpy(text, "ok", 3);
  bool fine = strcasecmp(text, "OK") == 0 and INT_MAX == 2147483647 and DBL_DIG == 15;
  printf("%s %c %" PRId32 " %d %d %d %lld\n", fine ? "fine" : "broken", toupper('q'),
         (int32_t)(sqrt(2.0) * 1000), (int)floor(-0.5), (int)difftime(10, 4), jumped,
         strtoll("-9000000000", 0, 10));
}
)";
const char kAllCxx[] = R"(#include <array>
#include <bit>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <compare>
#include <concepts>
#include <csetjmp>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>
#include <numbers>
#include <optional>
#include <ratio>
#include <source_location>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>
#include <version>
#include <stdio.h>
#include <math.h>
int main() {
  static_assert(std::is_same_v<std::int32_t, int>);
  static_assert(std::numeric_limits<int>::max() == INT_MAX);
  auto pair = std::make_pair(1, 2);
  int sum = 0;
  for (int x : {1, 2, 3}) sum += x;
  std::optional<int> seven = 7;
  printf("c++ %d %u %d %c %d %d\n", pair.first + pair.second, unsigned(std::strlen("four")), sum,
         std::toupper('a'), *seven, int(std::numbers::pi * 100));
}
)";
const char kChurn[] = R"(#include <stdio.h>
#include <stdlib.h>
#include <string.h>
int main(void) {
  for (int i = 0; i < 1024; ++i) {
    char *block = malloc(65536);
    if (block == NULL) {
      printf("out of memory after %d blocks\n", i);
      return 1;
    }
    memset(block, i, 65536);
    free(block);
  }
  puts("64 MiB through the heap");
  return 0;
}
)";
const char kProject[] = R"(cmake_minimum_required(VERSION 3.25)
project(everything C CXX)
find_package(nuvrelos REQUIRED)
message(STATUS "package version ${nuvrelos_VERSION}")
nuvrelos_add_program(all_c all.c)
nuvrelos_add_program(all_cxx all.cpp)
target_compile_options(all_cxx PRIVATE -std=gnu++20)
nuvrelos_add_program(churn churn.c HEAP 1M)
nuvrelos_add_program(churn_bump churn.c)
)";

TEST_F(Sdk, EveryHeaderAndTheFreeingHeapBuildFourWays) {
  spit(dir / "all.c", kAllC);
  spit(dir / "all.cpp", kAllCxx);
  spit(dir / "churn.c", kChurn);
  spit(dir / "CMakeLists.txt", kProject);
  const std::string pc = "PKG_CONFIG_PATH=" + kPrefix + "/lib/pkgconfig pkg-config";
  const std::string toolchain = kPrefix + "/lib/cmake/nuvrelos/nuvrelos-toolchain.cmake";
  const std::string cmake = "cmake -S . -B build -DCMAKE_PREFIX_PATH=" + kPrefix;
  struct Case {
    const char* how;
    std::string build;  // makes all_c, all_cxx, churn (1 MiB freeing heap) and churn_bump
  } cases[] = {
      {"driver",
       "nuvrelos-cc -O2 -Wall -Werror -o build/all_c all.c -lm && "
       "nuvrelos-c++ -std=gnu++20 -O2 -Wall -Werror -o build/all_cxx all.cpp && "
       "nuvrelos-cc -O2 --nuvrelos-heap=1M -o build/churn churn.c && "
       "nuvrelos-cc -O2 -o build/churn_bump churn.c"},
      {"CMake package", cmake + " && cmake --build build"},
      {"toolchain file",
       cmake + " -DCMAKE_TOOLCHAIN_FILE=" + toolchain + " && cmake --build build"},
      {"pkg-config", "gcc -O2 $(" + pc + " --cflags nuvrelos) -o build/all_c all.c $(" + pc +
                         " --libs nuvrelos) && g++ -std=gnu++20 -O2 $(" + pc +
                         " --cflags nuvrelos) -fno-exceptions -fno-rtti -fno-threadsafe-statics "
                         "-faligned-new=4 -o build/all_cxx all.cpp $(" +
                         pc + " --libs nuvrelos) && gcc -O2 $(" + pc +
                         " --cflags nuvrelos) -o build/churn churn.c $(" + pc +
                         " --variable=heap_free nuvrelos) -Wl,--defsym=nuvrelos_heap_size=1M $(" +
                         pc + " --libs nuvrelos) && gcc -O2 $(" + pc +
                         " --cflags nuvrelos) -o build/churn_bump churn.c $(" + pc +
                         " --libs nuvrelos)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    fs::remove_all(dir / "build");
    fs::create_directories(dir / "build");
    Outcome b = sh(c.build);
    ASSERT_EQ(b.status, 0) << b.out << b.err;
    // main falls off its end: status 0.
    Outcome r = sh("nuvrelos-run build/all_c");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "fine Q 1414 -1 6 5 -9000000000\n");
    r = sh("nuvrelos-run build/all_cxx");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "c++ 3 4 6 A 7 314\n");
    r = sh("nuvrelos-run build/churn");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "64 MiB through the heap\n");
    // The bump heap, the default, keeps every block: its 1 MiB arena holds 15 of them.
    r = sh("nuvrelos-run build/churn_bump");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "out of memory after 15 blocks\n");
  }
}

// Whatever the driver is given, it makes a nuvrelos program or refuses with one line.
TEST_F(Sdk, TheDriverMakesNuvrelosProgramsOrNothing) {
  spit(dir / "main.c", "#include <stdio.h>\nint main(void) { puts(\"hi\"); }\n");
  spit(dir / "code.txt", "#include <stdio.h>\nint main(void) { puts(\"txt\"); }\n");
  // The compiler knows the library, but not the system's formatter: "%.0d" of 0 is "0".
  spit(dir / "format.c",
       "#include <stdio.h>\nint main(void) { char b[8];\n"
       "  return snprintf(b, sizeof b, \"%.0d\", 0) * 10 + b[0] - '0'; }\n");
  struct Case {
    std::string command;
    int status;
    std::string out;  // of running the program built, or part of the one-line refusal
  } cases[] = {
      // -x applies to the user's files, not to the runtime archive after them.
      {"nuvrelos-cc -x c code.txt -o p && nuvrelos-run p", 0, "txt\n"},
      {"nuvrelos-cc -x c - -o p < main.c && nuvrelos-run p", 0, "hi\n"},
      // Objects given only to the linker still make a nuvrelos program.
      {"nuvrelos-cc -c main.c && nuvrelos-cc -Wl,main.o -o p && nuvrelos-run p", 0, "hi\n"},
      {"nuvrelos-cc main.c -lm -o p && nuvrelos-run p", 0, "hi\n"},
      {"nuvrelos-cc -O2 format.c -o p && nuvrelos-run p; echo $?", 0, "10\n"},
      {"nuvrelos-cc -shared main.c -o p", 2, "nuvrelos-cc: -shared: nuvrelos programs are static"},
      {"nuvrelos-cc -pie main.c -o p", 2, "nuvrelos-cc: -pie: nuvrelos programs are static"},
      {"nuvrelos-cc -fPIC main.c -o p", 2, "nuvrelos-cc: -fPIC: nuvrelos programs are built at"},
      {"nuvrelos-cc -fpie -c main.c", 2, "nuvrelos-cc: -fpie: nuvrelos programs are built at"},
      {"nuvrelos-c++ -m64 -c main.c", 2, "nuvrelos-c++: -m64: nuvrelos programs are 32-bit"},
      {"nuvrelos-cc --nuvrelos-heap=lots main.c", 2, "nuvrelos-cc: --nuvrelos-heap: 'lots' is no"},
      {"nuvrelos-cc -v", 0, "gcc version"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    fs::remove(dir / "p");
    Outcome o = sh(c.command);
    EXPECT_EQ(o.status, c.status) << o.err;
    if (c.status == 0 && c.command.find("-v") == std::string::npos) {
      EXPECT_EQ(o.out, c.out);
    } else {
      EXPECT_NE((o.out + o.err).find(c.out), std::string::npos) << o.out << o.err;
    }
    if (c.status == 2) {
      EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
      EXPECT_FALSE(fs::exists(dir / "p"));
    }
  }
}

// The package, the runner and pkg-config say one version.
TEST_F(Sdk, OneVersionEverywhere) {
  spit(dir / "CMakeLists.txt",
       "cmake_minimum_required(VERSION 3.25)\nproject(v C)\n"
       "find_package(nuvrelos 0.1 REQUIRED)\n"
       "message(STATUS \"package ${nuvrelos_VERSION}\")\n");
  Outcome cmake = sh("cmake -S . -B build -DCMAKE_PREFIX_PATH=" + kPrefix);
  ASSERT_EQ(cmake.status, 0) << cmake.err;
  std::string version =
      sh("PKG_CONFIG_PATH=" + kPrefix + "/lib/pkgconfig pkg-config --modversion nuvrelos").out;
  ASSERT_FALSE(version.empty());
  version.pop_back();
  EXPECT_NE(cmake.out.find("-- package " + version + "\n"), std::string::npos) << cmake.out;
  EXPECT_TRUE(sh("nuvrelos-run --version").out.starts_with("nuvrelos-run " + version + " "));
}

// The runtime's lines in coverage, crash reports and gdb are the installed SDK's sources: the
// SDK names nothing of the tree it was built in, which the tests' SDK was moved away from.
TEST_F(Sdk, TheRuntimesSourcesAreTheInstalledOnes) {
  spit(dir / "crash.c",
       "#include <string.h>\nint main(int argc, char **argv) {\n"
       "  (void)argv;\n  return (int)strlen(argc > 1 ? 0 : \"four\") +\n"
       "         *(volatile char *)memcpy(0, \"x\", (unsigned)argc);\n}\n");
  ASSERT_EQ(sh("nuvrelos-cc -g -O1 -o crash crash.c").status, 0);
  const std::string sources = kPrefix + "/share/nuvrelos/runtime/";
  Outcome r = sh("nuvrelos-run --coverage cov.info crash");
  EXPECT_EQ(r.status, 139);
  EXPECT_NE(r.err.find("in memcpy at " + sources + "string.cpp:"), std::string::npos) << r.err;
  std::string coverage = slurp(dir / "cov.info");
  EXPECT_NE(coverage.find("SF:" + sources + "string.cpp\n"), std::string::npos) << coverage;
  EXPECT_NE(coverage.find("SF:" + sources + "user_crt0.S\n"), std::string::npos);
  EXPECT_EQ(coverage.find("SF:/nuvrelos-sdk/"), std::string::npos);
  EXPECT_EQ(sh("genhtml -q cov.info -o html").status, 0) << "every source found";
  Outcome strings =
      sh("strings -a '" + kPrefix + "/lib/nuvrelos/libnuvrelos.a' '" + kPrefix +
         "/lib/nuvrelos/crt0.o' | grep -c -e '" NUV_SOURCE_DIR "' -e '" NUV_BINARY_DIR "' || true");
  EXPECT_EQ(strings.out, "0\n");
}

}  // namespace
}  // namespace nuv::test
