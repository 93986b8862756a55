#pragma once
#include <cstdint>

// The engine's log and message boxes.
class OrvaDebug {
public:
    // printf-style text appended to the log file (opened, written and closed
    // per call) while a log path is set; nothing is written otherwise.
    static void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
    // Sets the log file; null or an empty path stops logging.
    static void SetLogPath(const char* path);
    static const char* GetLogPath();

    // Formats the text (at most 4096 bytes) and shows a message box of the
    // given type; returns the box's result (1, OK, when there is no display).
    static int32_t MsgBox(uint32_t type, const char* caption, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

    // Where message boxes go: the window layer installs its own; without one
    // the text goes to stderr.
    using MessageBoxHandler = int32_t (*)(uint32_t type, const char* caption, const char* text);
    static void SetMessageBoxHandler(MessageBoxHandler handler);
};
