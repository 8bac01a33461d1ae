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
// A second answer to a step sent again is looked for at least this long, and at most this long
// beyond what the ECU was seen to need for each answer still to come.
constexpr Clock::duration LeastLateWindow = milliseconds(300);
constexpr Clock::duration LateWindow = milliseconds(2000);
// ... and in any case until the line has carried this many more exchanges.
constexpr uint64_t AgeSends = 4;
// The slowest reply of this long a time bounds the wait.
constexpr Clock::duration SampleMemory = std::chrono::seconds(60);

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

void ExchangeQueue::DropAged(Clock::time_point now)
{
    late_.erase(std::remove_if(late_.begin(), late_.end(),
                               [&](const LateAnswer& l) {
                                   const bool ownTimeOver = l.until < now;
                                   const bool lineMovedOn = totalSends_ - l.sendsAtMake >= AgeSends;
                                   return ownTimeOver && (lineMovedOn || l.until + LateWindow < now);
                               }),
                late_.end());
}

bool ExchangeQueue::Held(const Step& step, Clock::time_point now, Clock::time_point* until) const
{
    // Only an earlier write of the same byte (or any write, for a read of the address) makes
    // answers that cannot be told apart from this step's.
    bool held = false;
    for (const LateAnswer& l : late_) {
        if (l.count <= 0 || l.step.letter != 'W' || l.step.address != step.address || l.until <= now) continue;
        if (step.letter == 'W' && step.data != l.step.data) continue;
        if (!held || l.until > *until) *until = l.until;
        held = true;
    }
    return held;
}

void ExchangeQueue::Remember(const Step& step, int count, Clock::time_point now)
{
    // Each answer still to come needs what the ECU has been seen to need, one after the other
    // on an ECU that works through its commands in turn.
    const auto each = lineTime_ + Allowance();
    const auto span = std::clamp<Clock::duration>(std::max(count, 1) * each * 2, LeastLateWindow, LateWindow);
    late_.push_back({step, count, now + span, totalSends_});
}

