// The trace's two printers and its filter, on calls made by real guest code.
#include "host/kernel/trace.h"

#include <gtest/gtest.h>
#include <string.h>

#include <nlohmann/json.hpp>

#include "abi/errors.h"
#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

// The strace line of one call of close(3) that answers `result`.
std::string close_answering(int32_t result) {
  ServiceCall call{.number = SVC_close, .slots = {3, 0, 0}, .result = result};
  call.args[0] = decoded::Signed{3};
  std::string line;
  append_strace_line(line, call);
  return line;
}

// The names are Linux's, so the C library's own table of them is the judge.
TEST(Trace, EveryErrorShowsItsLinuxName) {
#define NUV_NUMBER(num, name) num,
  for (int number : {NUVRELOS_ERRORS(NUV_NUMBER)}) {
#undef NUV_NUMBER
    SCOPED_TRACE(number);
    EXPECT_EQ(close_answering(-number),
              "close(3) = -" + std::to_string(number) + " " + strerrorname_np(number) + "\n");
  }
  EXPECT_EQ(close_answering(-3), "close(3) = -3\n") << "a number that is no error of ours";
  EXPECT_EQ(close_answering(2), "close(3) = 2\n");
}

TEST(Trace, FilterKeepsOrDropsNamedServices) {
  struct Case {
    const char* list;
    bool write, exit, unknown;  // shown?
  } cases[] = {
      {"", true, true, true},
      {"write", true, false, false},
      {"exit,write", true, true, false},
      {"!write", false, true, true},
      {"!write,!exit", false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    TraceFilter f = TraceFilter::parse(c.list);
    EXPECT_EQ(f.shows(SVC_write), c.write);
    EXPECT_EQ(f.shows(SVC_exit), c.exit);
    EXPECT_EQ(f.shows(7), c.unknown);
    EXPECT_EQ(f.shows(0xFFFFFFFF), c.unknown);
  }
  for (const char* bad : {"wrte", "write,", "!", "write,,exit", "SVC_write"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(TraceFilter::parse(bad), std::invalid_argument);
  }
}

// Each record as both printers show it, decoded from the guest's memory around a real call.
TEST(Trace, RecordsAndBytesInBothPrinters) {
  Guest g;
  g.kernel().set_decoding(true);
  uint32_t text = g.str("caf\xE9 \"q\"\n\x01");
  uint32_t rect = g.alloc(20);
  int32_t words[5] = {-3, 4, 50, 60, 0x00332211};
  g.write(rect, words, sizeof words);
  g.calli("write", {1, text, 10});
  g.calli("gui_fill_rect", {1, rect});
  g.calli("open", {0x10, 0});  // an unreadable path stays an address
  struct Case {
    std::string strace;
    nlohmann::json decoded;
  } cases[] = {
      {"write(1, \"caf\\xe9 \\\"q\\\"\\n\\x01\", 10) = 10",
       {nullptr, "caf\u00e9 \"q\"\n\u0001", nullptr}},
      {"gui_fill_rect(1, {x=-3, y=4, w=50, h=60, color=#112233}) = -9 EBADF",
       {nullptr,
        {{"x", -3}, {"y", 4}, {"w", 50}, {"h", 60}, {"color", {{"r", 17}, {"g", 34}, {"b", 51}}}},
        nullptr}},
      {"open(0x10, 0x0, 0x0) = -14 EFAULT", {nullptr, nullptr, nullptr}},
  };
  const auto& calls = g.kernel().calls();
  ASSERT_EQ(calls.size(), std::size(cases));
  for (size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(cases[i].strace);
    std::string text_line, json_line;
    append_strace_line(text_line, calls[i]);
    append_json_line(json_line, calls[i]);
    EXPECT_EQ(text_line, cases[i].strace + "\n");
    // The rest of the record is the same for every call (the numbers' test shows it).
    EXPECT_EQ(nlohmann::json::parse(json_line)["decoded"], cases[i].decoded);
  }
}

// Every digit count, both signs and the widths of each field, against the host's own printing.
TEST(Trace, NumbersPrintAsTheHostPrintsThem) {
  const uint32_t values[] = {0,          9,          10,         99,         100,       999,
                             1000,       99999,      100000,     9999999,    10000000,  999999999,
                             1000000000, 2147483647, 2147483648, 3221220952, 4294967295};
  for (uint32_t v : values) {
    SCOPED_TRACE(v);
    const auto signed_v = static_cast<int32_t>(v);
    ServiceCall call{.seq = uint64_t{v} * 5, .number = SVC_close, .slots = {v, 0, v}};
    call.result = signed_v;
    std::string json, text;
    append_json_line(json, call);
    call.args[0] = decoded::Signed{signed_v};
    append_strace_line(text, call);
    EXPECT_EQ(json, "{\"seq\":" + std::to_string(uint64_t{v} * 5) +
                        ",\"pid\":1,\"number\":5,\"name\":\"close\",\"slots\":[" + std::to_string(v) + ",0," +
                        std::to_string(v) + "],\"decoded\":[null,null,null],\"result\":" +
                        std::to_string(signed_v) + "}\n");
    EXPECT_TRUE(
        text.starts_with("close(" + std::to_string(signed_v) + ") = " + std::to_string(signed_v)))
        << text;
  }
}

}  // namespace
}  // namespace nuv::test
