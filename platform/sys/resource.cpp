#include "platform/sys/resource.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace platform {

namespace {

struct Table {
    const ResourceEntry* entries;
    size_t count;
};

struct Registry {
    std::mutex lock;
    std::vector<Table> tables;  // searched from the back
};

// Never destroyed: tables may be registered and looked up from static
// constructors and destructors of other files.
Registry& GetRegistry()
{
    static Registry* registry = new Registry();
    return *registry;
}

bool SameName(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = *a;
        char y = *b;
        if (x >= 'a' && x <= 'z') {
            x = static_cast<char>(x - 'a' + 'A');
        }
        if (y >= 'a' && y <= 'z') {
            y = static_cast<char>(y - 'a' + 'A');
        }
        if (x != y) {
            return false;
        }
    }
    return *a == *b;
}

}  // namespace

bool AddResourceTable(const ResourceEntry* table, size_t count)
{
    if (table == nullptr) {
        return false;
    }
    Registry& registry = GetRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    try {
        registry.tables.push_back({table, count});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool RemoveResourceTable(const ResourceEntry* table)
{
    Registry& registry = GetRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto found = std::find_if(registry.tables.begin(), registry.tables.end(),
                              [table](const Table& t) { return t.entries == table; });
    if (found == registry.tables.end()) {
        return false;
    }
    registry.tables.erase(found);
    return true;
}

bool FindResource(const char* type, const char* name, const void** data, size_t* size)
{
    if (type == nullptr || name == nullptr || data == nullptr || size == nullptr) {
        return false;
    }
    Registry& registry = GetRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    for (auto table = registry.tables.rbegin(); table != registry.tables.rend(); ++table) {
        for (size_t i = 0; i < table->count; ++i) {
            const ResourceEntry& entry = table->entries[i];
            if (entry.type == nullptr || entry.name == nullptr || entry.data == nullptr) {
                continue;
            }
            if (SameName(entry.type, type) && SameName(entry.name, name)) {
                *data = entry.data;
                *size = entry.size;
                return true;
            }
        }
    }
    return false;
}

}  // namespace platform
