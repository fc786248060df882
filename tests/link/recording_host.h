#pragma once
#include "link/exchange_texts.h"
#include "link/tconnect.h"

#include <chrono>
#include <string>
#include <vector>

namespace tk7v::test {

// Hosts the worker without a window: records what it is handed, and can press "Abort" (request
// a stop) when a given status text is posted.
class RecordingHost : public TransferHost {
public:
    explicit RecordingHost(ManualResetEvent& done) : done_(done) {}
    TConnect* worker = nullptr;
    std::string stopOn;
    int stopOnShare = -1; // requests a stop when the progress event carries this share
    std::vector<std::string> statuses;
    std::vector<std::chrono::steady_clock::time_point> statusTimes, deliveredTimes;
    std::vector<std::uint32_t> errors;
    std::vector<Block> delivered;
    Block toWrite{};
    int restored = 0;
    bool doneBeforeCancelText = false;
    std::vector<std::string> identifiedLines;
    std::vector<ExchangeEnd> ends;
    std::vector<int> shares;

    void PostStatus(const std::string& text) override {
        statuses.push_back(text);
        statusTimes.push_back(std::chrono::steady_clock::now());
        if (text == texts::kCancelled) doneBeforeCancelText = done_.isSet();
        if (!stopOn.empty() && text == stopOn) worker->RequestStop();
    }
    void ReportIoError(std::uint32_t code) override { errors.push_back(code); }
    void DeliverBlock(const Block& b) override {
        delivered.push_back(b);
        deliveredTimes.push_back(std::chrono::steady_clock::now());
    }
    void CollectBlock(Block& b) override { b = toWrite; }
    void RestoreControls() override { ++restored; }
    void identified(const std::string& line) override { identifiedLines.push_back(line); }
    void progress(Operation, int percent) override {
        shares.push_back(percent);
        if (percent == stopOnShare) worker->RequestStop();
    }
    void exchangeEnded(Operation, const ExchangeEnd& end) override { ends.push_back(end); }

private:
    ManualResetEvent& done_;
};

} // namespace tk7v::test
