#pragma once

#include "watch/watchoutput.h"

#include <functional>

// What `watch` prints: each change as one line of JSON on standard output as it is judged
// (watchEventLine), and for a round that could ask nobody one line on standard error. Output
// that cannot be written is told to `failed`, with whether its reader has gone, once.
class JsonLinesOutput final : public WatchOutput {
public:
    explicit JsonLinesOutput(std::function<void(bool readerGone)> failed) : m_failed(std::move(failed)) {}
    void changed(const WatchSession &session, const QList<WatchChange> &changes) override;
    void roundEnded(const WatchSession &session, const WatchRoundEnd &end) override;

    // Whether standard output has lost its reader: a pipe whose reader has gone reports an
    // error, a terminal that has gone a hang-up, even while nothing is written.
    static bool readerGone();

private:
    std::function<void(bool)> m_failed;
    bool m_writing = true;
};
