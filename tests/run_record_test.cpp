// --record-run and --replay-run: a run recorded once and run again from its record alone, after
// its input files changed or went, from another directory; a record edited by hand diverges
// and says where; a damaged record is refused with one line, never followed or crashed on.
#include "host/timetravel/run_record.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

namespace fs = std::filesystem;

std::string command(const std::vector<std::string>& args) {
  std::string cmd = quoted(runner_path());
  for (const auto& a : args) cmd += " " + quoted(a);
  return cmd;
}

RunRecord sample_record() {
  RunRecord r;
  r.header.executable = "prog";
  r.header.program = {0x7F, 'E', 'L', 'F'};
  r.header.args = {"prog", "in.txt"};
  r.header.memory_limit = uint64_t{1} << 30;
  r.header.width = 640;
  r.header.height = 360;
  r.header.frame_limit = 600;
  RecordedCall call;
  call.number = 3;
  call.slots[0] = 3;
  call.slots[1] = 0xBFFFF000;
  call.slots[2] = 16;
  call.digest = 0x1234;
  call.result = 5;
  call.stores.push_back(RecordedStore{0xBFFFF000, {'h', 'e', 'l', 'l', 'o'}});
  r.events.emplace_back(call);
  r.events.emplace_back(RecordedProgram{"/bin/child", {0x7F, 'E', 'L', 'F', 2}});
  r.events.emplace_back(RecordedRdtsc{0x0123456789ABCDEFull, 2});
  r.events.emplace_back(RecordedEnd{0, 0, "stopped at the frame limit"});
  return r;
}

std::string encode(const RunRecord& r) {
  std::string out = encode_preamble();
  encode_header(r.header, out);
  for (const RunEvent& e : r.events) encode_event(e, out);
  return out;
}

TEST(RunRecordFormat, WhatIsWrittenReadsBack) {
  RunRecord r = sample_record();
  RunRecord back = decode_run_record(encode(r));
  EXPECT_EQ(back.header.args, r.header.args);
  EXPECT_EQ(back.header.program, r.header.program);
  EXPECT_EQ(back.header.frame_limit, 600u);
  ASSERT_EQ(back.events.size(), 4u);
  const auto& call = std::get<RecordedCall>(back.events[0]);
  EXPECT_EQ(call.slots[1], 0xBFFFF000u);
  EXPECT_EQ(call.result, 5);
  ASSERT_EQ(call.stores.size(), 1u);
  EXPECT_EQ(call.stores[0].bytes.size(), 5u);
  EXPECT_EQ(std::get<RecordedProgram>(back.events[1]).path, "/bin/child");
  EXPECT_EQ(std::get<RecordedProgram>(back.events[1]).bytes.size(), 5u);
  EXPECT_EQ(std::get<RecordedRdtsc>(back.events[2]).value, 0x0123456789ABCDEFull);
  EXPECT_EQ(std::get<RecordedRdtsc>(back.events[2]).pid, 2u);
  EXPECT_EQ(std::get<RecordedEnd>(back.events[3]).message, "stopped at the frame limit");
}

TEST(RunRecordFormat, EveryDamageIsAClearErrorNeverACrash) {
  const std::string good = encode(sample_record());
  RunRecord stray = sample_record();
  stray.events.erase(stray.events.begin());
  auto with = [&](size_t at, std::string bytes) {
    std::string s = good;
    s.replace(at, bytes.size(), bytes);
    return s;
  };
  const size_t header_at = 11;  // magic and version
  struct Case {
    const char* what;
    std::string bytes;
    const char* error;
  } cases[] = {
      {"empty", "", "not a run record"},
      {"another file",
       "\x7f"
       "ELF\1\1\1",
       "not a run record"},
      {"a later version", with(7, std::string("\2\0\0\0", 4)), "version 2"},
      {"the version cut", good.substr(0, 9), "truncated"},
      {"no header", good.substr(0, header_at), "no header"},
      {"a record cut short", good.substr(0, good.size() - 3), "truncated"},
      {"a kind nobody knows", with(header_at + 4, "\x09"), "unknown kind 9"},
      {"a call before the header", with(header_at + 4, "\x02"), "before the header"},
      {"a length beyond the file", with(header_at, "\xff\xff\xff\x7f"), "truncated"},
      {"a second header", good + good.substr(header_at, good.size() - header_at), "second header"},
      // A replay would never know which child it is.
      {"a program without its spawn", encode(stray), "a program not after a spawn"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      decode_run_record(c.bytes);
      ADD_FAILURE() << "read without complaint";
    } catch (const RunRecordError& e) {
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
    }
  }
  // Cut anywhere: an error, or (cut between records) the records before the cut.
  for (size_t n = 0; n < good.size(); ++n) {
    SCOPED_TRACE(n);
    try {
      RunRecord r = decode_run_record(good.substr(0, n));
      EXPECT_LT(r.events.size(), 4u);
    } catch (const RunRecordError&) {
    }
  }
}

