// The ports check: widely used C libraries nobody here wrote (uthash, jsmn, stb), built
// unchanged against the runtime, run under nuvrelos-run, and their output compared with the
// same program built for the host. A library that is not installed is named and skipped.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

TEST(Ports, EachLibraryBehavesUnderNuvrelosAsOnTheHost) {
  std::istringstream ports(NUV_PORTS);
  int checked = 0;
  for (std::string port; std::getline(ports, port, ',');) {
    SCOPED_TRACE(port);
    const std::string program = NUV_BINARY_DIR "/tests/ports/port_" + port;
    Outcome guest = shell(quoted(runner_path()) + " " + quoted(program));
    Outcome host = shell(quoted(program + "_host"));
    ASSERT_EQ(host.status, 0) << host.err;
    EXPECT_EQ(guest.status, 0) << guest.err;
    EXPECT_EQ(guest.out, host.out);
    EXPECT_EQ(guest.err, "");
    ++checked;
  }
  if (checked < 3) {
    GTEST_SKIP() << "only " << checked << " of the 3 ported libraries are installed (" << NUV_PORTS
                 << "): scripts/setup installs uthash-dev, libjsmn-dev, libstb-dev";
  }
}

}  // namespace
}  // namespace nuv::test
