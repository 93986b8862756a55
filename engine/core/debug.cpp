// The engine's log file, written line by line, and its message boxes.
#include "engine/core/debug.h"

#include <cstdarg>
#include <cstdio>
#include <string>

// Never destroyed: objects released at process exit, after any static
// destructor, still write their release lines.
static std::string& LogPath()
{
    static std::string* path = new std::string();
    return *path;
}
static OrvaDebug::MessageBoxHandler g_messageBoxHandler = nullptr;

void OrvaDebug::SetLogPath(const char* path)
{
    LogPath() = path != nullptr ? path : "";
}

const char* OrvaDebug::GetLogPath()
{
    return LogPath().c_str();
}

void OrvaDebug::Log(const char* format, ...)
{
    const std::string& path = LogPath();
    if (path.empty() || format == nullptr) {
        return;
    }
    FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fclose(file);
}

void OrvaDebug::SetMessageBoxHandler(MessageBoxHandler handler)
{
    g_messageBoxHandler = handler;
}

int32_t OrvaDebug::MsgBox(uint32_t type, const char* caption, const char* format, ...)
{
    char text[4096] = "";
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
    const char* title = caption != nullptr ? caption : "";
    if (g_messageBoxHandler != nullptr) {
        return g_messageBoxHandler(type, title, text);
    }
    std::fprintf(stderr, "[%s] %s\n", title, text);
    return 1;
}
