// The engine's log file, written line by line, and its message boxes.
#include "engine/core/debug.h"

#include <cstdarg>
#include <cstdio>
#include <string>

static std::string g_logPath;
static OrvaDebug::MessageBoxHandler g_messageBoxHandler = nullptr;

void OrvaDebug::SetLogPath(const char* path)
{
    g_logPath = path != nullptr ? path : "";
}

const char* OrvaDebug::GetLogPath()
{
    return g_logPath.c_str();
}

void OrvaDebug::Log(const char* format, ...)
{
    if (g_logPath.empty() || format == nullptr) {
        return;
    }
    FILE* file = std::fopen(g_logPath.c_str(), "ab");
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
