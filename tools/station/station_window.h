#pragma once
// The station window: what to write (a configuration, a list or a counter, the report, the line
// settings), one tile per serial port the system lists, Start and Stop, the counts and the
// records of the run. The exchanges are the station library's; the window only listens to its
// events, which reach the window thread as queued calls.
//
// Threads: everything here runs on the window thread. The ports' threads reach it only through
// the relay, which never waits for the window.
#include "asks.h"
#include "port_tile.h"

#include "station/run.h"
#include "station/run_session.h"
#ifdef TK7V_HAVE_LABELS
#include "labels/label_queue.h"
#endif

#include <QMainWindow>
#include <QStringList>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;
class QVBoxLayout;

namespace tk7v::station_window {

class EventRelay;

// What the command line or a shortcut hands the window; empty fields keep what was remembered.
struct StartWith {
    QString file;
    QStringList ports; // given: exactly these take part
    QString report, values, number, ledger;
};

// What the window takes from its surroundings; tests set their own.
struct StationEnv {
    Asks* asks = nullptr; // null: QtAsks
    // The ports there are now; null: the system's list.
    std::function<std::vector<std::string>()> listPorts;
    // How often the port list is read again.
    std::chrono::milliseconds refresh{1000};
    bool sound = true;
    QString guide; // the guide's page; empty: the installed one
    // How often a label that did not print is tried again.
    std::chrono::milliseconds labelRetry{5000};
};

class StationWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit StationWindow(const StartWith& with = {}, StationEnv env = {});
    ~StationWindow() override;

    // Where and how large the user left it; the first time, filling the screen, so that a laptop's
    // 1366x768 shows sixteen ports' tiles whole.
    void showAsLeft();

    // Start and Stop as the buttons do them. start() says why it could not, in a box, and is
    // false then.
    bool start();
    void stop();
    bool running() const { return station_ != nullptr; }
    // Ends the run at once, on this thread, without asking: for a session that is ending (a
    // logout, a shutdown, kill). Every exchange stops between two commands and its device is reset.
    void release();

    // For tests and the bench: the tiles by port, the counts, the record table.
    PortTile* tile(const QString& port) const;
    int done() const { return done_; }
    int failed() const { return failed_; }
    QTableWidget* records() const { return table_; }
    QString recordsWarning() const;
    void refreshPorts();
#ifdef TK7V_HAVE_LABELS
    // The labels' setup: where they go (none, a printer, a folder), the folder, the size, and the
    // picture of the next label.
    QComboBox* labelTo() const { return labelTo_; }
    QLineEdit* labelFolder() const { return labelFolder_; }
    QComboBox* labelSize() const { return labelSize_; }
    QLabel* labelPreview() const { return labelPreview_; }
    // The label of the record in the table's `row` once more, where the setup now sends labels;
    // false when that record has none (not proven in this window's run) or labels go nowhere.
    bool printLabelAgain(int row);
#endif

signals:
    void runEnded(); // the station's last port has stopped after stop()

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void customEvent(QEvent* event) override; // the relay's wake-up

private:
    friend class EventRelay;
    struct Loaded; // what start() prepared

    void buildSetup(QWidget* parent, QVBoxLayout* column);
    void loadSettings(const StartWith& start);
    void saveSettings() const;
    void chooseFile();
    void chooseTable();
    void chooseReport();
    void chooseLedger();
    void showSummary();
    void layOutTiles();
    void foldTiles();
    PortTile* addTile(const QString& port, bool take);
    void takePart(PortTile* tile, bool take);
    void setRunning(bool running);
    void updateCounts();
    std::optional<Loaded> prepare(QString& error) const;
    void finishRun();
    void openGuide();

    // The station's events, on the window thread.
    void onEnded(int port, const QString& text, bool ok, bool held, const QString& ident,
                 const QString& given, const QStringList& differing, bool recorded);
    void onRecords(int kept, const QString& error);
    void showPort(int port);
#ifdef TK7V_HAVE_LABELS
    void buildLabelsRow(QWidget* parent, QGridLayout* grid, int row);
    void loadLabelSettings();
    void saveLabelSettings() const;
    void showLabelPreview();
    labels::LabelWhere labelWhere() const;
    // A device proven on `port`: its label goes with the record just added, and out at once.
    void onProven(int port, const labels::LabelContent& content);
    void onLabelTold(int id, const QString& failed);
#endif

    StationEnv env_;
    std::unique_ptr<Asks> ownAsks_;
    Asks& asks_;
    bool portsGiven_ = false;

    QWidget* setup_;
    QLabel* runningSetup_;
    QLineEdit* file_;
    QLabel* summary_;
    QLineEdit* tablePath_;
    QLineEdit* number_;
    QLineEdit* report_;
    QLineEdit* ledgerPath_;
    QComboBox* baud_;
    QPushButton* startButton_;
    QPushButton* stopButton_;
    QLabel* counts_;
    QLabel* warning_;
    QWidget* tilesBox_;
    QGridLayout* tilesGrid_;
    QTableWidget* table_;
    QTimer* portTimer_;
    QList<PortTile*> tiles_;
    int columns_ = 0;

    // The run. Ports are numbered in the events by their place in names_, which only grows.
    std::vector<std::string> names_;
    std::unique_ptr<EventRelay> relay_;
    station::RunSession session_; // the run's report and ledger; kept after it while records wait
    QTimer* retryTimer_;
    station::RunEnd lastRun_; // written by ender_ before it hands over to the window
    std::unique_ptr<station::Station> station_;
    std::thread ender_; // waits for the station's ports once stopped
    bool stopping_ = false;
    bool closeWhenStopped_ = false;
    int done_ = 0, failed_ = 0; // the station's counts, as last shown
    std::chrono::steady_clock::time_point started_;
#ifdef TK7V_HAVE_LABELS
    QComboBox* labelTo_ = nullptr;
    QLineEdit* labelFolder_ = nullptr;
    QPushButton* labelFolderButton_ = nullptr;
    QComboBox* labelSize_ = nullptr;
    QLabel* labelPreview_ = nullptr;
    std::vector<labels::LabelContent> labelOf_; // by the index a record's row keeps
    std::map<int, std::string> labelPort_;      // a queued label's port, by its id
    // Last: its thread ends first, before anything it tells goes.
    std::unique_ptr<labels::LabelQueue> labelQueue_;
#endif
};

} // namespace tk7v::station_window
