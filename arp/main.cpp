// devicefinder-arp: asks one interface's link who holds each of the addresses it is given,
// with its own ARP requests. The package gives it cap_net_raw; it makes itself non-dumpable,
// opens its packet socket and gives the capability up before it reads a byte of its input.
// See arpinput.h and arpanswers.h for what it reads and writes.
#include "arp/arpanswers.h"
#include "arp/arpinput.h"
#include "arp/arpsweep.h"
#include "arp/packetsocket.h"
#include "arp/privileges.h"

#include <arpa/inet.h>
#include <limits.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Verdicts waiting for room in the pipe, at most: the sweep pauses while devicefinder reads.
constexpr std::size_t maxUnwritten = 64 * 1024;
// Replies read in one pass, at most.
constexpr int maxReadsPerPass = 256;

int quit(ArpExit code, const std::string &why)
{
    std::fprintf(stderr, "devicefinder-arp: %s\n", why.c_str());
    return int(code);
}

std::string errorText(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// Reads the input to its `end` line, blocking: the parent's death ends the helper meanwhile.
ArpExit readInput(ArpInputParser &parser)
{
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return ArpExit::InputClosed;
        pending.append(buffer, std::size_t(got));
        std::size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            const ArpInputParser::Status status = parser.feed(std::string_view(pending).substr(0, newline));
            pending.erase(0, newline + 1);
            if (status == ArpInputParser::Status::Bad)
                return ArpExit::BadInput;
            if (status == ArpInputParser::Status::Done)
                return pending.empty() ? ArpExit::Done : (parser.feed(pending), ArpExit::BadInput);
        }
        if (pending.size() > ArpInputParser::maxLine && parser.feed(pending) == ArpInputParser::Status::Bad)
            return ArpExit::BadInput;
    }
}

// Writes what it can without blocking, or all of it; false once devicefinder no longer
// reads. The output stays blocking, since its file may be shared (a terminal when run by
// hand): a pipe that polls writable takes PIPE_BUF bytes without blocking.
bool flush(std::string &unwritten, bool all = false)
{
    while (!unwritten.empty()) {
        pollfd room{STDOUT_FILENO, POLLOUT, 0};
        if (!all && ::poll(&room, 1, 0) <= 0)
            return true;
        if ((room.revents & (POLLERR | POLLNVAL)) != 0)
            return false;
        const std::size_t size = std::min<std::size_t>(unwritten.size(), PIPE_BUF);
        const ssize_t wrote = ::write(STDOUT_FILENO, unwritten.data(), size);
        if (wrote < 0 && errno != EINTR)
            return false;
        unwritten.erase(0, std::size_t(std::max<ssize_t>(wrote, 0)));
    }
    return true;
}

