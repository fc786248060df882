#pragma once
// The configurator's one window: every control of the device under its given name, the
// parameter image, the serial link and the transfer state.
//
// Threads: everything here runs on the window thread. The transfer worker reaches the window
// only through hand-offs (WindowHost) that run on this thread while the worker waits.
#include "link/device_link.h"
#include "link/handoff_queue.h"
#include "link/port_config.h"
#include "model/parameter_image.h"
#include "ui/dialogs.h"
#include "ui/settings_store.h"

#include <QHash>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;
class QUrl;

namespace tk7v {

struct ProfileControls;
class TEdit;
class WindowWake;
class TRadioGroup;

// What the window takes from its surroundings; the program uses the defaults, tests their own.
struct TForm1Environment {
    Dialogs* dialogs = nullptr;                                   // default: QtDialogs
    std::function<std::vector<std::string>()> listPorts;          // default: the machine's ports
    std::function<std::string(const std::string&)> portPath;      // default: the platform's path
    std::function<std::unique_ptr<SettingsStore>()> openSettings; // default: UserSettings
    std::optional<QString> guide;             // F1's page; default: InstalledGuide(the program's folder)
    std::function<bool(const QUrl&)> openUrl; // default: the system's browser
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(TForm1Environment env = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // A control by its given name.
    template <class T = QWidget> T* control(const QString& name) const {
        return qobject_cast<T*>(controls_.value(name));
    }

    // The status bar's one line; posting also copies the text into the bar's hint.
    void PostStatus(const QString& text);
    void setStatusText(const QString& text, bool copyToHint);
    QString statusText() const;

    bool BuildImage();
    bool ApplyImage();
    bool ReportCodecError(CodecStage stage, const std::string& failure);
    const ParameterImage& image() const { return *ParameterImage_; }
    ParameterImage& image() { return *ParameterImage_; }

    void UpdateCaption(const std::optional<QString>& document = std::nullopt);

    // Enabling rules, run when their input changes state.
    void CS1_activeClick();
    void CS2_activeClick();
    void CS1_send_pafClick();
    void CS2_send_pafClick();
    void TS_line_ctrl_onClick();
    void RS_filter_onClick();

    // Page switching by the mouse wheel: forward when the delta's high word, as an unsigned
    // number, is above 0x7F00.
    static bool WheelMovesForward(int delta);
    void SelectNextPage(bool forward);

    // The serial link.
    void FillPortList(int savedIndex);
    // The list read again as the user opens it (an adapter plugged in after the start): the
    // port chosen stays chosen while it is listed, else the first; nothing is stored.
    void RefreshPortList();
    void Button1Click();
    void ComboBox1Change(int index);
    void OpenCloseComm();
    // The program ends without the user's word (a signal, the session's end): the exchange
    // stops between chunks, the device is told to reset and the port closes, with no box shown.
    void ReleaseDevice();
    void ShowSystemError(std::uint32_t code);
    bool isConnected() const { return Connected; }
    const PortConfig& portConfig() const { return PortConfig_; }
    DeviceLink& link() { return *link_; }

    // Transfers.
    void Button3Click();
    void Button4Click();
    void Button2Click();
    void StopTransfer();
    int operation() const;
    // True while a worker still runs (it may have set DoneEvent and be finishing its last text).
    bool workerRunning() const;
    // Runs the worker's hand-offs until it has ended (for tests and for the next start).
    void waitForWorker();

    // F1: the user guide in the system's browser, where one is installed.
    void ShowGuide();

    // Configuration files.
    void BitBtn1Click();
    void BitBtn2Click();
    // A file handed to the program (Explorer's "Открыть с помощью", at its start or to the window
    // already open), loaded as the Open button loads the one chosen.
    void OpenFile(const QString& path);
    bool pictureAnimationRunning() const;

signals:
    // Every change of the status text, in order.
    void statusChanged(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    class WindowHost;
    class Layout;

    void createControls();
    void showPorts(int index);
    void profileRule(const ProfileControls& profile, const ProfileControls& other);
    void formatRule(const ProfileControls& profile);
    void connectHandlers();
    void FormCreate();
    void FormDestroy();
    void startExchange(const std::function<void()>& start);
    void showClosed(DeviceLink::Stopped s);
    void setClosedLinkControls();
    void disableAbort();
    void refocusAfterAbort();
    void startPngFigure();
    void loadFile(const QString& chosen);

    TForm1Environment env_;
    std::unique_ptr<Dialogs> ownDialogs_;
    Dialogs* dialogs_ = nullptr;
    QHash<QString, QWidget*> controls_;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* statusLabel_ = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPushButton* SpeedButton1 = nullptr;
    bool centred_ = false;

    std::unique_ptr<SettingsStore> SettingsRegistry;
    std::unique_ptr<ParameterImage> ParameterImage_;

    bool Connected = false;
    PortConfig PortConfig_;

    std::unique_ptr<WindowHost> host_;
    WindowWake* wake_ = nullptr; // the worker's signal that a hand-off waits
    HandoffQueue handoffs_;
    std::unique_ptr<DeviceLink> link_;
    QPointer<QWidget> starter_; // the button that started the exchange (none for a connect)
    bool abortHadFocus_ = false;

    QTimer* pngTimer_ = nullptr;
    int pngSteps_ = 0;
    bool figureStep_ = false; // the status text being set is the figure's own next step
};

// The window of the running program.
extern QPointer<TForm1> Form1;

} // namespace tk7v
