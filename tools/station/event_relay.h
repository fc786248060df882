#pragma once
// Hands the station's events, which come on the ports' threads, to the window thread as queued
// calls: a port's thread never waits for the window, and a call whose window is gone is dropped.
//
// Events come in bursts (every step of a share, every status of sixteen ports at once): they are
// gathered and run together a moment later, so the window thread wakes a few dozen times a
// second rather than once an event. The moment is far below what an eye notices on a tile.
#include "station_window.h"

#include "model/field_rules.h"
#include "station/events.h"
#ifdef TK7V_HAVE_LABELS
#include "labels/label.h"
#include "link/network.h"
#include "station/sha256.h"
#endif

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace tk7v::station_window {

class EventRelay : public station::Listener {
public:
    explicit EventRelay(StationWindow* window) : window_(window) {}

    // A port's state, phase and share are the station's to keep: the window is only told to show
    // the port again, as the station has it then.
    void state(int port, station::PortState, const std::string&) override { changed(port); }
    void phase(int port, station::Phase) override { changed(port); }
    void share(int port, int) override { changed(port); }
    void ended(int port, const station::DeviceEnded& e) override {
        QString given = e.given.row > 0 ? QStringLiteral("строка %1").arg(e.given.row) : QString();
        for (const std::string& n : e.given.numbers) {
            // "Номер объекта 114": the caption the operator knows, not the field's name.
            const std::size_t eq = n.find('=');
            const std::string shown =
                eq == std::string::npos ? n : ShownName(n.substr(0, eq)) + " " + n.substr(eq + 1);
            given += (given.isEmpty() ? "" : ", ") + QString::fromStdString(shown);
        }
        QStringList differing;
        for (const std::string& d : e.end.differing)
            differing << QString::fromStdString(ShownName(d));
        post([=, text = QString::fromStdString(e.end.text), ok = e.end.status == station::kDone,
              held = e.held, ident = QString::fromStdString(e.identification), recorded = e.recorded](
                 StationWindow* w) { w->onEnded(port, text, ok, held, ident, given, differing, recorded); });
#ifdef TK7V_HAVE_LABELS
        // What the label says is read here from the block the device was proven to hold.
        if (e.end.proven && e.end.bytes) {
            labels::LabelContent content =
                labels::LabelOf(*e.end.proven, station::Sha256Hex(*e.end.bytes), e.given, labels::DefaultLabelFields(),
                                std::chrono::system_clock::now(), station_);
            post([port, content = std::move(content)](StationWindow* w) { w->onProven(port, content); });
        }
#endif
    }
    void records(std::size_t kept, const std::string& error) override {
        post([kept = int(kept), e = QString::fromStdString(error)](StationWindow* w) {
            w->onRecords(kept, e);
        });
    }

    // Window thread: runs every event gathered so far, in the order they came.
    void drain() {
        std::vector<std::function<void(StationWindow*)>> calls;
        {
            std::lock_guard lock(mutex_);
            calls.swap(calls_);
            woken_ = false;
        }
        for (const auto& call : calls)
            call(window_);
    }

    // Window thread, on the wake-up post() sent: the events gathered meanwhile run a moment later.
    void woken() {
        QTimer::singleShot(kGather, window_, [this] { drain(); });
    }

    static constexpr std::chrono::milliseconds kGather{40};
    static constexpr QEvent::Type kWake = QEvent::User;

private:
    void changed(int port) {
        post([port](StationWindow* w) { w->showPort(port); });
    }
    template <class F> void post(F call) {
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            calls_.emplace_back(std::move(call));
            wake = !woken_;
            woken_ = true;
        }
        // The relay lives as long as the window, and the ports' threads end before both. A plain
        // event rather than a queued call: nothing made on a port's thread is read by the window's
        // outside Qt, whose own hand-over of the event ThreadSanitizer cannot see.
        if (wake) QCoreApplication::postEvent(window_, new QEvent(kWake));
    }

    StationWindow* window_;
#ifdef TK7V_HAVE_LABELS
    const std::string station_ = ComputerName();
#endif
    std::mutex mutex_;
    std::vector<std::function<void(StationWindow*)>> calls_; // under mutex_
    bool woken_ = false;                                     // a drain is on its way; under mutex_
};

} // namespace tk7v::station_window
