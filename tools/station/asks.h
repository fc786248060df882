#pragma once
// The station's seam to everything modal: its boxes and file dialogs. The program asks through
// QtAsks; tests install their own, which answer at once and record what was asked.
#include <QString>

class QWidget;

namespace tk7v::station_window {

inline const QString kStationTitle = QStringLiteral("Станция программирования ТК-7В");

class Asks {
public:
    virtual ~Asks() = default;
    virtual void error(QWidget* parent, const QString& text) = 0;
    // A yes-or-no question; true for yes.
    virtual bool confirm(QWidget* parent, const QString& text) = 0;
    // The chosen path, or empty when cancelled. `filter` in Qt's form ("Таблицы (*.csv)").
    virtual QString openFile(QWidget* parent, const QString& title, const QString& dir,
                             const QString& filter) = 0;
    virtual QString saveFile(QWidget* parent, const QString& title, const QString& path,
                             const QString& filter) = 0;
    // A folder, or empty when cancelled; none unless the seam answers.
    virtual QString folder(QWidget* parent, const QString& title, const QString& dir) {
        (void)parent, (void)title, (void)dir;
        return {};
    }
};

class QtAsks : public Asks {
public:
    void error(QWidget* parent, const QString& text) override;
    bool confirm(QWidget* parent, const QString& text) override;
    QString openFile(QWidget* parent, const QString& title, const QString& dir,
                     const QString& filter) override;
    QString saveFile(QWidget* parent, const QString& title, const QString& path,
                     const QString& filter) override;
    QString folder(QWidget* parent, const QString& title, const QString& dir) override;
};

} // namespace tk7v::station_window
