#pragma once
// Engine file names turned into host paths.
#include <string>

namespace platform {

// Turns a file name as the engine and its data spell it (Shift-JIS bytes,
// code page 932, with backslashes between folders) into a path for the host
// (UTF-8 with slashes). A relative name stays relative, so it is taken from
// the current directory when opened. Returns an empty string, with a line on
// stderr, when the name is null, empty or not valid Shift-JIS.
std::string HostPath(const char* engineName);

}  // namespace platform
