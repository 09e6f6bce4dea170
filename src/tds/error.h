#pragma once
// Failures of the connection itself (as opposed to errors the server reports
// in ERROR tokens, which are values: see ServerMessage).

#include <stdexcept>
#include <string>

namespace rz::tds {

enum class ErrorKind {
    Io,                 // the operating system refused a socket call
    Timeout,            // no answer within the time allowed
    ConnectionClosed,   // the peer closed the connection (also mid-message)
    Protocol,           // bytes that are not a valid TDS stream
    Encryption,         // the two sides cannot agree on encryption
    Login,              // the server refused the login
    Authentication,     // the client could not prove who it is (integrated login)
    Usage,              // the caller asked for something impossible
};

class TdsError : public std::runtime_error {
public:
    TdsError(ErrorKind kind, const std::string &message) : std::runtime_error(message), kind_(kind) {}
    ErrorKind kind() const { return kind_; }

private:
    ErrorKind kind_;
};

[[noreturn]] inline void throwProtocol(const std::string &what)
{
    throw TdsError(ErrorKind::Protocol, "malformed TDS stream: " + what);
}

} // namespace rz::tds
