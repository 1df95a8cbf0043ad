#include "probes/deviceprobe.h"

#include "platform/addresstext.h"
#include "platform/backgroundpool.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "probes/networkloop.h"
#include "probes/probemerge.h"
#include "probes/probepath.h"

namespace {

// Where responses are read: a few threads that never wait for anything but a log line,
// apart from the pool whose tasks run whole runs.
BackgroundPool &responsePool()
{
    static BackgroundPool *const pool = new BackgroundPool(4); // never destroyed
    return *pool;
}

// A response that made no record: a status that is not success, or a body that is no JSON
// object.
ProbeOutcome notListed(int status)
{
    if (status != 200)
        return {ProbeOutcome::Kind::HttpStatus, status};
    return {ProbeOutcome::Kind::NotJson, 0};
}

ProbeOutcome probeAndWait(ProbeKind kind, const Address &ipAddress, const std::optional<QString> &redirectAddress,
                          const std::shared_ptr<Run> &run)
{
    requireBackgroundThread(probePath(kind).operation);
    if (run->isStopped())
        return {};
    // The probe's one give-back, after its merge and any hand-over, ends this wait.
    const auto ended = std::make_shared<Semaphore>(0);
    ProbeJob job{ipAddress, redirectAddress, kind, run, ProbeTicket(ended, nullptr)};
    job.outcome = std::make_shared<ProbeOutcome>();
    const std::shared_ptr<const ProbeOutcome> outcome = job.outcome;
    probe(std::move(job));
    ended->wait();
    return *outcome;
}

} // namespace

void probe(ProbeJob job)
{
    DeviceProbe::start(std::move(job));
}

void endUnanswered(ProbeJob job)
{
    DeviceProbe::logRequest(job);
    job.end({ProbeOutcome::Kind::NoAnswer});
}

ProbeOutcome getDeviceInfo(const Address &ipAddress, const std::optional<QString> &redirectAddress,
                           const std::shared_ptr<Run> &run)
{
    return probeAndWait(ProbeKind::DeviceInfo, ipAddress, redirectAddress, run);
}

ProbeOutcome getXpicoInfo(const Address &ipAddress, const std::optional<QString> &redirectAddress,
                          const std::shared_ptr<Run> &run)
{
    return probeAndWait(ProbeKind::XpicoData, ipAddress, redirectAddress, run);
}

// --- One probe ---------------------------------------------------------------------------

QString DeviceProbe::logRequest(const ProbeJob &job)
{
    QString path = probePath(job.kind).path;
    logLine(lcProbes, "GET %@", deviceUrl(job.address, path));
    return path;
}

void DeviceProbe::start(ProbeJob job)
{
    const QString path = logRequest(job);
    // A text that would send the request to any other host makes no URL, and the request
    // fails as a transport error.
    HttpTarget target = probeUrl(job.address, path).value_or(HttpTarget());
    const std::stop_token stop = job.run->stopToken();
    // The handler is copied, so the probe, which holds the job, is shared by its copies.
    const std::shared_ptr<DeviceProbe> probe(new DeviceProbe(std::move(job)));
    httpGet(std::move(target), [probe](HttpResult result) { probe->finished(std::move(result)); }, stop);
}

void DeviceProbe::finished(HttpResult result)
{
    const bool handOver = probePath(m_job.kind).notFound && result.responded && result.status == 404;
    // Any other status that came with a response is read alike: what counts is a body that
    // is a JSON object. Endings that need neither reading nor a log line end here.
    if (m_job.run->isStopped()) {
        m_job.end({});
        return;
    }
    if (!result.responded) {
        m_job.end({result.refused   ? ProbeOutcome::Kind::Refused
                   : result.noRoute ? ProbeOutcome::Kind::NoRoute
                                    : ProbeOutcome::Kind::NoAnswer});
        return;
    }
    if (!handOver && !result.body) {
        m_job.end(notListed(result.status));
        return;
    }
    // The pool takes copyable tasks only; the job moves along inside this.
    struct Answer {
        ProbeJob job;
        HttpResult result;
    };
    auto answer = std::make_shared<Answer>(Answer{std::move(m_job), std::move(result)});
    responsePool().async([answer] { answered(std::move(answer->job), std::move(answer->result)); });
}

void DeviceProbe::answered(ProbeJob job, HttpResult result)
{
    if (job.run->isStopped()) {
        job.end({});
        return;
    }
    if (const std::optional<ProbeKind> next = probePath(job.kind).notFound; next && result.status == 404) {
        const QString address = addressText(job.address);
        logLine(lcProbes, probePath(*next).handedOver, address);
        // The same job, with its ticket: the address stands in for the redirect address.
        job.kind = *next;
        job.redirect = address;
        job.nameLookUp = nullptr;
        start(std::move(job));
        return;
    }
    // The record keeps the address's text: the value ends here.
    const QString address = addressText(job.address);
    const std::optional<QString> redirect = job.nameLookUp ? address : job.redirect.value_or(address);
    std::optional<DeviceRecord> record = probePath(job.kind).record(*result.body, address, redirect);
    if (!record) {
        job.end(notListed(result.status));
        return;
    }
    const auto merge = std::make_shared<ProbeMerge>(std::move(job), std::move(*record));
    if (merge->needsLookUp())
        merge->postAfterLookUp();
    else
        merge->post();
}
