#pragma once
// What the station window's files share: texts between the window's QString and the library's
// UTF-8, the folders it offers, the filters of its file dialogs.
#include <QDir>
#include <QString>
#include <QStringList>

#include <string>

namespace tk7v::station_window {

inline const QString kCfgFilter = QStringLiteral("Файлы конфигурации (*.cfg);;Все файлы (*)");
inline const QString kTableFilter = QStringLiteral("Таблицы CSV (*.csv);;Все файлы (*)");
inline const QString kReportFilter = QStringLiteral("Отчёт CSV (*.csv);;Отчёт JSON Lines (*.jsonl)");
inline const QStringList kRates = {"110",  "300",   "600",   "1200",  "2400",  "4800",
                                   "9600", "19200", "38400", "57600", "115200"};
constexpr int kTileWidth = 310;
// Records the table shows whole at any window size.
constexpr int kRecordsShown = 8;

inline QString fromUtf8(const std::string& s) {
    return QString::fromStdString(s);
}

inline std::string utf8(const QString& s) {
    return s.toStdString();
}

// The user's documents, where the station keeps its report and ledger unless told otherwise.
QString Documents();
// The ledger kept when none was chosen: one undated file in the documents, for every day.
QString DefaultLedger();

} // namespace tk7v::station_window
