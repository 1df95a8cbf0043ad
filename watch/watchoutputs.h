#pragma once

#include "platform/controls.h"

#include <QString>

#include <memory>

class WatchSession;

// What a face asks of the outputs that every watch may have.
struct SharedOutputs final {
    std::weak_ptr<ChangeNotifier> notifier; // none: no desktop notifications
    QString metricsFile;                    // empty: none
};

// Adds, after the face's own outputs, those that every watch may have: desktop notifications,
// the metrics file, the presence log and the destinations. An output for every watch is one
// more line here.
void addSharedOutputs(WatchSession &session, const SharedOutputs &outputs);
