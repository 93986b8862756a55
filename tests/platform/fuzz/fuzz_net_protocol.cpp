// Fuzz target: the decoders of the session join handshake. A packet either
// decodes or not; one that decodes is exactly one well-formed packet, so it
// encodes back to the very same bytes. Built as a libFuzzer program with
// clang (ORVA_LIBFUZZER); every build also runs it as a regression program
// over packets it encodes itself and deterministic mutations of them:
//
//   fuzz_net_protocol_regression [MUTATIONS]
//   fuzz_net_protocol_regression --write-seeds FOLDER
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/net/protocol.h"
#include "tests/platform/fuzz/fuzz_check.h"
#include "tests/platform/fuzz/fuzz_main_util.h"
#include "tests/platform/fuzz/fuzz_regression.h"

using namespace platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> bytes(data, data + size);
    JoinRequest request;
    const bool isRequest = DecodeJoinRequest(data, size, &request);
    if (isRequest) {
        FUZZ_CHECK(request.password.size() <= Peer::kMaxTextBytes && request.playerName.size() <= Peer::kMaxTextBytes);
        FUZZ_CHECK(EncodeJoinRequest(request) == bytes);
    }
    JoinReply reply;
    const bool isReply = DecodeJoinReply(data, size, &reply);
    if (isReply) {
        FUZZ_CHECK(!isRequest && EncodeJoinReply(reply) == bytes);
    }
    // Nowhere to put the result: nothing is decoded.
    FUZZ_CHECK(!DecodeJoinRequest(data, size, nullptr) && !DecodeJoinReply(data, size, nullptr));
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
namespace {

using Bytes = std::vector<uint8_t>;

using fuzzrun::Random;

// Mutations where the decoders check: the header, the text lengths (any
// two bytes), the result word, and the packet's length.
void Mutate(Bytes* b, Random* r)
{
    static const uint16_t kLengths[] = {0, 1, 2047, 2048, 2049, 0x7FFF, 0xFFFF};
    switch (r->Below(6)) {
    case 0: if (!b->empty()) (*b)[r->Below(b->size() < 6 ? b->size() : 6)] ^= uint8_t(1u << r->Below(8)); break;
    case 1:
        if (b->size() >= 2) {
            const size_t at = r->Below(b->size() - 1);
            const uint16_t v = kLengths[r->Below(7)];
            (*b)[at] = uint8_t(v);
            (*b)[at + 1] = uint8_t(v >> 8);
        }
        break;
    case 2: b->resize(r->Below(b->size() + 1)); break;
    case 3: b->resize(b->size() + 1 + r->Below(8), uint8_t(r->Next())); break;
    case 4: if (b->size() > 6) (*b)[6 + r->Below(b->size() - 6)] = uint8_t(r->Below(20)); break;
    default: if (!b->empty()) (*b)[r->Below(b->size())] = uint8_t(r->Next()); break;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    JoinRequest request;
    request.application = {0x02AE835Du, 0x9179, 0x485F, {0x83, 0x43, 0x90, 0x1D, 0x32, 0x7C, 0xE7, 0x94}};
    std::vector<Bytes> seeds;
    seeds.push_back(EncodeJoinRequest(request));
    request.password = "secret";
    request.playerName = "\x83\x76\x83\x8C\x83\x43\x83\x84\x81\x5B";
    seeds.push_back(EncodeJoinRequest(request));
    request.password = std::string(Peer::kMaxTextBytes, 'p');
    request.playerName = "";
    seeds.push_back(EncodeJoinRequest(request));
    for (NetResult result : {NetResult::Ok, NetResult::InvalidPassword, NetResult::SessionFull,
                             NetResult::ConnectionLost}) {
        JoinReply reply;
        reply.result = result;
        reply.player = result == NetResult::Ok ? 2 : 0;
        seeds.push_back(EncodeJoinReply(reply));
    }
    for (const Bytes& seed : seeds) {
        if (seed.empty()) {
            std::fprintf(stderr, "a seed did not encode\n");
            return 1;
        }
    }
    int status = 0;
    if (fuzzmain::WriteSeedsIfAsked(argc, argv, seeds, &status)) {
        return status;
    }
    const long mutations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 3000;
    fuzzrun::Random random(0x1F83D9ABFB41BD6Bull);
    fuzzrun::Run(seeds, mutations, &random, &Mutate, 3);
    std::printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
#endif
