// Fuzz target: the address URL parser. A URL that is refused leaves the
// address as it was; one that is taken holds at most the components an
// address can, a port that reads as a number, and a provider only when it
// is the UDP transport. Built as a libFuzzer program with clang
// (ORVA_LIBFUZZER); every build also runs it as a regression program over
// URLs it writes itself and deterministic mutations of them:
//
//   fuzz_net_address_regression [MUTATIONS]
//   fuzz_net_address_regression --write-seeds FOLDER
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/net/address.h"
#include "tests/platform/fuzz/fuzz_check.h"
#include "tests/platform/fuzz/fuzz_main_util.h"
#include "tests/platform/fuzz/fuzz_text_mutator.h"

using namespace platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The URL is a C string: it ends at the first zero byte.
    const std::string url(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<NetAddress> address = NetAddress::Create();
    FUZZ_CHECK(address != nullptr);
    FUZZ_CHECK(address->SetString("hostname", "keep") == NetResult::Ok && address->SetDword("port", 7) == NetResult::Ok);
    const NetResult result = address->BuildFromUrl(url.c_str());
    std::string text;
    uint32_t value = 0;
    if (result != NetResult::Ok) {
        FUZZ_CHECK(address->GetComponentCount() == 2);
        FUZZ_CHECK(address->GetString("hostname", &text) == NetResult::Ok && text == "keep");
        FUZZ_CHECK(address->GetDword("port", &value) == NetResult::Ok && value == 7);
        return 0;
    }
    const int32_t count = address->GetComponentCount();
    FUZZ_CHECK(count >= 0 && count <= int32_t(NetAddress::kMaxComponents));
    if (address->HasComponent("port")) {
        FUZZ_CHECK(address->GetDword("port", &value) == NetResult::Ok);
        FUZZ_CHECK(address->GetString("port", &text) == NetResult::WrongType);
    }
    FUZZ_CHECK(!address->HasComponent("provider") || address->HasUdpProvider());
    if (address->GetString("hostname", &text) == NetResult::Ok) {
        FUZZ_CHECK(text.size() <= NetAddress::kMaxStringBytes);
    }
    std::unique_ptr<NetAddress> copy = address->Duplicate();
    FUZZ_CHECK(copy != nullptr && copy->GetComponentCount() == count);
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
namespace {

void MutateUrl(std::string* url, fuzzrun::Random* random)
{
    static const std::vector<const char*> kWords = {";", "=", "%", "%7B", "%7D", "%2", "%G1", "%00", "port=",
                                                    "hostname=", "provider=", "4294967295", "4294967296", "-1",
                                                    "x-directplay:/", ";a=b;a=c", "EBFE7BA0-628D-11D2-AE0F-006097B01411"};
    fuzztext::Mutate(url, random, kWords);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> urls = {
        "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D",
        "x-directplay:/provider=%7Bebfe7ba0-628d-11d2-ae0f-006097b01411%7D;hostname=192.168.0.7;port=2302",
        "X-DirectPlay:/HostName=game.example.org;Port=65535;extra=a%20b%3Bc;;",
        "x-directplay:/port=0;device=%41%ff;name%3D=x",
    };
    std::vector<std::vector<uint8_t>> seeds;
    for (const std::string& url : urls) {
        std::unique_ptr<NetAddress> address = NetAddress::Create();
        if (address->BuildFromUrl(url.c_str()) != NetResult::Ok) {
            std::fprintf(stderr, "seed \"%s\" does not read\n", url.c_str());
            return 1;
        }
        seeds.emplace_back(url.begin(), url.end());
    }
    int status = 0;
    if (fuzzmain::WriteSeedsIfAsked(argc, argv, seeds, &status)) {
        return status;
    }
    const long mutations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 3000;
    fuzzrun::Random random(0x9B05688C2B3E6C1Full);
    fuzzrun::Run(urls, mutations, &random, &MutateUrl, 3);
    std::printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
#endif
