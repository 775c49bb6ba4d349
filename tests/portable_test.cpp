// The customary library additions on the real i386 code, against the host's glibc wherever ISO
// C or POSIX defines the answer: character classes, string searching and splitting, 64-bit
// conversions, division, sorting, non-local jumps, assertions, line input and pushback, and the
// calendar.
#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

using namespace std::literals;

TEST(CharacterClasses, MatchTheCLocaleForEveryByteAndEof) {
  struct Class {
    const char* name;
    int (*host)(int);
    bool boolean;
  } classes[] = {
      {"isalnum", isalnum, true},  {"isalpha", isalpha, true},  {"isblank", isblank, true},
      {"iscntrl", iscntrl, true},  {"isdigit", isdigit, true},  {"isgraph", isgraph, true},
      {"islower", islower, true},  {"isprint", isprint, true},  {"ispunct", ispunct, true},
      {"isspace", isspace, true},  {"isupper", isupper, true},  {"isxdigit", isxdigit, true},
      {"tolower", tolower, false}, {"toupper", toupper, false}, {"isascii", isascii, true},
      {"toascii", toascii, false},
  };
  Guest g;
  for (const Class& c : classes) {
    SCOPED_TRACE(c.name);
    for (int byte = -1; byte <= 255; ++byte) {
      int32_t got = g.calli(c.name, {static_cast<uint32_t>(byte)});
      int want = c.host(byte);
      if (c.boolean) {
        EXPECT_EQ(got != 0, want != 0) << byte;
      } else {
        EXPECT_EQ(got, want) << byte;
      }
    }
  }
}

// Each search runs on the same bytes in the guest and on the host; the answers are offsets into
// the first argument (-1: null).
TEST(StringSearch, AnswersAsGlibcDoes) {
  struct Case {
    const char* fn;
    std::string_view a, b;
    uint32_t n;  // the byte, length or count the function takes
  } cases[] = {
      // clang-format off
      {"memchr", "abcabc", "", 'c'}, {"memchr", "a\0b"sv, "", 0}, {"memchr", "abc", "", 'z'},
      {"memchr", "\xff\x01", "", 0x1ff}, {"memrchr", "abcabc", "", 'a'}, {"memrchr", "abc", "", 'z'},
      {"strspn", "aabbc", "ab", 0}, {"strspn", "abc", "", 0}, {"strspn", "\xe9\xe9x", "\xe9", 0},
      {"strcspn", "hello, world", ",. ", 0}, {"strcspn", "abc", "", 0}, {"strcspn", "", "a", 0},
      {"strpbrk", "hello, world", " ,", 0}, {"strpbrk", "abc", "xyz", 0},
      {"memmem", "needle in a haystack", "hay", 0}, {"memmem", "aaab", "aab", 0},
      {"memmem", "abc", "", 0}, {"memmem", "ab", "abc", 0}, {"memmem", "a\0b\0c"sv, "\0c"sv, 0},
      {"strchrnul", "abc", "", 'b'}, {"strchrnul", "abc", "", 'z'}, {"rawmemchr", "abc", "", 'c'},
      {"index", "abcb", "", 'b'}, {"rindex", "abcb", "", 'b'},
      // clang-format on
  };
  Guest g;
  for (const Case& c : cases) {
    std::string fn = c.fn;
    SCOPED_TRACE(fn + " \"" + std::string(c.a) + "\" \"" + std::string(c.b) + "\"");
    std::string a(c.a), b(c.b);
    uint32_t ga = g.put(a.c_str(), static_cast<uint32_t>(a.size() + 1));
    uint32_t gb = g.put(b.c_str(), static_cast<uint32_t>(b.size() + 1));
    const char* host = nullptr;
    uint32_t got = 0;
    uint32_t size = static_cast<uint32_t>(a.size()), bsize = static_cast<uint32_t>(b.size());
    if (fn == "memchr") {
      host = static_cast<const char*>(memchr(a.data(), static_cast<int>(c.n), a.size()));
      got = g.call(c.fn, {ga, c.n, size});
    } else if (fn == "memrchr") {
      host = static_cast<const char*>(memrchr(a.data(), static_cast<int>(c.n), a.size()));
      got = g.call(c.fn, {ga, c.n, size});
    } else if (fn == "strspn" || fn == "strcspn") {
      size_t n = fn == "strspn" ? strspn(a.c_str(), b.c_str()) : strcspn(a.c_str(), b.c_str());
      EXPECT_EQ(g.call(c.fn, {ga, gb}), n);
      continue;
    } else if (fn == "strpbrk") {
      host = strpbrk(a.c_str(), b.c_str());
      got = g.call(c.fn, {ga, gb});
    } else if (fn == "memmem") {
      host = static_cast<const char*>(memmem(a.data(), a.size(), b.data(), b.size()));
      got = g.call(c.fn, {ga, size, gb, bsize});
    } else if (fn == "strchrnul") {
      host = strchrnul(a.c_str(), static_cast<int>(c.n));
      got = g.call(c.fn, {ga, c.n});
    } else if (fn == "rawmemchr") {
      host = static_cast<const char*>(rawmemchr(a.c_str(), static_cast<int>(c.n)));
      got = g.call(c.fn, {ga, c.n});
    } else {
      host = fn == "index" ? index(a.c_str(), static_cast<int>(c.n))
                           : rindex(a.c_str(), static_cast<int>(c.n));
      got = g.call(c.fn, {ga, c.n});
    }
    EXPECT_EQ(got == 0 ? -1 : static_cast<int64_t>(got - ga),
              host == nullptr ? -1 : static_cast<int64_t>(host - a.data()));
  }
}

