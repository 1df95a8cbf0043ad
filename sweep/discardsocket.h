#pragma once

#include <QtGlobal>

// One UDP socket that sends an empty datagram to the discard port (9) of an address: enough
// to make the kernel resolve the address's neighbour entry, and nothing a host needs to
// answer. Non-blocking and close-on-exec; it never reads. One thread at a time.
class DiscardSocket final {
public:
    enum class SendResult {
        Sent,
        Full, // the send buffer is full: try again when the descriptor is writable (EPOLLOUT)
        Failed, // errno set: EACCES for a broadcast address, ENETUNREACH, ...
    };

    // Opens the socket; isOpen() says whether that worked and openError() why not.
    DiscardSocket();
    ~DiscardSocket();
    DiscardSocket(const DiscardSocket &) = delete;
    DiscardSocket &operator=(const DiscardSocket &) = delete;

    bool isOpen() const { return m_descriptor >= 0; }
    int openError() const { return m_openError; } // errno; 0 when open
    int descriptor() const { return m_descriptor; } // -1 when not open

    SendResult send(quint32 address); // host byte order

private:
    int m_descriptor = -1;
    int m_openError = 0;
};
