#pragma once
// Host files written whole.
#include <cstddef>
#include <string>

namespace platform {

// Makes `size` bytes the whole of the file at hostPath, or leaves the file as
// it was: the bytes go to a new file beside it, are flushed to the disk, and
// only then does that file take the name. A full disk or a size limit thus
// never leaves a cut file under the name. A file made anew gets the
// permissions fopen would give it; one replaced keeps its own; a symbolic
// link is followed, so its target is replaced. False, with the reason in
// *error and nothing left behind, when a step fails.
bool WriteWholeFile(const char* hostPath, const void* data, size_t size, std::string* error);

}  // namespace platform
