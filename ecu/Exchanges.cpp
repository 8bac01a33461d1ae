#include "ecu/Exchanges.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace exchange {

namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// Before the first reply nothing is known of the ECU: wait generously.
constexpr Clock::duration FirstAllowance = milliseconds(50);
// However quick the ECU has been, leave the window thread this much room to get to the reply:
// a reply sent again for nothing costs an exchange, one given up too early costs a walk.
constexpr Clock::duration LeastAllowance = milliseconds(5);
// A second answer to a step sent again can come this long after the first.
constexpr Clock::duration LateWindow = milliseconds(2000);

char ReplyLetter(const Step& step)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(step.letter)));
}

bool Answers(const protocol::Reply& reply, const Step& step)
{
    return reply.letter == ReplyLetter(step) && reply.address == step.address;
}

}  // namespace

uint32_t ExchangeQueue::Submit(JobKind kind, std::vector<Step> steps)
{
    const uint32_t id = nextId_++;
    if (nextId_ == 0) nextId_ = 1;
    jobs_.push_back({id, kind, std::move(steps), 0});
    return id;
}

bool ExchangeQueue::Has(JobKind kind) const
{
    return std::any_of(jobs_.begin(), jobs_.end(), [kind](const Job& j) { return j.kind == kind; });
}

std::optional<Step> ExchangeQueue::Current() const
{
    if (jobs_.empty() || jobs_.front().next >= jobs_.front().steps.size()) return std::nullopt;
    return jobs_.front().steps[jobs_.front().next];
}

Event ExchangeQueue::MakeEvent(Event::Type type, const Job& job, uint8_t replyData) const
{
    Event e{};
    e.type = type;
    e.job = job.id;
    e.kind = job.kind;
    e.stepIndex = job.next;
    if (job.next < job.steps.size()) e.step = job.steps[job.next];
    e.replyData = replyData;
    return e;
}

void ExchangeQueue::Finish()
{
    jobs_.pop_front();
    inFlight_ = false;
    sends_ = 0;
}

std::optional<Step> ExchangeQueue::Due(Clock::time_point now, std::vector<Event>& events)
{
    while (!jobs_.empty()) {
        Job& job = jobs_.front();
        if (job.next >= job.steps.size()) {   // an empty job
            events.push_back(MakeEvent(Event::JobDone, job));
            Finish();
            continue;
        }
        if (!inFlight_) {
            sends_ = 0;
            return job.steps[job.next];
        }
        if (now < deadline_) return std::nullopt;
        if (sends_ >= MaxSends) {
            // Its answers may still come after all; they are not bad replies then.
            late_.push_back({job.steps[job.next], sends_, now + LateWindow});
            events.push_back(MakeEvent(Event::JobFailed, job));
            Finish();
            continue;
        }
        return job.steps[job.next];
    }
    return std::nullopt;
}

void ExchangeQueue::Sent(Clock::time_point now, Clock::duration lineTime)
{
    inFlight_ = true;
    ++sends_;
    sentAt_ = now;
    lineTime_ = lineTime;
    // A step sent again waits twice as long; the longer wait stays for the steps after it until
    // a reply to a step sent once shows how long replies take now (otherwise an ECU that has
    // become slower would never be measured: every step would be sent twice).
    if (sends_ > 1) backoff_ = std::min(backoff_ * 2, MaxBackoff);
    deadline_ = now + (lineTime + Allowance()) * backoff_;
}

std::optional<Clock::time_point> ExchangeQueue::Deadline() const
{
    if (!inFlight_) return std::nullopt;
    return deadline_;
}

Clock::duration ExchangeQueue::Allowance() const
{
    if (!learnt_) return FirstAllowance;
    const auto learnt = microseconds(static_cast<int64_t>(std::ceil(smoothed_ + 4 * variation_)));
    return std::max<Clock::duration>(LeastAllowance, learnt);
}

void ExchangeQueue::Learn(Clock::duration excess)
{
    // The usual smoothing of round-trip times: a mean and a mean deviation, each moving an
    // eighth and a quarter of the way to the new sample.
    const double sample = std::max(0.0, static_cast<double>(duration_cast<microseconds>(excess).count()));
    if (!learnt_) {
        smoothed_ = sample;
        variation_ = sample / 2;
        learnt_ = true;
        return;
    }
    variation_ = 0.75 * variation_ + 0.25 * std::fabs(smoothed_ - sample);
    smoothed_ = 0.875 * smoothed_ + 0.125 * sample;
}

bool ExchangeQueue::IsLate(const protocol::Reply& reply, Clock::time_point now, bool matchesCurrent)
{
    late_.erase(std::remove_if(late_.begin(), late_.end(),
                               [now](const LateAnswer& l) { return l.count <= 0 || l.until < now; }),
                late_.end());
    for (LateAnswer& l : late_) {
        if (!Answers(reply, l.step)) continue;
        if (matchesCurrent) {
            // The same address asked for again: only an echo of the earlier byte, where the
            // step in flight writes another, is the earlier step's.
            const Step& current = jobs_.front().steps[jobs_.front().next];
            if (!(reply.letter == 'w' && reply.data == l.step.data && reply.data != current.data)) return false;
        }
        --l.count;
        return true;
    }
    return false;
}

Verdict ExchangeQueue::Reply(const protocol::Reply& reply, Clock::time_point now, std::vector<Event>& events)
{
    if (reply.letter != 'r' && reply.letter != 'w') return Verdict::NotOurs;
    const bool matchesCurrent = inFlight_ && !jobs_.empty() && Answers(reply, jobs_.front().steps[jobs_.front().next]);
    if (IsLate(reply, now, matchesCurrent)) return Verdict::Late;
    if (!matchesCurrent) return Verdict::Stray;

    Job& job = jobs_.front();
    if (sends_ == 1) {
        Learn(now - sentAt_ - lineTime_);   // only a step sent once tells how long a reply takes
        backoff_ = 1;
    } else
        late_.push_back({job.steps[job.next], sends_ - 1, now + LateWindow});
    events.push_back(MakeEvent(Event::StepDone, job, reply.data));
    ++job.next;
    inFlight_ = false;
    sends_ = 0;
    if (job.next >= job.steps.size()) {
        events.push_back(MakeEvent(Event::JobDone, job));
        Finish();
    }
    return Verdict::Taken;
}

void ExchangeQueue::CancelAll(Clock::time_point now, std::vector<Event>& events)
{
    if (inFlight_ && !jobs_.empty())
        if (const auto step = Current()) late_.push_back({*step, sends_, now + LateWindow});
    for (const Job& job : jobs_) {
        Event e = MakeEvent(Event::JobFailed, job);
        e.cancelled = true;
        events.push_back(e);
    }
    jobs_.clear();
    inFlight_ = false;
    sends_ = 0;
}

}  // namespace exchange
