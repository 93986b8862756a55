// Names of the network results.
#include "platform/net/net.h"

namespace platform {

const char* NetResultName(NetResult result)
{
    switch (result) {
    case NetResult::Ok: return "Ok";
    case NetResult::InvalidParam: return "InvalidParam";
    case NetResult::OutOfMemory: return "OutOfMemory";
    case NetResult::NoTransport: return "NoTransport";
    case NetResult::NotInitialized: return "NotInitialized";
    case NetResult::AlreadyInitialized: return "AlreadyInitialized";
    case NetResult::AlreadyInSession: return "AlreadyInSession";
    case NetResult::UnsupportedProvider: return "UnsupportedProvider";
    case NetResult::MissingComponent: return "MissingComponent";
    case NetResult::WrongType: return "WrongType";
    case NetResult::AddressInUse: return "AddressInUse";
    case NetResult::HostNotFound: return "HostNotFound";
    case NetResult::Refused: return "Refused";
    case NetResult::TimedOut: return "TimedOut";
    case NetResult::InvalidPassword: return "InvalidPassword";
    case NetResult::InvalidApplication: return "InvalidApplication";
    case NetResult::SessionFull: return "SessionFull";
    case NetResult::ConnectionLost: return "ConnectionLost";
    }
    return "Unknown";
}

}  // namespace platform
