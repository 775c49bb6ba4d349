// Names that come from a program (its symbols, the source paths in its debugging information,
// the strings it hands the kernel) are data: any byte may be in them. Before they reach a
// terminal or a line-based file they are made printable, so that none can clear the screen,
// forge a line of a report or break a record.
#pragma once

#include <string>
#include <string_view>

namespace nuv {

// UTF-8 text passes as it is; control characters (C0, DEL and C1), the characters that
// reorder a line's display, bytes that are not UTF-8 and the backslash become \xNN escapes,
// one per byte. The result is valid UTF-8 on one line, and differs from the input exactly
// when the input held such a byte.
std::string printable(std::string_view bytes);

}  // namespace nuv
