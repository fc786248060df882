#pragma once
// The window's side of the worker's hand-offs. Each call runs on the window thread, through the
// window's hand-off queue, while the worker waits for it.
#include "link/exchange_texts.h"
#include "link/system_error.h"
#include "ui/tform1.h"

#include <QString>

namespace tk7v {

inline const QString kNotDone = QString::fromUtf8(texts::kNotDone);

inline QString systemText(std::uint32_t code) {
    return QString::fromStdString(SystemErrorText(code));
}

// The worker's hand-offs: each runs on the window thread while the worker waits for it.
class TForm1::WindowHost : public DeviceLink::Host {
public:
    explicit WindowHost(TForm1& form) : f_(form) {}

    void PostStatus(const std::string& text) override {
        f_.handoffs_.call([&] { f_.PostStatus(QString::fromStdString(text)); });
    }
    void ReportIoError(std::uint32_t code) override {
        f_.handoffs_.call([&] {
            const QString text = systemText(code);
            f_.setStatusText(QString::fromUtf8(texts::kErrorPrefix) + text, false);
            f_.dialogs_->error(&f_, text);
            f_.PostStatus(kNotDone);
        });
    }
    void DeliverBlock(const Block& block) override {
        f_.handoffs_.call([&] {
            std::copy(block.begin(), block.end(), f_.ParameterImage_->begin());
            f_.ApplyImage();
        });
    }
    void CollectBlock(Block& block) override {
        f_.handoffs_.call([&] {
            f_.BuildImage();
            std::copy(f_.ParameterImage_->begin(), f_.ParameterImage_->end(), block.begin());
        });
    }
    void RestoreControls() override {
        f_.handoffs_.call([&] {
            f_.disableAbort();
            for (const char* g : {"GroupBox3", "GroupBox2", "GroupBox11", "Button3", "Button4"})
                f_.control(QString::fromLatin1(g))->setEnabled(true);
            f_.refocusAfterAbort();
        });
    }

    // The window keeps running the worker's hand-offs while it waits for it, so a worker that
    // was handing over a text when Abort came does not hold the window.
    bool waitForDone(const ManualResetEvent& done, std::chrono::milliseconds timeout) override {
        return f_.handoffs_.runUntil([&] { return done.isSet(); },
                                     std::chrono::steady_clock::now() + timeout);
    }
    void waitForFinish(const std::function<bool()>& finished) override { f_.handoffs_.runUntil(finished); }
    void workerFinished() override { f_.handoffs_.poke(); }
    bool inHandoff() const override { return f_.handoffs_.inHandoff(); }
    void detach() override { f_.handoffs_.detach(); }

private:
    TForm1& f_;
};

} // namespace tk7v
