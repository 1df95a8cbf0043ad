#pragma once

#include "localnet/neighbourmessages.h"

#include <vector>

struct mnl_socket;

// The kernel's neighbour table over rtnetlink: a dump on request, and every change as it
// happens (the RTNLGRP_NEIGH group), read without blocking. Non-blocking and close-on-exec,
// and connected to the kernel, so no other process can send to it. One thread at a time:
// the loop that polls its descriptor.
class NeighbourSocket final {
public:
    enum class ReadStatus {
        Messages, // one datagram read: see messages
        Nothing, // nothing waits
        Lost, // changes were dropped (ENOBUFS, or a datagram too large): dump again
        Failed, // see error
    };
    struct Read final {
        ReadStatus status = ReadStatus::Nothing;
        NeighbourMessages messages;
        int error = 0; // errno, for Lost and Failed
    };

    // Opens the socket; isOpen() says whether that worked and openError() why not.
    NeighbourSocket();
    ~NeighbourSocket();
    NeighbourSocket(const NeighbourSocket &) = delete;
    NeighbourSocket &operator=(const NeighbourSocket &) = delete;

    bool isOpen() const { return m_socket != nullptr; }
    int openError() const { return m_openError; } // errno; 0 when open
    // Readable (EPOLLIN) when something waits; -1 when not open.
    int descriptor() const;

    // Sends the request for a dump of the IPv4 table; its answer comes as reads. The kernel
    // runs one dump at a time per socket: a request during one ends in error EBUSY. False
    // with errno set when the request could not be sent.
    bool requestDump(quint32 sequence);
    // Reads one datagram, if one waits.
    Read read();

private:
    mnl_socket *m_socket = nullptr;
    int m_openError = 0;
    std::vector<char> m_buffer;
};
