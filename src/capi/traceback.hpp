// Traceback entries for functions that have no Python frame of their own.
#pragma once

#include <source_location>

namespace pelorand {

// `path` without its folders.
constexpr const char* base_name(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

// A file name and line that code objects and traceback entries show.
struct SourcePlace {
  const char* file;
  int line;
};

// The place of the code that calls it, so that what a code object shows
// follows the source when it moves.
consteval SourcePlace here(std::source_location where = std::source_location::current()) {
  return {base_name(where.file_name()), static_cast<int>(where.line())};
}

// Adds an entry named `qualname` to the pending exception's traceback. The
// entry points at the C++ line that reports the failure.
void add_traceback(const char* qualname,
                   std::source_location where = std::source_location::current());

// Same, at an explicit pseudo-file name and line.
void add_traceback(const char* qualname, SourcePlace place);

}  // namespace pelorand