// What the copying functions answer (the end they return) and write, with the bytes after.
TEST(StringCopy, StpcpyStpncpyMempcpyAndTheBsdFunctions) {
  struct Case {
    const char* fn;
    const char* src;
    uint32_t n;
    int end;                 // offset of the returned pointer into the destination
    std::string_view wrote;  // the destination's first 8 bytes, pre-filled with '#'
  } cases[] = {
      {"stpcpy", "abc", 0, 3, "abc\0####"sv},    {"stpcpy", "", 0, 0, "\0#######"sv},
      {"stpncpy", "abc", 5, 3, "abc\0\0###"sv},  {"stpncpy", "abcdef", 3, 3, "abc#####"sv},
      {"mempcpy", "abcdef", 4, 4, "abcd####"sv}, {"bcopy", "xyz", 3, -1, "xyz#####"sv},
      {"bzero", "", 5, -1, "\0\0\0\0\0###"sv},
  };
  Guest g;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fn);
    uint32_t dst = g.put("########", 8), src = g.str(c.src);
    uint32_t got = 0;
    if (c.fn == "bcopy"sv) {
      g.call(c.fn, {src, dst, c.n});
    } else if (c.fn == "bzero"sv) {
      g.call(c.fn, {dst, c.n});
    } else {
      got = g.call(c.fn, {dst, src, c.n});
      EXPECT_EQ(static_cast<int>(got - dst), c.end);
    }
    EXPECT_EQ(g.read_bytes(dst, 8), c.wrote);
  }
  for (int v : {0, 1, 6, INT_MIN, 0x40000000, -1}) {
    EXPECT_EQ(g.calli("ffs", {static_cast<uint32_t>(v)}), ffs(v)) << v;
  }
  EXPECT_EQ(g.calli("bcmp", {g.str("abc"), g.str("abd"), 2}), 0);
  EXPECT_NE(g.calli("bcmp", {g.str("abc"), g.str("abd"), 3}), 0);
}

// strsep and strtok_r on the same text, token by token, as glibc splits it.
TEST(StringSplitting, StrsepAndStrtokRGiveGlibcsTokens) {
  for (const char* text : {"a,b,,c", ",,x,", "", "plain", ", ,"}) {
    for (const char* delim : {",", ", ", ""}) {
      SCOPED_TRACE(std::string("\"") + text + "\" by \"" + delim + "\"");
      Guest g;
      uint32_t gdelim = g.str(delim);
      for (const char* fn : {"strsep", "strtok_r"}) {
        std::string host_copy = text;
        char* host_next = host_copy.data();
        char* host_saved = nullptr;
        uint32_t copy = g.str(text), next = g.alloc(4), saved = g.alloc(4);
        g.set_u32(next, copy);
        bool first = true;
        for (int i = 0; i < 10; ++i) {
          char* want;
          uint32_t got;
          if (fn == "strsep"sv) {
            want = strsep(&host_next, delim);
            got = g.call(fn, {next, gdelim});
          } else {
            want = strtok_r(first ? host_copy.data() : nullptr, delim, &host_saved);
            got = g.call(fn, {first ? copy : 0, gdelim, saved});
          }
          first = false;
          ASSERT_EQ(got == 0, want == nullptr) << fn << " token " << i;
          if (want == nullptr) break;
          EXPECT_EQ(g.read_str(got), want) << fn << " token " << i;
          EXPECT_EQ(got - copy, static_cast<uint32_t>(want - host_copy.data()));
        }
      }
    }
  }
}

