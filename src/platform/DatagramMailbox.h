#pragma once
// A named mailbox for whole datagrams between processes of one user: a Unix
// SOCK_DGRAM socket bound in the abstract namespace to
// "\0tilvaron.<uid>.mailslot.<name>". A name bound by a live process is "in
// use"; the kernel frees it when the owner ends or closes it.
//
// Owns the bound socket. One thread receives; send() is static and callable
// from any thread. Receiving checks the sender's credentials and drops
// datagrams from other users, and datagrams larger than the caller accepts.

#include "common/Result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tv::platform {

class DatagramMailbox {
public:
    // Outcome of bind(): an error text comes only with Failed.
    enum class BindResult { Bound, InUse, Failed };
    // Outcome of receive().
    enum class ReceiveResult { Message, Dropped, Empty, Failed };

    // The socket address for a mailbox name (starts with a zero byte).
    static std::string address(const std::string& name);

    // Sends one datagram to the named mailbox without ever blocking. Returns
    // false when nobody owns the name, its queue is full or the send failed.
    static bool send(const std::string& name, const void* data, std::size_t size);

    DatagramMailbox() = default;
    DatagramMailbox(const DatagramMailbox&) = delete;
    DatagramMailbox& operator=(const DatagramMailbox&) = delete;
    ~DatagramMailbox();

    // Binds the name; on Failed, error() says why.
    BindResult bind(const std::string& name);
    const std::string& error() const { return error_; }
    bool bound() const { return fd_ >= 0; }
    // Descriptor to poll for POLLIN; -1 when not bound.
    int fd() const { return fd_; }
    void close();

    // Takes the next waiting datagram without blocking. Message: payload
    // holds it. Dropped: a datagram was taken and thrown away (another
    // user's, without credentials, or longer than maxBytes). Empty: none waits.
    ReceiveResult receive(std::vector<std::uint8_t>& payload, std::size_t maxBytes);

private:
    int fd_ = -1;
    std::string error_;
};

} // namespace tv::platform
