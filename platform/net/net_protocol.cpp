// The join handshake's packets, written and read with every size checked.
#include "platform/net/protocol.h"

#include <new>

namespace platform {

static const uint8_t kMagic[4] = {'O', 'R', 'V', 'N'};
static constexpr size_t kHeaderBytes = 6;

static void PutHeader(std::vector<uint8_t>& out, PacketKind kind)
{
    out.insert(out.end(), kMagic, kMagic + 4);
    out.push_back(kProtocolVersion);
    out.push_back(static_cast<uint8_t>(kind));
}

static void PutU16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

static void PutU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

static void PutText(std::vector<uint8_t>& out, const std::string& text)
{
    PutU16(out, static_cast<uint16_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

// Reads forward through one packet; every read checks what is left first.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool Header(PacketKind kind)
    {
        if (data == nullptr || size < kHeaderBytes) {
            return false;
        }
        for (int i = 0; i < 4; ++i) {
            if (data[i] != kMagic[i]) {
                return false;
            }
        }
        if (data[4] != kProtocolVersion || data[5] != static_cast<uint8_t>(kind)) {
            return false;
        }
        offset = kHeaderBytes;
        return true;
    }
    bool U8(uint8_t* out)
    {
        if (size - offset < 1) {
            return false;
        }
        *out = data[offset++];
        return true;
    }
    bool U16(uint16_t* out)
    {
        if (size - offset < 2) {
            return false;
        }
        *out = static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8));
        offset += 2;
        return true;
    }
    bool U32(uint32_t* out)
    {
        if (size - offset < 4) {
            return false;
        }
        *out = static_cast<uint32_t>(data[offset]) | (static_cast<uint32_t>(data[offset + 1]) << 8) |
               (static_cast<uint32_t>(data[offset + 2]) << 16) | (static_cast<uint32_t>(data[offset + 3]) << 24);
        offset += 4;
        return true;
    }
    bool Text(std::string* out)
    {
        uint16_t length = 0;
        if (!U16(&length) || length > Peer::kMaxTextBytes || size - offset < length) {
            return false;
        }
        out->assign(reinterpret_cast<const char*>(data + offset), length);
        offset += length;
        return true;
    }
    bool AtEnd() const { return offset == size; }

private:
    const uint8_t* data;
    size_t size;
    size_t offset = 0;
};

std::vector<uint8_t> EncodeJoinRequest(const JoinRequest& request)
{
    if (request.password.size() > Peer::kMaxTextBytes || request.playerName.size() > Peer::kMaxTextBytes) {
        return {};
    }
    try {
        std::vector<uint8_t> out;
        PutHeader(out, PacketKind::JoinRequest);
        PutU32(out, request.application.data1);
        PutU16(out, request.application.data2);
        PutU16(out, request.application.data3);
        out.insert(out.end(), request.application.data4, request.application.data4 + 8);
        PutText(out, request.password);
        PutText(out, request.playerName);
        return out;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::vector<uint8_t> EncodeJoinReply(const JoinReply& reply)
{
    try {
        std::vector<uint8_t> out;
        PutHeader(out, PacketKind::JoinReply);
        PutU32(out, static_cast<uint32_t>(reply.result));
        PutU32(out, reply.player);
        return out;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool DecodeJoinRequest(const uint8_t* data, size_t size, JoinRequest* out)
{
    if (out == nullptr) {
        return false;
    }
    try {
        Reader reader(data, size);
        JoinRequest request;
        if (!reader.Header(PacketKind::JoinRequest) || !reader.U32(&request.application.data1) ||
            !reader.U16(&request.application.data2) || !reader.U16(&request.application.data3)) {
            return false;
        }
        for (uint8_t& byte : request.application.data4) {
            if (!reader.U8(&byte)) {
                return false;
            }
        }
        if (!reader.Text(&request.password) || !reader.Text(&request.playerName) || !reader.AtEnd()) {
            return false;
        }
        *out = std::move(request);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool DecodeJoinReply(const uint8_t* data, size_t size, JoinReply* out)
{
    if (out == nullptr) {
        return false;
    }
    Reader reader(data, size);
    uint32_t result = 0;
    JoinReply reply;
    if (!reader.Header(PacketKind::JoinReply) || !reader.U32(&result) || !reader.U32(&reply.player) ||
        !reader.AtEnd()) {
        return false;
    }
    if (result > static_cast<uint32_t>(NetResult::ConnectionLost)) {
        return false;
    }
    reply.result = static_cast<NetResult>(result);
    *out = reply;
    return true;
}

}  // namespace platform
