#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// Built-in resources: data linked into the program as tables of entries,
// found by type and name. Types are names such as "WAVE", "MIDI" or "XFILE";
// a numbered type is written "#" and its number ("#10" for raw data).
struct ResourceEntry {
    const char* type;
    const char* name;
    const void* data;
    size_t size;  // bytes
};

constexpr const char kResourceRawData[] = "#10";

// Adds a table the program links in; it must stay in memory while it is
// registered (a static array). Tables added later are searched first. False
// when table is null or memory runs out. Any thread.
bool AddResourceTable(const ResourceEntry* table, size_t count);
// Takes a table out again; false when it was not registered.
bool RemoveResourceTable(const ResourceEntry* table);

// Finds the entry of that type and name (both compared without regard to
// ASCII case, as resource names are); false when there is none. Any thread.
bool FindResource(const char* type, const char* name, const void** data, size_t* size);

}  // namespace platform