// Signs, white space, every base, prefixes that are only half there, and overflow that
// saturates with ERANGE: value, end and errno as glibc gives them.
TEST(WideIntegers, StrtollAndStrtoullAnswerAsGlibc) {
  const char* texts[] = {
      "0",
      "-0",
      "  +42x",
      "\t-42",
      "9223372036854775807",
      "9223372036854775808",
      "-9223372036854775808",
      "-9223372036854775809",
      "18446744073709551615",
      "18446744073709551616",
      "-1",
      "0x1fZ",
      "0x",
      "0xg",
      "0X7fffffffffffffff",
      "077",
      "08",
      "zz",
      "-",
      "+ 1",
      "",
      "1111111111111111111111111111111111111111111111111111111111111111",
      "123456789012345678901234567890",
  };
  Guest g;
  uint32_t end = g.alloc(4), value = g.alloc(8), error = g.alloc(4);
  for (const char* text : texts) {
    for (int base : {0, 2, 8, 10, 16, 36, 1, 37}) {
      for (int is_signed : {1, 0}) {
        SCOPED_TRACE(std::string("\"") + text + "\" base " + std::to_string(base) +
                     (is_signed ? " strtoll" : " strtoull"));
        uint32_t gtext = g.str(text);
        g.call("nuv_probe_strtoll", {gtext, end, static_cast<uint32_t>(base),
                                     static_cast<uint32_t>(is_signed), value, error});
        char* host_end = nullptr;
        errno = 0;
        long long want = is_signed ? strtoll(text, &host_end, base)
                                   : static_cast<long long>(strtoull(text, &host_end, base));
        int want_errno = errno;
        uint64_t got = uint64_t{g.u32(value)} | uint64_t{g.u32(value + 4)} << 32;
        EXPECT_EQ(static_cast<long long>(got), want);
        // A base it refuses leaves glibc's end untouched (and sanitizers' own strtoll set it);
        // ours points at the text.
        bool refused = base == 1 || base > 36;
        EXPECT_EQ(g.u32(end) - gtext, refused ? 0u : static_cast<uint32_t>(host_end - text));
        EXPECT_EQ(static_cast<int>(g.u32(error)), want_errno);
      }
    }
  }
}

TEST(IntegerDivision, QuotientAndRemainderAsTheProcessorGivesThem) {
  Guest g;
  uint32_t out = g.alloc(16);
  for (int64_t n : {int64_t{7}, int64_t{-7}, int64_t{1} << 40, INT64_MIN}) {
    for (int64_t d : {int64_t{2}, int64_t{-3}, int64_t{1} << 33, int64_t{-1}}) {
      SCOPED_TRACE(std::to_string(n) + " / " + std::to_string(d));
      g.call("nuv_probe_lldiv", {static_cast<uint32_t>(n), static_cast<uint32_t>(n >> 32),
                                 static_cast<uint32_t>(d), static_cast<uint32_t>(d >> 32), out});
      // The most negative value over -1 wraps instead of faulting.
      int64_t q = n == INT64_MIN && d == -1 ? INT64_MIN : n / d;
      int64_t r = n == INT64_MIN && d == -1 ? 0 : n % d;
      EXPECT_EQ(static_cast<int64_t>(uint64_t{g.u32(out)} | uint64_t{g.u32(out + 4)} << 32), q);
      EXPECT_EQ(static_cast<int64_t>(uint64_t{g.u32(out + 8)} | uint64_t{g.u32(out + 12)} << 32),
                r);
    }
  }
  uint32_t div_out = g.alloc(8);
  // div returns its pair through a hidden pointer, the first slot.
  g.call("div", {div_out, static_cast<uint32_t>(-7), 2});
  EXPECT_EQ(static_cast<int32_t>(g.u32(div_out)), -3);
  EXPECT_EQ(static_cast<int32_t>(g.u32(div_out + 4)), -1);
  g.call("ldiv", {div_out, static_cast<uint32_t>(INT32_MIN), static_cast<uint32_t>(-1)});
  EXPECT_EQ(static_cast<int32_t>(g.u32(div_out)), INT32_MIN);
}

