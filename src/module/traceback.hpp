// Traceback entries for functions that have no Python frame of their own.
#pragma once

#include <source_location>

namespace pelorand {

// Adds an entry named `qualname` to the pending exception's traceback. The
// entry points at the C++ line that reports the failure.
void add_traceback(const char* qualname,
                   std::source_location where = std::source_location::current());

// Same, with an explicit pseudo-file name and line.
void add_traceback(const char* qualname, const char* filename, int line);

}  // namespace pelorand