// One empty datagram to the discard port of an address that answered: the kernel resolves
// it now, in a slot of the pace, and devicefinder's connection to it later asks nothing. A
// datagram that cannot leave changes only when the kernel asks.
void resolveThroughKernel(int discard, std::uint32_t address)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(address);
    ::sendto(discard, nullptr, 0, MSG_DONTWAIT, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

int sweep(PacketSocket &socket, const ArpInput &input)
{
    const int discard = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    using Clock = ArpSweep::Clock;
    const ArpReply own{socket.ownAddress(), socket.ownMac()};
    std::vector<ArpPace::Request> held;
    for (const ArpHeld &request : input.held)
        held.push_back({Clock::time_point(std::chrono::nanoseconds(request.at)), std::chrono::nanoseconds(request.late)});
    ArpSweep sweep(input.ranges, input.rate.value_or(ArpSweep::maxRate), own, Clock::now(), held);
    std::string unwritten;
    std::uint64_t someone = 0;
    std::uint64_t nobody = 0;
    Clock::time_point sendsHeldUntil; // the send buffer was full: no sends before it
    for (;;) {
        Clock::time_point now = Clock::now();
        std::uint8_t packet[1500];
        for (int reads = 0; reads < maxReadsPerPass; ++reads) {
            const long got = socket.receive(packet, sizeof packet);
            if (got < 0)
                return quit(ArpExit::Failed, errorText("the packet socket failed"));
            if (got == 0)
                break;
            const std::optional<ArpReply> reply = parseArpReply(packet, std::size_t(got), own.sender);
            if (reply)
                sweep.heard(*reply);
        }
        // The pace is asked before each send and told the time after it: the requests on the
        // wire keep it, however long a send takes.
        while (now >= sendsHeldUntil) {
            now = Clock::now();
            const std::optional<ArpSweep::Send> due = sweep.dueSend(now);
            if (!due)
                break;
            if (due->kind == ArpSweep::Send::Kind::Resolve) {
                resolveThroughKernel(discard, due->address);
                sweep.sent(Clock::now());
                continue;
            }
            const PacketSocket::SendResult result = socket.send(arpRequest(own.senderMac, own.sender, due->address));
            if (result == PacketSocket::SendResult::Failed)
                return quit(ArpExit::Failed, errorText("a request cannot be sent"));
            if (result == PacketSocket::SendResult::Full)
                sendsHeldUntil = now + std::chrono::milliseconds(1);
            else
                sweep.sent(Clock::now());
        }
        while (unwritten.size() < maxUnwritten) {
            const std::optional<ArpSweep::Verdict> verdict = sweep.nextVerdict(now);
            if (!verdict)
                break;
            ArpAnswer answer{ArpAnswer::Kind::Nobody, verdict->address, {}, 0, 0, 0};
            if (verdict->mac) {
                answer.kind = ArpAnswer::Kind::Someone;
                answer.mac = *verdict->mac;
                ++someone;
            } else {
                ++nobody;
            }
            unwritten += answerLine(answer) + '\n';
        }
        const bool finished = sweep.isFinished();
        if (finished)
            unwritten += answerLine({ArpAnswer::Kind::End, 0, {}, sweep.requestsSent(), someone, nobody}) + '\n';
        // The last lines, blocking: the pipe's reader is still there.
        if (!flush(unwritten, finished))
            return quit(ArpExit::Failed, errorText("the answers cannot be written"));
        if (finished)
            return int(ArpExit::Done);

        pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0}, {socket.descriptor(), POLLIN, 0},
                         {STDOUT_FILENO, short(unwritten.empty() ? 0 : POLLOUT), 0}};
        now = Clock::now();
        Clock::time_point until = now + std::chrono::seconds(1);
        if (const std::optional<Clock::time_point> wake = sweep.wakeAt())
            until = std::min(until, *wake);
        if (now < sendsHeldUntil)
            until = std::min(until, sendsHeldUntil);
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(until - now, Clock::duration::zero()));
        const timespec timeout{time_t(wait.count() / 1'000'000'000), long(wait.count() % 1'000'000'000)};
        if (::ppoll(fds, 3, &timeout, nullptr) < 0 && errno != EINTR)
            return quit(ArpExit::Failed, errorText("poll failed"));
        // Anything on the input after its end, or its end: devicefinder stopped the sweep.
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
            return quit(ArpExit::InputClosed, "the input closed before the sweep's end");
    }
}

} // namespace

int main()
{
    // First of all: the user who started it may neither attach to it nor take its socket,
    // also when it was started with an ambient capability, which makes no exec privileged.
    if (::prctl(PR_SET_DUMPABLE, 0) != 0)
        return quit(ArpExit::Failed, errorText("it cannot be made non-dumpable"));
    const pid_t parent = ::getppid();
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
        return quit(ArpExit::Failed, errorText("no parent-death signal"));
    if (::getppid() != parent)
        return quit(ArpExit::InputClosed, "its parent is gone");
    ::signal(SIGPIPE, SIG_IGN);

    PacketSocket socket;
    if (!socket.open())
        return quit(ArpExit::NoSocket, errorText("no packet socket (the program needs the capability cap_net_raw)"));
    std::string why;
    if (!dropPrivileges(&why))
        return quit(ArpExit::Failed, why);

    std::string greeting = std::string(arpGreeting) + '\n';
    if (!flush(greeting, true))
        return quit(ArpExit::Failed, errorText("the greeting cannot be written"));
    ArpInputParser parser;
    if (const ArpExit read = readInput(parser); read != ArpExit::Done) {
        return read == ArpExit::BadInput ? quit(read, "bad input: " + parser.error())
                                         : quit(read, "the input closed before its end line");
    }
    if (!socket.bindTo(parser.input().interface, &why))
        return quit(ArpExit::BadInterface, why);
    return sweep(socket, parser.input());
}
