// The tables of built-in data and their look-up.
#include "platform/sys/resource.h"

#include <mutex>

namespace platform {

// A handful of tables at most: one per part of the program that carries data.
static constexpr size_t kMaxTables = 32;

struct ResourceTables {
    std::mutex lock;
    const ResourceEntry* entries[kMaxTables] = {};
    size_t counts[kMaxTables] = {};
    size_t used = 0;
};

// Built on first use, so tables added from other files' static initialisers
// find it whatever the order of initialisation.
static ResourceTables& Tables()
{
    static ResourceTables tables;
    return tables;
}

static bool SameName(const char* a, const char* b)
{
    for (;; ++a, ++b) {
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
        if (x == '\0') {
            return true;
        }
    }
}

bool AddResources(const ResourceEntry* entries, size_t count)
{
    if (entries == nullptr || count == 0) {
        return false;
    }
    ResourceTables& tables = Tables();
    std::lock_guard<std::mutex> guard(tables.lock);
    if (tables.used == kMaxTables) {
        return false;
    }
    tables.entries[tables.used] = entries;
    tables.counts[tables.used] = count;
    ++tables.used;
    return true;
}

void RemoveResources(const ResourceEntry* entries)
{
    ResourceTables& tables = Tables();
    std::lock_guard<std::mutex> guard(tables.lock);
    for (size_t t = 0; t < tables.used; ++t) {
        if (tables.entries[t] != entries) {
            continue;
        }
        for (size_t k = t + 1; k < tables.used; ++k) {
            tables.entries[k - 1] = tables.entries[k];
            tables.counts[k - 1] = tables.counts[k];
        }
        --tables.used;
        return;
    }
}

bool FindResource(const char* type, const char* name, const uint8_t** data, size_t* size)
{
    if (type == nullptr || name == nullptr || data == nullptr || size == nullptr) {
        return false;
    }
    ResourceTables& tables = Tables();
    std::lock_guard<std::mutex> guard(tables.lock);
    for (size_t t = 0; t < tables.used; ++t) {
        for (size_t i = 0; i < tables.counts[t]; ++i) {
            const ResourceEntry& entry = tables.entries[t][i];
            if (entry.type == nullptr || entry.name == nullptr) {
                continue;
            }
            if (SameName(entry.type, type) && SameName(entry.name, name)) {
                *data = entry.data;
                *size = entry.data != nullptr ? entry.size : 0;
                return true;
            }
        }
    }
    return false;
}

}  // namespace platform
