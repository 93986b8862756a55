// Transport addresses: components, and the URL form read and written.
#include "platform/net/address.h"

#include <cstring>
#include <new>
#include <utility>

namespace platform {

static const char kUrlScheme[] = "x-directplay:/";

static char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

static bool EqualsIgnoreCase(const std::string& a, const char* b)
{
    size_t length = std::strlen(b);
    if (a.size() != length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Undoes %-escapes; false on a broken escape or an escaped zero byte.
static bool Unescape(const std::string& text, std::string* out)
{
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out->push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) {
            return false;
        }
        int high = HexValue(text[i + 1]);
        int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            return false;
        }
        out->push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return true;
}

static bool ParseDecimal(const std::string& text, uint32_t* out)
{
    if (text.empty() || text.size() > 10) {
        return false;
    }
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFull) {
        return false;
    }
    *out = static_cast<uint32_t>(value);
    return true;
}

static bool ValidName(const char* name)
{
    if (name == nullptr) {
        return false;
    }
    size_t length = std::strlen(name);
    return length > 0 && length <= NetAddress::kMaxNameBytes;
}

std::unique_ptr<NetAddress> NetAddress::Create()
{
    return std::unique_ptr<NetAddress>(new (std::nothrow) NetAddress());
}

std::unique_ptr<NetAddress> NetAddress::Duplicate() const
{
    std::unique_ptr<NetAddress> copy(new (std::nothrow) NetAddress());
    if (copy == nullptr) {
        return nullptr;
    }
    try {
        copy->components = components;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return copy;
}

NetResult NetAddress::BuildFromUrl(const char* url)
{
    if (url == nullptr) {
        return NetResult::InvalidParam;
    }
    size_t schemeLength = std::strlen(kUrlScheme);
    size_t urlLength = std::strlen(url);
    if (urlLength < schemeLength || urlLength > kMaxStringBytes * 4) {
        return NetResult::InvalidParam;
    }
    for (size_t i = 0; i < schemeLength; ++i) {
        if (LowerAscii(url[i]) != kUrlScheme[i]) {
            return NetResult::InvalidParam;
        }
    }
    try {
        std::vector<Component> parsed;
        std::string rest(url + schemeLength);
        size_t start = 0;
        while (start < rest.size()) {
            size_t end = rest.find(';', start);
            if (end == std::string::npos) {
                end = rest.size();
            }
            std::string pair = rest.substr(start, end - start);
            start = end + 1;
            if (pair.empty()) {
                continue;
            }
            size_t equals = pair.find('=');
            if (equals == std::string::npos || equals == 0) {
                return NetResult::InvalidParam;
            }
            Component component;
            std::string value;
            if (!Unescape(pair.substr(0, equals), &component.name) || !Unescape(pair.substr(equals + 1), &value)) {
                return NetResult::InvalidParam;
            }
            if (component.name.size() > kMaxNameBytes || value.size() > kMaxStringBytes) {
                return NetResult::InvalidParam;
            }
            if (EqualsIgnoreCase(component.name, "port")) {
                component.type = kComponentDword;
                if (!ParseDecimal(value, &component.value)) {
                    return NetResult::InvalidParam;
                }
            } else {
                component.text = value;
            }
            if (EqualsIgnoreCase(component.name, "provider")) {
                std::string wanted = std::string("{") + kUdpProvider + "}";
                if (!EqualsIgnoreCase(value, wanted.c_str())) {
                    return NetResult::UnsupportedProvider;
                }
            }
            for (Component& earlier : parsed) {
                if (EqualsIgnoreCase(earlier.name, component.name.c_str())) {
                    return NetResult::InvalidParam;
                }
            }
            if (parsed.size() >= kMaxComponents) {
                return NetResult::InvalidParam;
            }
            parsed.push_back(std::move(component));
        }
        components = std::move(parsed);
    } catch (const std::bad_alloc&) {
        return NetResult::OutOfMemory;
    }
    return NetResult::Ok;
}

const NetAddress::Component* NetAddress::Find(const char* name) const
{
    if (!ValidName(name)) {
        return nullptr;
    }
    for (const Component& component : components) {
        if (EqualsIgnoreCase(component.name, name)) {
            return &component;
        }
    }
    return nullptr;
}

NetResult NetAddress::Put(Component component)
{
    try {
        for (Component& existing : components) {
            if (EqualsIgnoreCase(existing.name, component.name.c_str())) {
                existing = std::move(component);
                return NetResult::Ok;
            }
        }
        if (components.size() >= kMaxComponents) {
            return NetResult::InvalidParam;
        }
        components.push_back(std::move(component));
    } catch (const std::bad_alloc&) {
        return NetResult::OutOfMemory;
    }
    return NetResult::Ok;
}

NetResult NetAddress::SetString(const char* name, const char* value)
{
    if (!ValidName(name) || value == nullptr) {
        return NetResult::InvalidParam;
    }
    // Measure without reading past the longest text we keep.
    size_t length = strnlen(value, kMaxStringBytes + 1);
    if (length > kMaxStringBytes) {
        return NetResult::InvalidParam;
    }
    try {
        Component component;
        component.name = name;
        component.type = kComponentString;
        component.text.assign(value, length);
        if (EqualsIgnoreCase(component.name, "provider")) {
            std::string wanted = std::string("{") + kUdpProvider + "}";
            if (!EqualsIgnoreCase(component.text, wanted.c_str())) {
                return NetResult::UnsupportedProvider;
            }
        }
        return Put(std::move(component));
    } catch (const std::bad_alloc&) {
        return NetResult::OutOfMemory;
    }
}

NetResult NetAddress::SetDword(const char* name, uint32_t value)
{
    if (!ValidName(name)) {
        return NetResult::InvalidParam;
    }
    try {
        Component component;
        component.name = name;
        component.type = kComponentDword;
        component.value = value;
        return Put(std::move(component));
    } catch (const std::bad_alloc&) {
        return NetResult::OutOfMemory;
    }
}

NetResult NetAddress::GetString(const char* name, std::string* out) const
{
    if (out == nullptr || !ValidName(name)) {
        return NetResult::InvalidParam;
    }
    const Component* component = Find(name);
    if (component == nullptr) {
        return NetResult::MissingComponent;
    }
    if (component->type != kComponentString) {
        return NetResult::WrongType;
    }
    try {
        *out = component->text;
    } catch (const std::bad_alloc&) {
        return NetResult::OutOfMemory;
    }
    return NetResult::Ok;
}

NetResult NetAddress::GetDword(const char* name, uint32_t* out) const
{
    if (out == nullptr || !ValidName(name)) {
        return NetResult::InvalidParam;
    }
    const Component* component = Find(name);
    if (component == nullptr) {
        return NetResult::MissingComponent;
    }
    if (component->type != kComponentDword) {
        return NetResult::WrongType;
    }
    *out = component->value;
    return NetResult::Ok;
}

bool NetAddress::HasComponent(const char* name) const
{
    return Find(name) != nullptr;
}

int32_t NetAddress::GetComponentCount() const
{
    return static_cast<int32_t>(components.size());
}

bool NetAddress::HasUdpProvider() const
{
    // Only the UDP provider is ever stored, so its presence is enough.
    const Component* provider = Find("provider");
    return provider != nullptr && provider->type == kComponentString;
}

}  // namespace platform
