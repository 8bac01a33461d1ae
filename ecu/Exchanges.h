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

enum class JobKind { Read, Upload, Writes };

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
};

// What became of a reply handed to the queue.
enum class Verdict {
    NotOurs,   // not an 'r' or 'w' reply: the queue has no say in it
    Taken,     // the reply to the step in flight
    Late,      // a second answer to a step that was sent again: nothing to do
    Stray,     // an 'r' or 'w' nobody asked for (or a damaged address): a bad reply
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
    // is overdue (one more send). Jobs that give up on the way report JobFailed into `events`.
    // Returns nothing while the step in flight still has time. After sending the returned
    // step, call Sent().
    std::optional<Step> Due(Clock::time_point now, std::vector<Event>& events);
    // The step Due() returned has gone out at `now` (or could not: the reply then simply does
    // not come). lineTime: what the exchange needs on the line, output ahead of it included.
    void Sent(Clock::time_point now, Clock::duration lineTime);
    // When the step in flight is overdue; nothing when no step is in flight.
    std::optional<Clock::time_point> Deadline() const;

    // An accepted reply. For an 'r' or 'w' it decides whether it answers the step in flight;
    // StepDone and JobDone go to `events`.
    Verdict Reply(const protocol::Reply& reply, Clock::time_point now, std::vector<Event>& events);

    // Every unfinished job fails at its current step (cancelled = true), in queue order.
    void CancelAll(Clock::time_point now, std::vector<Event>& events);

    // The wait for a reply beyond the line time, as learnt from the replies so far.
    Clock::duration Allowance() const;

private:
    struct Job {
        uint32_t id;
        JobKind kind;
        std::vector<Step> steps;
        std::size_t next = 0;   // index of the step in flight or next to go out
    };
    struct LateAnswer {
        Step step;
        int count;
        Clock::time_point until;
    };

    Event MakeEvent(Event::Type type, const Job& job, uint8_t replyData = 0) const;
    void Finish();   // drops the front job after its last event
    bool IsLate(const protocol::Reply& reply, Clock::time_point now, bool matchesCurrent);
    void Learn(Clock::duration excess);

    std::deque<Job> jobs_;
    uint32_t nextId_ = 1;
    bool inFlight_ = false;
    int sends_ = 0;                 // sends of the step in flight
    int backoff_ = 1;               // factor of the wait, doubled by each send again
    Clock::time_point sentAt_{};
    Clock::duration lineTime_{};
    Clock::time_point deadline_{};
    std::vector<LateAnswer> late_;
    // Smoothed time the ECU takes beyond the line time, and its variation (microseconds).
    bool learnt_ = false;
    double smoothed_ = 0;
    double variation_ = 0;
};

}  // namespace exchange
