#pragma once
// Data built into the program, found by type and name.
#include <cstddef>
#include <cstdint>

namespace platform {

// Data built into the program ("WAVE", "MIDI", "XFILE" and raw-data entries),
// found by type and name. The program links in tables of entries and adds
// them, usually from a static initialiser through ResourceTable, before
// anything looks one up.
struct ResourceEntry {
    const char* type = "";  // "WAVE", "MIDI", "XFILE" or kResourceTypeRawData
    const char* name = "";  // compared without regard to ASCII case
    const uint8_t* data = nullptr;
    size_t size = 0;  // bytes
};

// The type of untyped binary resources (number 10 among the numbered types).
constexpr const char* kResourceTypeRawData = "#10";

// Adds a table that lives as long as the program; the entries are not copied.
// Among entries of one type and name the table added first wins. False when
// the table is empty or the registry is full.
bool AddResources(const ResourceEntry* entries, size_t count);
// Takes a table out again (tests that add tables of their own).
void RemoveResources(const ResourceEntry* entries);
// Finds the entry of the type and name; false, with data and size untouched,
// when there is none or an argument is null.
bool FindResource(const char* type, const char* name, const uint8_t** data, size_t* size);

// Adds its table for the life of the program: `static ResourceTable t(entries, n);`.
class ResourceTable {
public:
    ResourceTable(const ResourceEntry* entries, size_t count) { AddResources(entries, count); }
};

}  // namespace platform