TEST(Sorting, QsortOrdersAnyArrayAndBsearchFindsWhatIsThere) {
  std::mt19937 rng(7);
  Guest g;
  uint32_t compare = g.sym("nuv_probe_compare_ints");
  for (uint32_t n : {0u, 1u, 2u, 3u, 17u, 100u, 1000u}) {
    SCOPED_TRACE(n);
    std::vector<int32_t> values(n);
    for (int32_t& v : values) v = static_cast<int32_t>(rng() % 50) - 25;  // with repeats
    uint32_t array = g.put(values.data(), n * 4);
    g.call("qsort", {array, n, 4, compare});
    std::sort(values.begin(), values.end());
    std::vector<int32_t> got(n);
    if (n > 0) std::memcpy(got.data(), g.read(array, n * 4).data(), n * 4);
    EXPECT_EQ(got, values);
    uint32_t key = g.alloc(4);
    for (int32_t wanted : {-26, -25, 0, 24, 25}) {
      g.set_u32(key, static_cast<uint32_t>(wanted));
      uint32_t found = g.call("bsearch", {key, array, n, 4, compare});
      bool present = std::binary_search(values.begin(), values.end(), wanted);
      EXPECT_EQ(found != 0, present) << wanted;
      if (found != 0) {
        EXPECT_EQ(static_cast<int32_t>(g.u32(found)), wanted);
      }
    }
  }
}

TEST(NonLocalJumps, LongjmpReturnsToSetjmpWithItsValueFromAnyDepth) {
  struct Case {
    int depth, value, want;
  } cases[] = {{0, 1, 1}, {5, 42, 42}, {200, -3, -3}, {3, 0, 1}};
  Guest g;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.depth);
    // 1000 more: a volatile local of the setjmp caller kept its value.
    EXPECT_EQ(g.calli("nuv_probe_setjmp",
                      {static_cast<uint32_t>(c.depth), static_cast<uint32_t>(c.value)}),
              c.want + 1000);
  }
}

TEST(Assertions, AFailedOneNamesItsPlaceAndEndsAsAbortDoes) {
  Guest g;
  EXPECT_EQ(g.calli("nuv_probe_assert", {7}), 7);
  EXPECT_FALSE(g.exited());
  RunResult r = g.call_result("nuv_probe_assert", {3});
  ASSERT_EQ(r.end, RunResult::End::Exited) << r.message;
  EXPECT_EQ(r.status, 1);
  int line = marked_line(NUV_SOURCE_DIR "/tests/guest/portable_probe.c", "assert(condition == 7)");
  EXPECT_EQ(g.console(), NUV_SOURCE_DIR "/tests/guest/portable_probe.c:" + std::to_string(line) +
                             ": nuv_probe_assert: Assertion `condition == 7' failed.\n");
}

