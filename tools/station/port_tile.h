#pragma once
// One port of the station on screen: its name with the check box that lets it take part, its
// state in large letters on a colour that says how it goes, and the last device's result until
// the next device begins. Read from a metre away; it says nothing it was not told.
#include <QFrame>

#include <optional>
#include <utility>

class QCheckBox;
class QLabel;

namespace tk7v::station_window {

class PortTile : public QFrame {
    Q_OBJECT
public:
    // How the state looks: its colour.
    enum class Tone { Idle, Waiting, Busy, Done, Failed, Remove, Absent };

    PortTile(const QString& port, QWidget* parent = nullptr);

    const QString& port() const { return port_; }
    QCheckBox* takePart() const { return take_; }

    void setState(const QString& text, Tone tone);
    // The last device's result, its words and the line below them; cleared when the next begins.
    void setResult(const QString& text, const QString& detail, bool ok);
    void clearResult();
    // Whether the last device's record still waits to be written into the report: said under
    // its result until it is written.
    void setRecordWaits(bool waits);
    // A passing word on the port itself (why it cannot be opened); empty clears it.
    void setNote(const QString& text);
    // What became of the last device's label: a failure's words stay until it is printed.
    void setLabelNote(const QString& text);
    QString labelNoteText() const;
    // A port the system no longer lists is greyed and says so; its state comes back with it.
    void setPresent(bool present);
    bool present() const { return present_; }
    // Draws the eye to a result: the tile's frame lights up for a moment.
    void flash();

    QString stateText() const;
    Tone tone() const { return tone_; }
    QString resultText() const;
    QString detailText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintTone();

    QString port_;
    QCheckBox* take_;
    QLabel* state_;
    QLabel* result_;
    QLabel* detail_;
    QLabel* note_;
    QString detailText_;
    QLabel* labelNote_ = nullptr;
    bool recordWaits_ = false;
    Tone tone_ = Tone::Idle;
    QString stateText_;
    bool present_ = true;
    bool flashing_ = false;
    std::optional<std::pair<Tone, bool>> painted_; // the colours last shown
};

} // namespace tk7v::station_window
