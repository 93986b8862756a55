#include "engine/render/frame.h"

#include <cstring>

OrvaFrame::OrvaFrame()
{
    transform.Identity();
    combined.Identity();
    local.Identity();
}

OrvaFrame::~OrvaFrame() = default;

const char* OrvaFrame::GetName() const
{
    return name;
}

OrvaMatrix* OrvaFrame::GetCombinedMatrix()
{
    return &combined;
}

void OrvaFrame::SetName(const char* text)
{
    std::memset(name, 0, sizeof name);
    if (text != nullptr) {
        // A longer name is cut: the field keeps its terminator.
        std::strncpy(name, text, sizeof name - 1);
    }
}

int32_t OrvaFrame::CompareName(const char* text) const
{
    return text != nullptr && std::strcmp(name, text) == 0 ? 1 : 0;
}

void OrvaFrame::SetAnimation(OrvaAnimation* driver)
{
    animation = driver;
}
