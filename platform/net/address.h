#pragma once
// Transport addresses as named components, and their URL form.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/net/net.h"

namespace platform {

// A transport address as a set of named components: "provider" (which
// transport), "hostname" (a name or dotted address) and "port" are the ones
// the peer reads. Names compare without regard to ASCII case.
class NetAddress {
public:
    // Component data types; the numbers are those the engine passes through.
    enum ComponentType : uint32_t {
        kComponentString = 1,
        kComponentDword = 2,
    };

    static constexpr size_t kMaxNameBytes = 64;
    // Longest string component, terminator excluded (a host name is at most
    // 253 bytes; longer texts are refused here rather than cut).
    static constexpr size_t kMaxStringBytes = 1024;
    static constexpr size_t kMaxComponents = 32;
    // The UDP transport's identifier, as a URL gives it in braces.
    static constexpr const char* kUdpProvider = "EBFE7BA0-628D-11D2-AE0F-006097B01411";

    // A new empty address; null when memory runs out.
    static std::unique_ptr<NetAddress> Create();
    // A copy of every component; null when memory runs out.
    std::unique_ptr<NetAddress> Duplicate() const;

    // Replaces the components with those of a URL of the form
    // "x-directplay:/name=value;name=value", values %-escaped. The provider
    // must be the UDP transport's (UnsupportedProvider otherwise); "port" must
    // be decimal. InvalidParam for a malformed URL, which leaves the address
    // as it was.
    NetResult BuildFromUrl(const char* url);

    // Adds or replaces a component.
    NetResult SetString(const char* name, const char* value);
    NetResult SetDword(const char* name, uint32_t value);

    // MissingComponent when absent, WrongType when of the other type.
    NetResult GetString(const char* name, std::string* out) const;
    NetResult GetDword(const char* name, uint32_t* out) const;
    bool HasComponent(const char* name) const;
    int32_t GetComponentCount() const;
    // True when the provider is the UDP transport.
    bool HasUdpProvider() const;

    NetAddress(const NetAddress&) = delete;
    NetAddress& operator=(const NetAddress&) = delete;

private:
    NetAddress() = default;

    struct Component {
        std::string name;
        ComponentType type = kComponentString;
        std::string text;
        uint32_t value = 0;
    };
    const Component* Find(const char* name) const;
    NetResult Put(Component component);

    std::vector<Component> components;
};

}  // namespace platform