std::optional<Step> ExchangeQueue::Due(Clock::time_point now, std::vector<Event>& events)
{
    heldUntil_.reset();
    DropAged(now);
    while (!jobs_.empty()) {
        Job& job = jobs_.front();
        if (job.next >= job.steps.size()) {   // an empty job
            events.push_back(MakeEvent(Event::JobDone, job));
            Finish();
            continue;
        }
        if (!inFlight_) {
            Clock::time_point until{};
            if (Held(job.steps[job.next], now, &until)) {
                heldUntil_ = until;
                return std::nullopt;
            }
            sends_ = 0;
            return job.steps[job.next];
        }
        if (now < deadline_) return std::nullopt;
        if (sends_ >= MaxSends) {
            // Its answers may still come after all; they are not bad replies then.
            Remember(job.steps[job.next], sends_, now);
            Event e = MakeEvent(Event::JobFailed, job);
            e.sends = sends_;
            events.push_back(e);
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
    ++totalSends_;
    if (sends_ == 1) firstSentAt_ = now;
    sentAt_ = now;
    lineTime_ = lineTime;
    // A step sent again waits twice as long; the longer wait stays for the steps after it until
    // a reply shows how long replies take now.
    if (sends_ > 1) backoff_ = std::min(backoff_ * 2, MaxBackoff);
    deadline_ = now + (lineTime + Allowance()) * backoff_;
}

std::optional<Clock::time_point> ExchangeQueue::Deadline() const
{
    if (!inFlight_) return heldUntil_;
    return deadline_;
}

Clock::duration ExchangeQueue::Allowance() const
{
    if (!learnt_) return FirstAllowance;
    const auto learnt = microseconds(static_cast<int64_t>(std::ceil(smoothed_ + 4 * variation_)));
    // Never less than what the ECU was last seen to need: an ECU that has become slower is not
    // sent every step twice while the average catches up.
    const auto floor = std::max<Clock::duration>(LeastAllowance, microseconds(static_cast<int64_t>(seenNeed_ * 1.1)));
    // Never more than a few frame times beyond the slowest reply of the last minute.
    Clock::duration slowest{};
    for (const Sample& s : samples_) slowest = std::max(slowest, s.need);
    const auto ceiling = std::max(floor, slowest + 2 * lineTime_);
    return std::clamp<Clock::duration>(learnt, floor, ceiling);
}

void ExchangeQueue::Learn(Clock::duration excess, Clock::time_point now, bool exact)
{
    const double sample = std::max(0.0, static_cast<double>(duration_cast<microseconds>(excess).count()));
    samples_.push_back({now, microseconds(static_cast<int64_t>(sample))});
    while (!samples_.empty() && samples_.front().at + SampleMemory < now) samples_.pop_front();
    if (!exact) {
        // A step sent more than once, answered this long after its first send: the ECU needed
        // at most that (at least, when the first send was the one answered, which it is unless
        // the line lost it). It raises the floor of the wait, which later replies let down.
        seenNeed_ = std::max(seenNeed_, sample);
        backoff_ = 1;
        if (!learnt_) {
            smoothed_ = sample;
            variation_ = sample / 2;
            learnt_ = true;
        }
        return;
    }
    seenNeed_ = std::max(sample, seenNeed_ * 0.9);
    // The usual smoothing of round-trip times: a mean and a mean deviation, each moving an
    // eighth and a quarter of the way to the new sample.
    if (!learnt_) {
        smoothed_ = sample;
        variation_ = sample / 2;
        learnt_ = true;
        return;
    }
    variation_ = 0.75 * variation_ + 0.25 * std::fabs(smoothed_ - sample);
    smoothed_ = 0.875 * smoothed_ + 0.125 * sample;
}

std::optional<Verdict> ExchangeQueue::LateVerdict(const protocol::Reply& reply, Clock::time_point now,
                                                  bool matchesCurrent, bool& ambiguous)
{
    DropAged(now);
    // Every record is looked at: one for the address with another byte says nothing of this
    // reply, and must not end the search.
    for (LateAnswer& l : late_) {
        if (!Answers(reply, l.step)) continue;
        if (reply.letter == 'w' && reply.data != l.step.data) continue;   // the echo of another byte
        if (l.count <= 0) {
            // All its answers have come: another one is a duplicate, which may have overwritten
            // what was stored after it. The step in flight writing that very byte takes it.
            if (reply.letter != 'w') continue;
            if (matchesCurrent && jobs_.front().steps[jobs_.front().next].data == reply.data) continue;
            return Verdict::Doubtful;
        }
        if (matchesCurrent) {
            const Step& current = jobs_.front().steps[jobs_.front().next];
            if (reply.letter == 'r') continue;   // answers to reads of one address are alike
            if (reply.data == current.data) {
                // Could be either: taken, and the address read back afterwards.
                ambiguous = true;
                continue;
            }
        }
        --l.count;
        return l.superseded ? Verdict::Doubtful : Verdict::Late;
    }
    return std::nullopt;
}

Verdict ExchangeQueue::Reply(const protocol::Reply& reply, Clock::time_point now, std::vector<Event>& events)
{
    if (reply.letter != 'r' && reply.letter != 'w') return Verdict::NotOurs;
    // A reply that arrived before the step went out cannot be its answer.
    const bool matchesCurrent = inFlight_ && !jobs_.empty() && Answers(reply, jobs_.front().steps[jobs_.front().next])
                                && now >= firstSentAt_;
    bool ambiguous = false;
    if (const std::optional<Verdict> late = LateVerdict(reply, now, matchesCurrent, ambiguous)) return *late;
    if (!matchesCurrent) return Verdict::Stray;

    Job& job = jobs_.front();
    const Step step = job.steps[job.next];
    if (sends_ == 1) {
        Learn(now - sentAt_ - lineTime_, now, true);   // a step sent once tells how long a reply takes
        backoff_ = 1;
    } else {
        Learn(now - firstSentAt_ - lineTime_, now, false);
    }
    if (step.letter == 'W') {
        for (LateAnswer& l : late_)
            if (l.step.letter == 'W' && l.step.address == step.address && l.step.data != reply.data) l.superseded = true;
        // Kept even when sent once, so that a duplicated echo is known for one.
        Remember(step, sends_ - 1, now);
    } else if (sends_ > 1) {
        Remember(step, sends_ - 1, now);
    }
    Event done = MakeEvent(Event::StepDone, job, reply.data);
    done.doubtful = ambiguous;
    events.push_back(done);
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
        if (const auto step = Current()) Remember(*step, sends_, now);
    bool first = true;
    for (const Job& job : jobs_) {
        Event e = MakeEvent(Event::JobFailed, job);
        e.cancelled = true;
        if (first && inFlight_) e.sends = sends_;
        first = false;
        events.push_back(e);
    }
    jobs_.clear();
    inFlight_ = false;
    sends_ = 0;
    heldUntil_.reset();
}

}  // namespace exchange
