#pragma once
// Hands the station's events, which come on the ports' threads, to the window thread as queued
// calls: a port's thread never waits for the window, and a call whose window is gone is dropped.
#include "station_window.h"

#include "station/events.h"

#include <QMetaObject>
#include <QPointer>

namespace tk7v::station_window {

class EventRelay : public station::Listener {
public:
    explicit EventRelay(StationWindow* window) : window_(window) {}

    void state(int port, station::PortState state, const std::string& text) override {
        post([port, state, t = QString::fromStdString(text)](StationWindow* w) {
            w->onState(port, static_cast<int>(state), t);
        });
    }
    void phase(int port, station::Phase phase) override {
        post([port, phase](StationWindow* w) { w->onPhase(port, static_cast<int>(phase)); });
    }
    void share(int port, int percent) override {
        post([port, percent](StationWindow* w) { w->onShare(port, percent); });
    }
    void ended(int port, const station::DeviceEnded& e) override {
        QString given = e.given.row > 0 ? QStringLiteral("строка %1").arg(e.given.row) : QString();
        for (const std::string& n : e.given.numbers)
            given += (given.isEmpty() ? "" : ", ") + QString::fromStdString(n);
        QStringList differing;
        for (const std::string& d : e.end.differing)
            differing << QString::fromStdString(d);
        post([=, text = QString::fromStdString(e.end.text), ok = e.end.status == station::kDone,
              part = e.end.partBlock, ident = QString::fromStdString(e.identification),
              recorded = e.recorded](StationWindow* w) {
            w->onEnded(port, text, ok, part, ident, given, differing, recorded);
        });
    }
    void records(std::size_t kept, const std::string& error) override {
        post([kept = int(kept), e = QString::fromStdString(error)](StationWindow* w) {
            w->onRecords(kept, e);
        });
    }

private:
    template <class F> void post(F call) {
        StationWindow* w = window_;
        QMetaObject::invokeMethod(
            w, [w, call] { call(w); }, Qt::QueuedConnection);
    }

    StationWindow* window_;
};

} // namespace tk7v::station_window