class RunReplay : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "a");
    spit(dir / "a" / "in.txt", "hello world\n");
    recorded = shell("cd " + quoted((dir / "a").string()) + " && " +
                         command({"--record-run", record.string(), program, "in.txt", "out.txt"}),
                     "typed\n");
    ASSERT_TRUE(fs::exists(record)) << recorded.err;
    ASSERT_TRUE(fs::exists(dir / "a" / "out.txt"));
  }
  // Replays from `where`, with standard input that was not the recording's.
  Outcome replay(const fs::path& file, const fs::path& where) {
    return shell("cd " + quoted(where.string()) + " && " + command({"--replay-run", file.string()}),
                 "other input\n");
  }

  ScratchDir scratch;
  const fs::path& dir = scratch.path;
  const fs::path record = dir / "run.nuvrun";
  const std::string program = guest_program("prog_recorded");
  Outcome recorded;
};

TEST_F(RunReplay, RunsAgainExactlyWhateverBecameOfItsInput) {
  EXPECT_NE(recorded.out.find("file in.txt: 12 bytes"), std::string::npos) << recorded.out;
  EXPECT_NE(recorded.out.find("stdin 6 bytes"), std::string::npos);
  EXPECT_NE(recorded.out.find("writefile "), std::string::npos);
  struct Case {
    const char* what;
    std::function<void()> change;
    fs::path where;
  } cases[] = {
      {"as it was", [] {}, dir / "a"},
      {"its input changed", [&] { spit(dir / "a" / "in.txt", "something else entirely\n"); },
       dir / "a"},
      {"its input gone and its output removed",
       [&] {
         fs::remove(dir / "a" / "in.txt");
         fs::remove(dir / "a" / "out.txt");
       },
       dir / "a"},
      {"a copy of the record in another directory",
       [&] {
         fs::create_directories(dir / "b");
         fs::copy_file(record, dir / "b" / "copy.nuvrun");
       },
       dir / "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.change();
    fs::path file = fs::exists(c.where / "copy.nuvrun") ? c.where / "copy.nuvrun" : record;
    Outcome o = replay(file, c.where);
    EXPECT_EQ(o.out, recorded.out);
    EXPECT_EQ(o.status, recorded.status);
    EXPECT_EQ(o.err, "") << "no divergence, no warning";
  }
  // The replay wrote nothing: the output its writefile made is not made again.
  EXPECT_FALSE(fs::exists(dir / "a" / "out.txt"));
  EXPECT_FALSE(fs::exists(dir / "b" / "out.txt"));
}

TEST_F(RunReplay, ARecordEditedByHandDivergesAndSaysWhere) {
  std::string bytes = slurp(record);
  struct Case {
    const char* what;
    std::string from, to;
    std::string err;
  } cases[] = {
      // The program then opens another name: its first call hands over other bytes.
      {"an argument", "in.txt", "in.txX", "replay diverged at service call 1 (open), eip 0x"},
      // What the file held as recorded is what the program prints: its write differs.
      {"what a read returned", "hello world", "jello world", "(write), eip 0x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string edited = bytes;
    size_t at = edited.find(c.from);
    ASSERT_NE(at, std::string::npos);
    edited.replace(at, c.to.size(), c.to);
    fs::path file = dir / "edited.nuvrun";
    spit(file, edited);
    Outcome o = replay(file, dir);
    EXPECT_EQ(o.status, 122);
    EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
  }
}

TEST_F(RunReplay, ADamagedRecordOrAConflictingOptionIsOneLineAndStatus2) {
  spit(dir / "cut.nuvrun", slurp(record).substr(0, 100));
  spit(dir / "text.nuvrun", "hello\n");
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--replay-run", (dir / "cut.nuvrun").string()}, "truncated"},
      {{"--replay-run", (dir / "text.nuvrun").string()}, "not a run record"},
      {{"--replay-run", (dir / "none.nuvrun").string()}, "--replay-run"},
      {{"--replay-run", record.string(), program}, "give no PROGRAM"},
      {{"--replay-run", record.string(), "--root", dir.string()}, "--root: not with --replay-run"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    Outcome o = shell(command(c.args));
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("Try"), o.err.rfind("Try"));
  }
}

// A machine of several processes is recorded whole: a shell's pipelines, with the programs it
// started and the pipes between them, replay identically (output, trace, status) after the
// input, the script and the programs changed or went, and the replay writes nothing.
TEST(RunReplayProcesses, APipelineReplaysAfterItsInputAndProgramsChanged) {
  ScratchDir scratch;
  const fs::path& dir = scratch.path;
  const fs::path root = dir / "root";
  fs::create_directories(root / "bin");
  for (const char* name : {"nsh", "upper", "count", "match"}) {
    fs::copy_file(guest_program(name), root / "bin" / name);
  }
  spit(root / "fruit", "one apple\ntwo pears\nthree apples\n");
  spit(root / "script",
       "match apple < /fruit | upper\nmatch apple < /fruit | upper | count > /n\n"
       "match kiwi < /fruit\nexit $?\n");
  const std::string record = (dir / "sh.nuvrun").string();
  const std::string nsh = (root / "bin" / "nsh").string();
  Outcome recorded = shell(command({"--root", root.string(), "--record-run", record, "--trace",
                                    (dir / "t1").string(), nsh, "/script"}));
  ASSERT_EQ(recorded.status, 1) << recorded.err;
  ASSERT_EQ(recorded.out, "ONE APPLE\nTHREE APPLES\n");
  ASSERT_EQ(slurp(root / "n"), "2 4 23\n");
  // Everything the run read is different or gone.
  spit(root / "fruit", "kiwi\n");
  spit(root / "script", "exit 9\n");
  fs::remove(root / "bin" / "upper");
  fs::remove(root / "bin" / "count");
  fs::remove(root / "n");
  Outcome again = shell(command({"--replay-run", record, "--trace", (dir / "t2").string()}));
  EXPECT_EQ(again.out, recorded.out);
  EXPECT_EQ(again.status, recorded.status);
  EXPECT_EQ(again.err, "") << "no divergence, no warning";
  EXPECT_TRUE(slurp(dir / "t1") == slurp(dir / "t2")) << "the traces differ";
  EXPECT_NE(slurp(dir / "t2").find("\"pid\":3,"), std::string::npos);
  EXPECT_FALSE(fs::exists(root / "n")) << "the replay wrote a file";
}

// The processes' own scenes (waits, a crash, an orphan, a FIFO, a sleeping writer) replay
// with the same output and status: each interleaving is the recorded one.
TEST(RunReplayProcesses, EveryInterleavingReplaysAsRecorded) {
  ScratchDir scratch;
  const fs::path root = scratch.path / "root";
  const std::string record = (scratch.path / "run.nuvrun").string();
  for (const char* mode : {"waits", "orphan", "fifo", "eof", "deadlock"}) {
    SCOPED_TRACE(mode);
    fs::remove_all(root);
    fs::create_directories(root);
    fs::copy_file(guest_program("prog_procs"), root / "procs");
    Outcome recorded = shell(command(
        {"--root", root.string(), "--record-run", record, (root / "procs").string(), mode}));
    ASSERT_TRUE(fs::exists(record)) << recorded.err;
    fs::remove_all(root);  // the replay runs the recorded programs
    Outcome again = shell(command({"--replay-run", record}));
    EXPECT_EQ(again.out, recorded.out);
    EXPECT_EQ(again.status, recorded.status);
    EXPECT_EQ(again.err, recorded.err);
  }
}

// A record edited so that a call belongs to a process that never comes: the others wait for
// its turn, which is a divergence (status 122), never a hang.
TEST(RunReplayProcesses, ACallOfAProcessThatNeverComesIsADivergence) {
  ScratchDir scratch;
  const fs::path root = scratch.path / "root";
  fs::create_directories(root);
  fs::copy_file(guest_program("prog_procs"), root / "procs");
  const std::string record = (scratch.path / "run.nuvrun").string();
  ASSERT_EQ(shell(command({"--root", root.string(), "--record-run", record,
                           (root / "procs").string(), "orphan"}))
                .status,
            0);
  RunRecord r = decode_run_record(slurp(record));
  auto it = std::find_if(r.events.begin(), r.events.end(), [](const RunEvent& e) {
    const auto* c = std::get_if<RecordedCall>(&e);
    return c != nullptr && c->pid == 2;
  });
  ASSERT_NE(it, r.events.end());
  std::get<RecordedCall>(*it).pid = 9;
  spit(scratch.path / "edited.nuvrun", encode(r));
  Outcome o = shell(command({"--replay-run", (scratch.path / "edited.nuvrun").string()}));
  EXPECT_EQ(o.status, 122);
  EXPECT_NE(o.err.find("replay diverged: deadlock"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("its turn in the record, after process 9"), std::string::npos) << o.err;
}

// A window session's input comes back from the record: the same frames, pixel for pixel.
TEST(RunReplayGui, TheDemoReplaysToTheSameLastFrame) {
  ScratchDir scratch;
  const fs::path& dir = scratch.path;
  std::string readme = std::string(NUV_SOURCE_DIR) + "/scenarios/readme.json";
  std::string demo = guest_program("stack_demo");
  Outcome first =
      shell(command({"--scenario", readme, "--record-run", (dir / "demo.nuvrun").string(),
                     "--save-last", (dir / "first.png").string(), demo}));
  ASSERT_EQ(first.status, 0) << first.err;
  Outcome again = shell(command({"--replay-run", (dir / "demo.nuvrun").string(), "--save-last",
                                 (dir / "again.png").string()}));
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, first.out);
  EXPECT_EQ(slurp(dir / "again.png"), slurp(dir / "first.png"));
}

}  // namespace
}  // namespace nuv::test