// Standard input read by lines, with a byte pushed back, and the error line of perror.
TEST(LineInput, FgetsGetlineUngetcAndPerror) {
  Guest g("whole_runtime", {.input = "first line\n12 second\nlast"});
  uint32_t in = g.u32(g.sym("stdin")), buffer = g.alloc(64);
  EXPECT_EQ(g.call("fgets", {buffer, 8, in}), buffer);
  EXPECT_EQ(g.read_str(buffer), "first l");
  EXPECT_EQ(g.call("fgets", {buffer, 64, in}), buffer);
  EXPECT_EQ(g.read_str(buffer), "ine\n");
  // One byte pushed back comes first, for fgetc and for fscanf alike; a second one is refused.
  EXPECT_EQ(g.calli("ungetc", {'9', in}), '9');
  EXPECT_EQ(g.calli("ungetc", {'8', in}), -1);
  uint32_t number = g.alloc(4);
  EXPECT_EQ(g.calli("fscanf", {in, g.str("%d"), number}), 1);
  EXPECT_EQ(g.u32(number), 912u);
  EXPECT_EQ(g.calli("getc", {in}), 's');
  EXPECT_EQ(g.calli("ungetc", {'S', in}), 'S');
  uint32_t line = g.alloc(4), capacity = g.alloc(4);
  EXPECT_EQ(g.calli("getline", {line, capacity, in}), 7);
  EXPECT_EQ(g.read_str(g.u32(line)), "Second\n");
  EXPECT_EQ(g.calli("getline", {line, capacity, in}), 4);
  EXPECT_EQ(g.read_str(g.u32(line)), "last");
  EXPECT_EQ(g.calli("getline", {line, capacity, in}), -1);
  EXPECT_EQ(g.calli("feof", {in}), 1);
  EXPECT_EQ(g.call("fgets", {buffer, 64, in}), 0u);
  EXPECT_EQ(g.calli("getline", {0, capacity, in}), -1);
  EXPECT_EQ(g.u32(g.sym("errno")), 22u);
  g.clear_console();
  g.set_u32(g.sym("errno"), 2);
  g.call("perror", {g.str("open")});
  g.call("perror", {0});
  EXPECT_EQ(g.console(), "open: no such file\nno such file\n");
}

// gmtime_r and timegm against glibc's gmtime over the whole 32-bit time_t, leap days and
// centuries among them; the clocks answer that they are not available.
TEST(Calendar, GmtimeAndTimegmAgreeWithGlibcAndTheClocksAreUnavailable) {
  std::mt19937 rng(1970);
  // The epoch and a second before, both ends, a leap day, and the first day of 1903.
  std::vector<int32_t> times = {0, -1, INT32_MIN, INT32_MAX, 951782400, -2114380800};
  for (int i = 0; i < 300; ++i) times.push_back(static_cast<int32_t>(rng()));
  Guest g;
  uint32_t fields = g.alloc(32);
  for (int32_t t : times) {
    SCOPED_TRACE(t);
    time_t host_t = t;
    struct tm want;
    gmtime_r(&host_t, &want);
    EXPECT_EQ(g.calli("nuv_probe_calendar", {static_cast<uint32_t>(t), fields}), t);
    int32_t got[8];
    std::memcpy(got, g.read(fields, 32).data(), 32);
    EXPECT_EQ(got[0], want.tm_year);
    EXPECT_EQ(got[1], want.tm_mon);
    EXPECT_EQ(got[2], want.tm_mday);
    EXPECT_EQ(got[3], want.tm_hour);
    EXPECT_EQ(got[4], want.tm_min);
    EXPECT_EQ(got[5], want.tm_sec);
    EXPECT_EQ(got[6], want.tm_wday);
    EXPECT_EQ(got[7], want.tm_yday);
  }
  uint32_t stored = g.alloc(4);
  EXPECT_EQ(g.calli("time", {stored}), -1);
  EXPECT_EQ(static_cast<int32_t>(g.u32(stored)), -1);
  EXPECT_EQ(g.u32(g.sym("errno")), 38u);
  EXPECT_EQ(g.calli("clock"), -1);
}

