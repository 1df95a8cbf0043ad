#include "arp/arppace.h"

#include <algorithm>
#include <iterator>

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::nanoseconds second = 1s;
constexpr std::chrono::nanoseconds tenth = 100ms;

// The kernel's `request`th request of an ask counted at `at`, and how late it may be.
constexpr std::chrono::nanoseconds kernelAfter(int request)
{
    return request * second;
}
constexpr std::chrono::nanoseconds kernelLate(int request)
{
    return ArpPace::kernelAskLateness + request * ArpPace::kernelTimerLateness;
}

} // namespace

ArpPace::ArpPace(std::uint32_t rate, Clock::time_point from)
    : m_rate(std::max<std::uint32_t>(rate, 1)), m_perTenth((m_rate + 9) / 10),
      // One nanosecond more than an even share: rate + 1 requests span more than a second.
      m_interval(second / m_rate + 1ns), m_nextAt(from)
{
}

ArpPace::Clock::time_point ArpPace::slot(Ask ask, Clock::time_point now) const
{
    const int requests = ask == Ask::Kernel ? kernelRequests : 1;
    const bool kernel = ask == Ask::Kernel;
    Clock::time_point at = std::max(now, m_nextAt);
    for (int request = 0; request < requests;) {
        const Clock::duration after = kernel ? kernelAfter(request) : Clock::duration(0);
        const Clock::duration late = kernel ? kernelLate(request) : Clock::duration(0);
        if (const std::optional<Clock::time_point> later = blocked({at + after, late})) {
            at = *later - after;
            request = 0;
        } else {
            ++request;
        }
    }
    return at;
}

void ArpPace::spend(Ask ask, Clock::time_point at)
{
    // What lies further back shares no window with anything from now on.
    while (!m_counts.empty() && m_counts.front().at < at - second - kernelLateness)
        m_counts.pop_front();
    const bool kernel = ask == Ask::Kernel;
    if (!kernel)
        count({at, Clock::duration(0)});
    for (int request = 0; kernel && request < kernelRequests; ++request)
        count({at + kernelAfter(request), kernelLate(request)});
    // A slot missed by a late wake-up is made up, within the counts: a sender that wakes late
    // each time keeps its pace. After a pause the spacing starts again from now. The kernel's
    // asks are spaced as their requests fit a second and its timers' lateness.
    const Clock::duration interval =
        kernel ? kernelRequests * (second + kernelTimerLateness) / m_rate : m_interval;
    m_nextAt = (at - m_nextAt > maxCatchUp ? at : m_nextAt) + interval;
}

void ArpPace::hold(const Request &request)
{
    count({request.at, std::clamp<Clock::duration>(request.late, Clock::duration(0), kernelLateness)});
}

std::vector<ArpPace::Request> ArpPace::heldFrom(Clock::time_point now) const
{
    std::vector<Request> held;
    std::copy_if(m_counts.cbegin(), m_counts.cend(), std::back_inserter(held),
                 [&](const Request &counted) { return counted.at >= now - second - kernelLateness; });
    return held;
}

std::optional<ArpPace::Clock::time_point> ArpPace::blocked(const Request &request) const
{
    const auto before = [](const Request &counted, Clock::time_point when) { return counted.at < when; };
    for (const auto &[length, most] : {std::pair{second, m_rate}, std::pair{tenth, m_perTenth}}) {
        // The counts that may share a window of `length` with this one.
        const auto first = std::lower_bound(m_counts.cbegin(), m_counts.cend(), request.at - length - kernelLateness, before);
        const auto end = std::lower_bound(first, m_counts.cend(), request.at + length + request.late + 1ns, before);
        // `most` counts in a row and this one, within less than the window and the lateness of
        // the earliest: one too many. (Requests that can share a window always include such a
        // row, with the one counted last among them.)
        for (auto run = first; end - run >= std::ptrdiff_t(most); ++run) {
            const Request &earliest = request.at < run->at ? request : *run;
            const Clock::time_point to = std::max((run + std::ptrdiff_t(most) - 1)->at, request.at);
            const Clock::duration reach = length + earliest.late;
            // Later by less than this, the same row is one too many still.
            if (to - earliest.at < reach)
                return request.at < run->at ? run->at : run->at + reach;
        }
    }
    return std::nullopt;
}

void ArpPace::count(const Request &request)
{
    const auto after = std::upper_bound(m_counts.cbegin(), m_counts.cend(), request.at,
                                        [](Clock::time_point when, const Request &counted) { return when < counted.at; });
    m_counts.insert(after, request);
}
