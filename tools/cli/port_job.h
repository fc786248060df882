#pragma once
// One device's part of a command: open its port, run exchanges through a DeviceLink, and end
// the link cleanly (RESET, port closed with its settings restored) whatever happens, an
// interrupt included. Several jobs run at once, one thread each.
#include "link/device_link.h"
#include "progress.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

namespace tk7v::cli {

class PortJob : private LinkHost {
public:
    PortJob(std::string port, PortConfig config, Progress& progress, int line);

    enum class Result { Done, Failed, Interrupted, NoAnswer };

    // Each runs on the calling thread and ends with the port closed.
    Result identify(std::optional<std::chrono::milliseconds> timeout = std::nullopt);
    Result read(); // the block: block()
    Result write(const ParameterImage& image, bool verify);
    Result verify(const ParameterImage& image); // reads bytes 0..237 back and compares

    // Any thread: stops the job's exchange; the job then ends its link.
    void interrupt();

    const std::string& port() const { return port_; }
    const std::string& identification() const { return ident_; }
    const ParameterImage& block() const { return block_; }
    // What went wrong, in the window's words; empty when nothing did.
    const std::string& error() const { return error_; }
    // True once a write chunk may have reached the device (an interrupted write leaves part of
    // the block there).
    bool wroteSomething() const { return wroteSomething_; }
    // True when the block read back differs from the one written or given.
    bool verifyFailed() const { return verifyFailed_; }

private:
    enum class Ended { Success, Failure, Interrupt, Timeout };
    bool open();
    Ended exchange(void (DeviceLink::*start)(), std::optional<std::chrono::milliseconds> timeout = {});
    Result finish(Ended e);
    Result readAndCompare(const ParameterImage& image);

    void PostStatus(const std::string& text) override;
    void ReportIoError(std::uint32_t code) override;
    void DeliverBlock(const Block& block) override;
    void CollectBlock(Block& block) override;
    void RestoreControls() override;

    std::string port_;
    PortConfig config_;
    Progress& progress_;
    int line_;
    DeviceLink link_{*this};
    ManualResetEvent ended_;
    std::atomic<bool> interrupted_{false};
    std::atomic<bool> succeeded_{false};
    ParameterImage toWrite_{};
    ParameterImage block_{};
    std::string ident_;
    std::string error_;
    std::atomic<bool> wroteSomething_{false};
    bool verifyFailed_ = false;
};

} // namespace tk7v::cli
