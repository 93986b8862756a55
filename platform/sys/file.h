#pragma once
// Host files read only when they are files, and written whole.
#include <cstddef>
#include <cstdio>
#include <string>

namespace platform {

// Opens a host file to read, only when it is a regular file: a FIFO would
// block the reader until a writer came, and a device (a link to /dev/zero,
// a terminal) never ends or blocks, so neither is ever opened as data. The
// opening itself does not block. Returns a blocking, close-on-exec
// descriptor, or -1 with errno set; a file refused for its kind is logged
// ("file: <name> is a FIFO, not a regular file") with errno EISDIR for a
// directory and EINVAL for the rest.
int OpenRegularFile(const char* hostPath);
// The same as a stdio stream opened "rb"; null with errno set.
std::FILE* OpenRegularFileStream(const char* hostPath);
// The same for a file as the engine names it (Shift-JIS, backslashes
// between folders; see HostPath); null, with errno ENOENT, for a name that
// is none.
std::FILE* OpenEngineFileStream(const char* engineName);

// Makes `size` bytes the whole of the file at hostPath, or leaves the file as
// it was: the bytes go to a new file beside it, are flushed to the disk, and
// only then does that file take the name. A full disk or a size limit thus
// never leaves a cut file under the name. A file made anew gets the
// permissions fopen would give it; one replaced keeps its own; a symbolic
// link is followed, so its target is replaced. False, with the reason in
// *error and nothing left behind, when a step fails.
bool WriteWholeFile(const char* hostPath, const void* data, size_t size, std::string* error);

}  // namespace platform
