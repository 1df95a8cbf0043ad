#include "localnet/netlinkdatagram.h"

#include <libmnl/libmnl.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <vector>

namespace {

// libmnl compares the length as a signed number, so a length of 2 GiB or more would pass.
bool isWhole(const nlmsghdr *message, int left)
{
    return mnl_nlmsg_ok(message, left) && message->nlmsg_len <= unsigned(left);
}

// A negative errno as netlink sends it, as a positive one; 0 for anything else.
int errnoOf(const nlmsghdr *message)
{
    if (mnl_nlmsg_get_payload_len(message) < sizeof(int))
        return 0;
    int code = 0;
    std::memcpy(&code, mnl_nlmsg_get_payload(message), sizeof code);
    if (code >= 0)
        return 0;
    return code == INT_MIN ? INT_MAX : -code;
}

} // namespace

QByteArray netlinkDumpRequest(quint16 type, std::size_t headerSize, quint32 sequence)
{
    std::array<quint32, 16> buffer{};
    nlmsghdr *const message = mnl_nlmsg_put_header(buffer.data());
    message->nlmsg_type = type;
    message->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message->nlmsg_seq = sequence;
    auto *const family = static_cast<unsigned char *>(mnl_nlmsg_put_extra_header(message, headerSize));
    *family = AF_INET;
    return QByteArray(reinterpret_cast<const char *>(buffer.data()), qsizetype(message->nlmsg_len));
}

NetlinkStatus readNetlinkDatagram(QByteArrayView datagram, const std::function<void(const nlmsghdr &)> &each)
{
    // An aligned copy, padded to whole words: libmnl reads headers in place and may look at
    // up to three bytes past the end of a message whose length is not a multiple of four.
    std::vector<quint32> words((std::size_t(datagram.size()) + 3) / 4);
    if (!datagram.isEmpty())
        std::memcpy(words.data(), datagram.data(), std::size_t(datagram.size()));

    NetlinkStatus status;
    int left = int(std::min<qsizetype>(datagram.size(), INT_MAX));
    for (auto *message = reinterpret_cast<const nlmsghdr *>(words.data()); isWhole(message, left);
         message = mnl_nlmsg_next(message, &left)) {
        if (message->nlmsg_flags & NLM_F_DUMP_INTR)
            status.dumpInterrupted = true;
        switch (message->nlmsg_type) {
        case NLMSG_DONE:
            status.dumpDone = true;
            status.sequence = message->nlmsg_seq;
            // A dump that failed part way says why here.
            if (const int code = errnoOf(message))
                status.error = code;
            break;
        case NLMSG_ERROR:
            status.sequence = message->nlmsg_seq;
            if (const int code = errnoOf(message))
                status.error = code;
            break;
        default:
            each(*message);
        }
    }
    return status;
}

void readNetlinkAttributes(const nlmsghdr &message, std::size_t headerSize, const std::function<void(const nlattr &)> &each)
{
    struct Walk {
        const char *end;
        const std::function<void(const nlattr &)> &each;
    } walk{reinterpret_cast<const char *>(&message) + message.nlmsg_len, each};
    const auto visit = [](const nlattr *attribute, void *opaque) {
        const auto &walk = *static_cast<const Walk *>(opaque);
        if (reinterpret_cast<const char *>(attribute) + attribute->nla_len > walk.end)
            return int(MNL_CB_STOP);
        walk.each(*attribute);
        return int(MNL_CB_OK);
    };
    mnl_attr_parse(&message, unsigned(headerSize), visit, &walk);
}
