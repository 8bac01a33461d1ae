// The simulated ECU: a pseudo-terminal whose far end answers command frames the way the
// ECU does. Tests and benchmarks run it in-process; quenrix-ecu-sim wraps it in a program.
// All public members are safe to call from any thread while it runs.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ecu/Protocol.h"
#include "tools/ecu-sim/EngineModel.h"
#include "tools/ecu-sim/SimImage.h"
#include "tools/ecu-sim/SimOptions.h"

namespace sim {

// A well-formed frame the simulator received (letter as sent).
using Command = protocol::Reply;

// Replaces the bytes of a reply: gets the command and the reply as it would be sent
// (after --corrupt and --crlf), returns the pieces to send instead; an empty result sends
// nothing. Pieces go out as separate writes a gap apart, so a reader sees them split.
using RawReplyHook = std::function<std::vector<std::string>(const Command& command, const std::string& reply)>;

class EcuSim {
public:
    explicit EcuSim(SimOptions options = {});
    ~EcuSim();
    EcuSim(const EcuSim&) = delete;
    EcuSim& operator=(const EcuSim&) = delete;

    // Opens the pseudo-terminal, loads --image, makes the link and starts answering.
    bool Start(std::string* error = nullptr);
    // Stops answering, closes the terminal and removes the link (if it is still ours).
    void Stop();
    bool Running() const;

    // The device goes away as if unplugged: the terminal closes (the tool's end sees a hang-up)
    // and the link is removed. Replug brings it back on a new terminal under the same link;
    // what the ECU holds and what it received are kept.
    void Unplug();
    bool Replug(std::string* error = nullptr);
    // Writes XOFF (stop) or XON (go on) to the tool, as a device whose buffer is full does.
    void SendFlowControl(bool stop);
    // A slow reader from now on: it takes what the line holds only every ms (0: at once).
    void SetReadEvery(uint32_t ms);

    std::string SlavePath() const;   // the terminal's path, e.g. /dev/pts/3; empty before Start
    std::string LinkPath() const { return options_.link; }

    std::vector<Command> Received() const;   // every well-formed frame, in order
    // When each of those frames was complete (its last character read), in the same order.
    std::vector<std::chrono::steady_clock::time_point> ReceivedTimes() const;
    size_t ReceivedCount() const;
    bool WaitForReceived(size_t n, int timeoutMs) const;   // false on timeout
    void ClearReceived();
    size_t RejectedCount() const;   // frames refused for checksum, non-hex field or cut short
    size_t RepliesSent() const;     // replies answered, including lost or damaged ones
    size_t CommandsLost() const;    // well-formed commands lost on their way (--drop-commands)
    size_t CommandsRefusedBusy() const;   // commands lost because the ECU was busy (--write-ms)
    size_t AddressesDamaged() const;      // commands that acted at a damaged address (--damage-address)

    Image Eeprom() const;
    void SetEeprom(const Image& image);
    static Image DefaultImage() { return sim::DefaultImage(); }

    void SetSilent(bool silent);   // keep recording commands, act on and answer none
    void SetStatusFlags(uint8_t flags);   // 'v' reply, address high byte
    void SetVersion(uint8_t version);     // 'v' reply, address low byte (23 = 2.3)
    void FreezeEngine(bool frozen);
    // A fixed reply for a live letter 'A' to 'H', for tests that need exact values.
    void SetLiveReply(char letter, uint16_t address, uint8_t data);
    void ClearLiveReplies();
    void SetRawReplyHook(RawReplyHook hook, int pieceGapMs = 2);

    // The simulated USB adapter's low-latency request, as the serial layer of a program in this
    // process makes it on open: how many came since this terminal was made, and whether the
    // replies now come after --low-latency-ms instead of --latency-ms. A replug starts afresh,
    // as a re-enumerated adapter comes back with its driver's defaults.
    size_t LowLatencyRequests() const { return lowLatencyRequests_.load(); }
    bool LowLatencyGranted() const { return lowLatencyRequests_.load() > 0; }
    void RequestLowLatency() { ++lowLatencyRequests_; }

    static constexpr uint8_t kDefaultFlags = 0x02 | 0x08;   // "Synced" and "Pump"
    static constexpr uint8_t kDefaultVersion = 23;

private:
    struct Outgoing;
    class Line;

    bool Begin(std::string* error);   // terminal, link and answering thread
    void End();                       // the reverse, keeping the ECU's state
    void Run();
    void OnCommand(const Command& command, std::chrono::steady_clock::time_point commandStart);
    bool Act(const Command& command, Command& reply, bool& persist);
    void Trace(const std::string& text) const;
    double Now() const;

    SimOptions options_;

    mutable std::mutex mutex_;
    mutable std::condition_variable receivedChanged_;
    std::vector<Command> received_;
    std::vector<std::chrono::steady_clock::time_point> receivedAt_;
    size_t rejected_ = 0;
    size_t repliesSent_ = 0;
    size_t commandsLost_ = 0;
    size_t refusedBusy_ = 0;
    size_t addressesDamaged_ = 0;
    // --write-ms: when the ECU is done with what it has taken, and when each command it keeps
    // waiting will start.
    std::chrono::steady_clock::time_point busyUntil_{};
    std::deque<std::chrono::steady_clock::time_point> waiting_;
    uint64_t commandsSeen_ = 0;   // well-formed commands that reached the ECU (--slow-after)
    Image eeprom_;
    bool silent_ = false;
    uint8_t flags_ = kDefaultFlags;
    uint8_t version_ = kDefaultVersion;
    bool frozen_ = false;
    std::atomic<uint32_t> readEveryMs_{0};
    std::atomic<size_t> lowLatencyRequests_{0};
    double engineTime_ = 0;
    std::map<char, LiveFields> liveReplies_;
    RawReplyHook hook_;
    int pieceGapMs_ = 2;
    EngineModel engine_;
    std::mt19937_64 faults_;

    std::string slavePath_;
    int master_ = -1;
    int slave_ = -1;   // held open so the master never sees a hang-up when the tool closes the port
    int wake_ = -1;
    bool running_ = false;
    bool linkMade_ = false;
    std::thread thread_;
    std::unique_ptr<Line> line_;   // the thread's output schedule
    std::chrono::steady_clock::time_point started_;
};

}  // namespace sim
