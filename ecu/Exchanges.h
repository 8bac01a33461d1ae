// Stop-and-wait exchanges with the ECU, as pure decisions: the read walk, the upload walk and
// batches of single writes are jobs, each a list of steps ('R' or 'W' of one address). One
// step is in flight at a time; the queue knows which reply it waits for, so a reply is taken
// only when its letter and address are the ones asked for. A step whose reply does not come in
// time is sent again (reading or writing one address twice does no harm), a few times with a
// growing wait, before its job gives up. The time a reply may take follows the line: the
// characters on the line plus what the ECU has been seen to need, never a fixed guess.
//
// Nothing here touches a port or a clock: the owner of the line passes the time in and sends
// what the queue says is due.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "ecu/Protocol.h"

namespace exchange {

using Clock = std::chrono::steady_clock;

struct Step {
    char letter;        // 'R' or 'W'
    uint16_t address;
    uint8_t data;
    bool operator==(const Step&) const = default;
};

// Verify: reads of addresses whose byte is in doubt (an echo that could not be placed).
enum class JobKind { Read, Upload, Writes, Verify };

struct Event {
    enum Type {
        StepDone,    // the step's reply came: replyData is what the ECU reports (read or stored)
        JobDone,     // every step of the job is done
        JobFailed,   // the job gave up at `step` (index stepIndex); steps before it are done
    } type;
    uint32_t job;
    JobKind kind;
    Step step;
    std::size_t stepIndex;
    uint8_t replyData = 0;
    bool cancelled = false;   // JobFailed: cancelled by the owner, not given up on the line
    // StepDone: the reply could as well have answered an earlier write of the same byte to the
    // address, so what the ECU holds there is in doubt until it is read back.
    bool doubtful = false;
    // JobFailed: how often the step it gave up at went out. A write that went out may have
    // been stored although its echo never came.
    int sends = 0;
};

// What became of a reply handed to the queue.
enum class Verdict {
    NotOurs,   // not an 'r' or 'w' reply: the queue has no say in it
    Taken,     // the reply to the step in flight
    Late,      // a second answer to a step that was sent again: nothing to do
    Stray,     // an 'r' or 'w' nobody asked for (or a damaged address): a bad reply
    // A 'w' that answers an earlier write of the address (a duplicated or very late echo) and
    // may have overwritten a later byte there: the address must be read back.
    Doubtful,
};

// Sends of one step before its job gives up, and the largest factor the wait grows to.
inline constexpr int MaxSends = 6;
inline constexpr int MaxBackoff = 8;

class ExchangeQueue {
public:
    // Queues a job behind those already queued. Returns its number (never 0). An empty job is
    // done at once, the next time Due() runs.
    uint32_t Submit(JobKind kind, std::vector<Step> steps);

    bool Busy() const { return !jobs_.empty(); }
    // A job of this kind is queued or running.
    bool Has(JobKind kind) const;
    // The step in flight or next to go out, if any.
    std::optional<Step> Current() const;

    // The step to send now: the running job's step when it has not gone out yet or its reply
    // is overdue (one more send). A step to an address whose earlier write of the same byte may
    // still be answered waits until those answers have come or can no longer come: its own
    // echo could not be told from theirs. Jobs that give up on the way report JobFailed into `events`.
    // Returns nothing while the step in flight still has time. After sending the returned
    // step, call Sent().
    std::optional<Step> Due(Clock::time_point now, std::vector<Event>& events);
    // The step Due() returned has gone out at `now` (or could not: the reply then simply does
    // not come). lineTime: what the exchange needs on the line, output ahead of it included.
    void Sent(Clock::time_point now, Clock::duration lineTime);
    // When the step in flight is overdue, or a held step may go; nothing when neither.
    std::optional<Clock::time_point> Deadline() const;

    // An accepted reply, with the time it arrived on the line (not the time the window got to
    // it). For an 'r' or 'w' it decides whether it answers the step in flight; StepDone and
    // JobDone go to `events`.
    Verdict Reply(const protocol::Reply& reply, Clock::time_point arrived, std::vector<Event>& events);

    // Every unfinished job fails at its current step (cancelled = true), in queue order.
    void CancelAll(Clock::time_point now, std::vector<Event>& events);

    // The wait for a reply beyond the line time, as learnt from the replies so far: at least
    // what the ECU was last seen to need, at most a little beyond the slowest reply of the last
    // minute (a reply that arrived late because the window was busy teaches nothing, as replies
    // are timed where they arrive).
    Clock::duration Allowance() const;

private:
    struct Job {
        uint32_t id;
        JobKind kind;
        std::vector<Step> steps;
        std::size_t next = 0;   // index of the step in flight or next to go out
    };
    // Answers that may still come for a step already done (sent more than once) or given up.
    // A record lives until its answers have come, or until both its time has passed and the
    // line has carried a few more exchanges: a pause of the window, which sends nothing, ages
    // no record.
    struct LateAnswer {
        Step step;
        int count;                  // answers still possible; 0: only duplicates can come
        Clock::time_point until;
        uint64_t sendsAtMake;
        bool superseded = false;    // another byte has been confirmed at the address since
    };
    struct Sample {
        Clock::time_point at;
        Clock::duration need;
    };

    Event MakeEvent(Event::Type type, const Job& job, uint8_t replyData = 0) const;
    void Finish();   // drops the front job after its last event
    // Late, Doubtful, or nothing when the reply is not an answer to an earlier step.
    std::optional<Verdict> LateVerdict(const protocol::Reply& reply, Clock::time_point now, bool matchesCurrent,
                                       bool& ambiguous);
    void DropAged(Clock::time_point now);
    bool Held(const Step& step, Clock::time_point now, Clock::time_point* until) const;
    void Remember(const Step& step, int count, Clock::time_point now);
    void Learn(Clock::duration excess, Clock::time_point now, bool exact);

    std::deque<Job> jobs_;
    uint32_t nextId_ = 1;
    bool inFlight_ = false;
    int sends_ = 0;                 // sends of the step in flight
    int backoff_ = 1;               // factor of the wait, doubled by each send again
    Clock::time_point sentAt_{};
    Clock::time_point firstSentAt_{};   // first send of the step in flight
    Clock::duration lineTime_{};
    Clock::time_point deadline_{};
    std::optional<Clock::time_point> heldUntil_;   // the next step waits for late answers
    uint64_t totalSends_ = 0;
    std::vector<LateAnswer> late_;
    std::deque<Sample> samples_;        // what replies needed in the last minute
    double seenNeed_ = 0;               // what the ECU was last seen to need (us), slowly forgotten
    // Smoothed time the ECU takes beyond the line time, and its variation (microseconds).
    bool learnt_ = false;
    double smoothed_ = 0;
    double variation_ = 0;
};

}  // namespace exchange
