#include "calibration/WriteMarks.h"

#include <algorithm>

namespace calibration {

std::string MarkText(WriteMark mark, int shownSent)
{
    switch (mark) {
    case WriteMark::Pending:
        return "Sent to the ECU (" + std::to_string(shownSent) + "), waiting for its echo.";
    case WriteMark::Failed:
        return "The ECU may not hold this value: the write of " + std::to_string(shownSent) +
               " was never confirmed.";
    case WriteMark::None: break;
    }
    return {};
}

std::string DoubtText(int shownSeen)
{
    return "The ECU may hold " + std::to_string(shownSeen) +
           " here (an echo that could not be matched to a write); the byte is being read back.";
}

std::vector<MarkChange> WriteMarks::Doubt(uint16_t address, std::optional<uint8_t> seen)
{
    auto it = entries_.find(address);
    if (it == entries_.end()) {
        if (!seen) return {};
        it = entries_.emplace(address, Entry{WriteMark::Pending, 0, *seen}).first;
    } else if (seen && it->second.mark == WriteMark::Failed) {
        it->second.sent = *seen;
    }
    it->second.doubt = true;
    return {{address, it->second.mark, it->second.sent, std::nullopt}};
}

bool WriteMarks::Doubted(uint16_t address) const
{
    const auto it = entries_.find(address);
    return it != entries_.end() && it->second.doubt;
}

std::vector<MarkChange> WriteMarks::Track(uint32_t job, const std::vector<exchange::Step>& steps)
{
    std::vector<MarkChange> changes;
    jobs_[job] = steps;
    for (const exchange::Step& s : steps) {
        if (s.letter != 'W') continue;
        entries_[s.address] = Entry{WriteMark::Pending, job, s.data};
        changes.push_back({s.address, WriteMark::Pending, s.data, std::nullopt});
    }
    return changes;
}

std::vector<MarkChange> WriteMarks::Apply(const exchange::Event& e)
{
    std::vector<MarkChange> changes;
    switch (e.type) {
    case exchange::Event::StepDone: StepDone(e, changes); break;
    case exchange::Event::JobFailed: JobFailed(e, changes); break;
    case exchange::Event::JobDone: jobs_.erase(e.job); break;
    }
    return changes;
}

void WriteMarks::StepDone(const exchange::Event& e, std::vector<MarkChange>& changes)
{
    const auto it = entries_.find(e.step.address);
    if (it == entries_.end()) return;
    Entry& entry = it->second;
    if (e.step.letter == 'R' && (entry.doubt || e.kind == exchange::JobKind::Verify) && !jobs_.count(entry.job)) {
        // A read tells what the ECU holds, and no write of the address is on its way.
        changes.push_back({e.step.address, WriteMark::None, entry.sent, e.replyData, true});
        entries_.erase(it);
        return;
    }
    if (entry.doubt) return;   // an echo settles nothing here: only a read does
    if (entry.mark == WriteMark::Failed) {
        // A read, or an echo of a write nobody tracks: the image holds the ECU's byte again.
        if (e.step.letter == 'R' || entry.job != e.job) entry.reported = true;
        return;
    }
    // An echo of an earlier write of a byte written again since: the later one is awaited.
    if (e.step.letter != 'W' || entry.job != e.job) return;
    changes.push_back({e.step.address, WriteMark::None, entry.sent, e.replyData, entry.decodedSince});
    entries_.erase(it);
}

void WriteMarks::JobFailed(const exchange::Event& e, std::vector<MarkChange>& changes)
{
    const auto job = jobs_.find(e.job);
    if (job == jobs_.end()) return;
    const std::vector<exchange::Step>& steps = job->second;
    for (std::size_t i = e.stepIndex; i < steps.size(); ++i) {
        const auto it = entries_.find(steps[i].address);
        if (steps[i].letter != 'W' || it == entries_.end() || it->second.job != e.job) continue;
        it->second.mark = WriteMark::Failed;
        it->second.reported = false;
        changes.push_back({steps[i].address, WriteMark::Failed, it->second.sent, std::nullopt});
    }
    jobs_.erase(job);
}

std::vector<MarkChange> WriteMarks::Decoded()
{
    std::vector<MarkChange> changes;
    for (auto it = entries_.begin(); it != entries_.end();) {
        Entry& entry = it->second;
        entry.decodedSince = true;
        if (entry.mark == WriteMark::Failed && entry.reported) {
            changes.push_back({it->first, WriteMark::None, entry.sent, std::nullopt, true});
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
    return changes;
}

WriteMark WriteMarks::Mark(uint16_t address) const
{
    const auto it = entries_.find(address);
    return it == entries_.end() ? WriteMark::None : it->second.mark;
}

std::optional<uint8_t> WriteMarks::Sent(uint16_t address) const
{
    const auto it = entries_.find(address);
    if (it == entries_.end()) return std::nullopt;
    return it->second.sent;
}

std::size_t WriteMarks::Count(WriteMark mark) const
{
    if (mark == WriteMark::None) return 0;
    return static_cast<std::size_t>(
        std::count_if(entries_.begin(), entries_.end(), [mark](const auto& e) { return e.second.mark == mark; }));
}

}  // namespace calibration
