#include <gtest/gtest.h>

#include <string>

#include "platform/net/address.h"

using platform::NetAddress;
using platform::NetResult;

static const char kUdpUrl[] = "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D";

TEST(NetAddress, BuildsFromProviderUrl)
{
    auto address = NetAddress::Create();
    ASSERT_NE(address, nullptr);
    EXPECT_FALSE(address->HasUdpProvider());
    ASSERT_EQ(address->BuildFromUrl(kUdpUrl), NetResult::Ok);
    EXPECT_TRUE(address->HasUdpProvider());
    EXPECT_EQ(address->GetComponentCount(), 1);
    std::string provider;
    ASSERT_EQ(address->GetString("provider", &provider), NetResult::Ok);
    EXPECT_EQ(provider, "{EBFE7BA0-628D-11D2-AE0F-006097B01411}");
}

TEST(NetAddress, UrlCarriesHostNameAndPort)
{
    auto address = NetAddress::Create();
    std::string url = std::string(kUdpUrl) + ";hostname=127.0.0.1;PORT=47624";
    ASSERT_EQ(address->BuildFromUrl(url.c_str()), NetResult::Ok);
    std::string host;
    uint32_t port = 0;
    EXPECT_EQ(address->GetString("HostName", &host), NetResult::Ok);
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(address->GetDword("port", &port), NetResult::Ok);
    EXPECT_EQ(port, 47624u);
    EXPECT_EQ(address->GetString("port", &host), NetResult::WrongType);
    EXPECT_EQ(address->GetDword("hostname", &port), NetResult::WrongType);
}

TEST(NetAddress, RejectsOtherProvidersAndBrokenUrlsLeavingComponents)
{
    auto address = NetAddress::Create();
    ASSERT_EQ(address->SetString("hostname", "keep"), NetResult::Ok);
    EXPECT_EQ(address->BuildFromUrl("x-directplay:/provider=%7B00000000-0000-0000-0000-000000000000%7D"),
              NetResult::UnsupportedProvider);
    const char* broken[] = {
        nullptr,
        "",
        "http:/provider=x",
        "x-directplay:/hostname",             // no value
        "x-directplay:/=1",                   // no name
        "x-directplay:/hostname=a%4",         // escape cut short
        "x-directplay:/hostname=a%zz",        // not hexadecimal
        "x-directplay:/hostname=a%00b",       // escaped zero byte
        "x-directplay:/port=12a",
        "x-directplay:/port=4294967296",      // past 32 bits
        "x-directplay:/port=1;PORT=2",        // twice
    };
    for (const char* url : broken) {
        EXPECT_EQ(address->BuildFromUrl(url), NetResult::InvalidParam) << (url != nullptr ? url : "null");
    }
    std::string host;
    EXPECT_EQ(address->GetString("hostname", &host), NetResult::Ok);
    EXPECT_EQ(host, "keep");
    EXPECT_EQ(address->GetComponentCount(), 1);
}

TEST(NetAddress, ComponentsAreReplacedAndChecked)
{
    auto address = NetAddress::Create();
    EXPECT_EQ(address->SetDword("port", 1), NetResult::Ok);
    EXPECT_EQ(address->SetDword("Port", 2), NetResult::Ok);
    uint32_t port = 0;
    EXPECT_EQ(address->GetDword("port", &port), NetResult::Ok);
    EXPECT_EQ(port, 2u);
    EXPECT_EQ(address->GetComponentCount(), 1);
    EXPECT_EQ(address->GetDword("hostname", &port), NetResult::MissingComponent);
    EXPECT_EQ(address->SetString(nullptr, "x"), NetResult::InvalidParam);
    EXPECT_EQ(address->SetString("", "x"), NetResult::InvalidParam);
    EXPECT_EQ(address->SetString("hostname", nullptr), NetResult::InvalidParam);
    EXPECT_EQ(address->SetString(std::string(NetAddress::kMaxNameBytes + 1, 'n').c_str(), "x"),
              NetResult::InvalidParam);
    EXPECT_EQ(address->SetString("provider", "{something-else}"), NetResult::UnsupportedProvider);
    std::string longest(NetAddress::kMaxStringBytes, 'h');
    EXPECT_EQ(address->SetString("hostname", longest.c_str()), NetResult::Ok);
    EXPECT_EQ(address->SetString("hostname", (longest + "h").c_str()), NetResult::InvalidParam);
    std::string host;
    EXPECT_EQ(address->GetString("hostname", &host), NetResult::Ok);
    EXPECT_EQ(host, longest);
    for (size_t i = static_cast<size_t>(address->GetComponentCount()); i < NetAddress::kMaxComponents; ++i) {
        std::string name = "c";
        name += std::to_string(i);
        EXPECT_EQ(address->SetDword(name.c_str(), 0), NetResult::Ok);
    }
    EXPECT_EQ(address->SetDword("one-too-many", 0), NetResult::InvalidParam);
}

TEST(NetAddress, DuplicateIsIndependent)
{
    auto device = NetAddress::Create();
    ASSERT_EQ(device->BuildFromUrl(kUdpUrl), NetResult::Ok);
    auto host = device->Duplicate();
    ASSERT_NE(host, nullptr);
    ASSERT_EQ(host->SetString("hostname", "127.0.0.1"), NetResult::Ok);
    ASSERT_EQ(device->SetDword("port", 9), NetResult::Ok);
    EXPECT_TRUE(host->HasUdpProvider());
    EXPECT_FALSE(device->HasComponent("hostname"));
    EXPECT_FALSE(host->HasComponent("port"));
}
