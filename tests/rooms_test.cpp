// The rule the build keeps for the host's rooms: each room's library is compiled against a view
// of the tree that holds the room itself and the rooms below it, and against no other part of
// the tree, so an include that points up does not compile.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

namespace fs = std::filesystem;

const fs::path kRooms = fs::path(NUV_BINARY_DIR) / "rooms";

std::set<std::string> rooms_seen(const std::string& library) {
  std::set<std::string> seen;
  for (const auto& e : fs::directory_iterator(kRooms / library / "host")) {
    seen.insert(e.path().filename().string());
  }
  return seen;
}

struct Room {
  const char* library;
  std::set<std::string> sees;
};
const Room kRoomsBelow[] = {
    {"nuv_base", {"base"}},
    {"nuv_emu", {"emu"}},
    {"nuv_gui", {"base", "gui"}},
    {"nuv_kernel", {"base", "emu", "gui", "kernel"}},
    {"nuv_machine", {"base", "emu", "gui", "kernel", "machine"}},
    {"nuv_gdb_protocol", {"debug"}},
    {"nuv_run_record", {"timetravel"}},
    {"nuv_timetravel", {"base", "emu", "gui", "kernel", "machine", "timetravel"}},
    {"nuv_debug", {"base", "emu", "gui", "kernel", "machine", "timetravel", "debug"}},
    {"nuv_measure", {"base", "emu", "gui", "kernel", "machine", "timetravel", "debug", "measure"}},
    {"nuv_command_line",
     {"base", "emu", "gui", "kernel", "machine", "timetravel", "debug", "measure", "runner"}},
};

TEST(Rooms, EachRoomIsBuiltSeeingOnlyItselfAndTheRoomsBelow) {
  const std::string source = fs::path(NUV_SOURCE_DIR).string();
  for (const Room& r : kRoomsBelow) {
    SCOPED_TRACE(r.library);
    EXPECT_EQ(rooms_seen(r.library), r.sees);
    EXPECT_TRUE(fs::exists(kRooms / r.library / "abi" / "services.h")) << "the program interface";
    // No include directory opens the tree itself: only the view, and headers of the system
    // and of the libraries fetched into .deps.
    std::ifstream in(kRooms / (std::string(r.library) + ".includes"));
    ASSERT_TRUE(in) << "the build lists each room's include directories";
    for (std::string dir; std::getline(in, dir);) {
      if (!dir.starts_with(source + "/") && dir != source) continue;
      EXPECT_TRUE(dir.starts_with((kRooms / r.library).string()) ||
                  dir.starts_with(source + "/.deps/"))
          << dir;
    }
  }
}

TEST(Rooms, AnIncludeThatPointsUpDoesNotCompile) {
  struct Case {
    const char* library;
    const char* header;
    bool compiles;
  } cases[] = {
      {"nuv_gui", "host/base/unique_fd.h", true},
      {"nuv_gui", "host/kernel/service_call.h", false},
      {"nuv_base", "host/gui/surface.h", false},
      {"nuv_emu", "host/base/unique_fd.h", false},
      {"nuv_kernel", "host/machine/initial_stack.h", false},
      {"nuv_machine", "host/machine/initial_stack.h", true},
      {"nuv_gdb_protocol", "host/machine/initial_stack.h", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.library << " including " << c.header);
    Outcome o = shell("printf '#include \"%s\"\\n' " + quoted(c.header) +
                      " | c++ -std=c++20 -fsyntax-only -x c++ -I " +
                      quoted((kRooms / c.library).string()) + " -");
    EXPECT_EQ(o.status == 0, c.compiles) << o.err;
  }
}

}  // namespace
}  // namespace nuv::test