// The small ones, each once: 64-bit results by their low word (EAX), the stream and file
// helpers, collation in the "C" locale, and the calendar's other names.
TEST(SmallAdditions, AnswerAsIsoCAndPosixSay) {
  Guest g("whole_runtime", {.input = "x"});
  const uint32_t neg9e9_low = static_cast<uint32_t>(static_cast<uint64_t>(-9000000000LL));
  EXPECT_EQ(g.call("atoll", {g.str("-9000000000")}), neg9e9_low);
  EXPECT_EQ(g.call("strtoimax", {g.str("-9000000000"), 0, 10}), neg9e9_low);
  EXPECT_EQ(g.call("strtoumax", {g.str("0x1ffffffff"), 0, 16}), 0xFFFFFFFFu);
  EXPECT_EQ(g.call("llabs", {static_cast<uint32_t>(-5), 0xFFFFFFFFu}), 5u);
  EXPECT_EQ(g.call("imaxabs", {static_cast<uint32_t>(-7), 0xFFFFFFFFu}), 7u);
  EXPECT_EQ(static_cast<float>(g.call_ld("strtof", {g.str("0.1"), 0})), 0.1f);
  EXPECT_EQ(static_cast<double>(g.call_ld("atof", {g.str("2.5e3")})), 2500.0);
  EXPECT_LT(g.calli("strcoll", {g.str("abc"), g.str("abd")}), 0);
  uint32_t out = g.alloc(8);
  EXPECT_EQ(g.call("strxfrm", {out, g.str("seven"), 8}), 5u);
  EXPECT_EQ(g.read_str(out), "seven");
  EXPECT_EQ(g.call("strxfrm", {out, g.str("much too long"), 4}), 13u);
  EXPECT_EQ(g.read_str(out), "seven") << "nothing stored when it does not fit";
  uint32_t in = g.u32(g.sym("stdin")), console = g.u32(g.sym("stdout"));
  EXPECT_EQ(g.calli("fileno", {in}), 0);
  EXPECT_EQ(g.calli("fileno", {console}), 1);
  EXPECT_EQ(g.calli("setvbuf", {console, 0, 2, 0}), 0);
  EXPECT_EQ(g.calli("putc", {'!', console}), '!');
  EXPECT_EQ(g.console(), "!");
  // vprintf takes the i386's va_list: the address of the arguments' stack slots.
  g.clear_console();
  const uint64_t big = 9000000000ULL;
  uint32_t slots[6] = {static_cast<uint32_t>(-42),
                       g.str("seven"),
                       static_cast<uint32_t>(big),
                       static_cast<uint32_t>(big >> 32),
                       3,
                       'z'};
  EXPECT_EQ(g.calli("vprintf", {g.str("%d %s %lld %*x|"), g.put(slots, sizeof slots)}), 25);
  EXPECT_EQ(g.console(), "-42 seven 9000000000  7a|");
  // The error numbers ISO C names are Linux's, as the kernel's are.
  uint32_t iso = g.alloc(3 * 4);
  g.call("nuv_probe_iso_errors", {iso});
  EXPECT_EQ(g.u32(iso), 33u) << "EDOM";
  EXPECT_EQ(g.u32(iso + 4), 34u) << "ERANGE";
  EXPECT_EQ(g.u32(iso + 8), 84u) << "EILSEQ";
  EXPECT_EQ(g.calli("getc", {in}), 'x');
  EXPECT_EQ(g.calli("getc", {in}), -1);
  EXPECT_EQ(g.calli("feof", {in}), 1);
  g.call("clearerr", {in});
  EXPECT_EQ(g.calli("feof", {in}), 0);
  // remove takes files and empty directories, and says why it failed in errno.
  g.call("writefile", {g.str("/f"), g.str("x"), 1});
  g.call("mkdir", {g.str("/d")});
  EXPECT_EQ(g.calli("remove", {g.str("/f")}), 0);
  EXPECT_EQ(g.calli("remove", {g.str("/d")}), 0);
  EXPECT_EQ(g.calli("remove", {g.str("/f")}), -1);
  EXPECT_EQ(g.u32(g.sym("errno")), 2u);
  EXPECT_EQ(static_cast<double>(g.call_ld("difftime", {10, static_cast<uint32_t>(-5)})), 15.0);
  // mktime normalises its fields: the 32nd of December 1999 at 25:00 is 2000-01-02 01:00.
  int32_t fields[9] = {0, 0, 25, 32, 11, 99, 0, 0, 0};
  uint32_t tm = g.put(fields, sizeof fields);
  EXPECT_EQ(g.calli("mktime", {tm}), 946774800);
  std::memcpy(fields, g.read(tm, sizeof fields).data(), sizeof fields);
  EXPECT_EQ(fields[2], 1);
  EXPECT_EQ(fields[3], 2);
  EXPECT_EQ(fields[4], 0);
  EXPECT_EQ(fields[5], 100);
  EXPECT_EQ(fields[6], 0) << "a Sunday";
  uint32_t when = g.alloc(4);
  g.set_u32(when, 946774800);
  uint32_t local = g.call("localtime", {when});
  EXPECT_EQ(local, g.call("gmtime", {when})) << "UTC: the same fields";
  EXPECT_EQ(g.u32(local + 8), 1u);
}

}  // namespace
}  // namespace nuv::test
