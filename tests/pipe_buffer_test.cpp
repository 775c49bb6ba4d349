// A pipe's buffer lives as long as an end of it, or a FIFO's name, holds it: once no end is
// left nobody can read its bytes, and a FIFO must not keep them, nor their 64 KiB, for good.
#include <gtest/gtest.h>

#include <memory>

#include "host/kernel/descriptors.h"

namespace nuv::test {
namespace {

TEST(PipeBuffer, WithNoEndLeftItsBytesAndMemoryGo) {
  auto pipe = std::make_shared<PipeBuffer>();
  {
    PipeEnd reader(pipe, false);
    PipeEnd writer(pipe, true);
    ASSERT_EQ(writer.write("abc", 3), 3);
    { PipeEnd second_reader(pipe, false); }
    EXPECT_EQ(pipe->used, 3u) << "an end closing keeps what the others may still read";
  }
  EXPECT_EQ(pipe->used, 0u);
  EXPECT_EQ(pipe->ring.capacity(), 0u);
  // The next pair of ends (a FIFO opened again) starts empty and works.
  PipeEnd reader(pipe, false);
  PipeEnd writer(pipe, true);
  ASSERT_EQ(writer.write("de", 2), 2);
  char out[4] = {};
  EXPECT_EQ(reader.read(out, sizeof out), 2);
  EXPECT_STREQ(out, "de");
}

}  // namespace
}  // namespace nuv::test
