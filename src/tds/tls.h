#pragma once
// Where TLS plugs in: after PRELOGIN has agreed on encryption, a TlsProvider
// runs the handshake (inside PRELOGIN packets, as TDS requires) and hands back
// the transport the rest of the connection runs on.

#include "tds/prelogin.h"
#include "tds/transport.h"

#include <memory>
#include <string>

namespace rz::tds {

class PacketChannel;

class TlsProvider {
public:
    virtual ~TlsProvider() = default;
    // `raw` stays owned by the caller and outlives the returned transport.
    // For Encryption::LoginOnly the caller goes back to `raw` after LOGIN7.
    virtual std::unique_ptr<Transport> handshake(PacketChannel &channel, Transport &raw, const std::string &serverName,
                                                 Encryption encryption) = 0;
};

} // namespace rz::tds
