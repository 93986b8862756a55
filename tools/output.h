#pragma once
// The standard output of the tools, which says when it could not be written:
// a listing cut short on a full disk or past the file-size limit must not
// pass for a whole one.
//
//   ToolOutputBegin();
//   ToolPrint("...", ...);
//   return ToolOutputEnd("osf-dump") ? status : 1;

// Lets a write past the file-size limit fail (and be said) rather than end
// the process by its signal.
void ToolOutputBegin();
// printf to the standard output, keeping the first failure.
void ToolPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Flushes what was printed so far, for a reader waiting on it.
void ToolFlush();
// Flushes the standard output; false, said on stderr as "<tool>: cannot
// write the output: <reason>", when any of it could not be written.
bool ToolOutputEnd(const char* tool);
