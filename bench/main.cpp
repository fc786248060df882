// Benchmarks of whole exchanges against tk7v-sim paced at 9600 baud. Prints one line per figure
// and exits non-zero when a goal is missed. The figures come in groups, each of which can be run
// alone by its name.
#include "bench.h"

#include <QApplication>
#include <QTemporaryDir>

#include <cstring>

using namespace tk7v::bench;

namespace {

constexpr const char* kUsage = R"(Использование: tk7v-bench [ИМЯ...]

Замеры программ ТК-7В против симулятора tk7v-sim на 9600 бод, каждый против своей цели: без
имён все (несколько минут), с именами только названные. Код выхода 1, если цель не достигнута.

)";

struct Group {
    const char* name;
    const char* about;
    std::function<void()> run;
};

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--startup-probe") == 0) return StartupProbe(argc, argv);
    if (argc > 2 && std::strcmp(argv[1], "--claim-probe") == 0) return ClaimProbe(argv[2]);
    const Group groups[] = {
        {"worker", "опознание, чтение и запись исполнителем (задержка устройства 0 и 5 мс)", WorkerFigures},
        {"turnaround", "задержка программы от ответа до следующей команды", TurnaroundFigures},
        {"window", "чтение и запись из окна, от кнопки до текста об успехе", WindowFigures},
        {"waiting", "процессор при ожидании молчащего устройства; остановка", WaitingFigures},
        {"ports", "список из 32 портов, прочитанный заново окном и станцией", PortListFigures},
        {"cli", "tk7v-cli write --verify: 1, 16 и 32 устройства, его процессор",
         [] { CliFigures(16), CliFigures(32); }},
        {"server", "учёт на сервере PostgreSQL: выдача номера, 16 устройств", ServerFigures},
        {"ledger", "выдача номера из учёта в 100 000 записей (файл) и 1 000 000 (сервер), память", LedgerFigures},
        {"station", "окно станции: 16 устройств против одного, его процессор", [] { StationFigures(16); }},
        {"swaps", "tk7v-cli --loop, устройства меняют на конце кабеля: от подключения до первой команды",
         SwapFigures},
        {"startup", "запуск окна и его пиковая память", [&] { StartupFigures(argv[0]); }},
    };
    std::vector<const Group*> chosen;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "-h" || name == "--help") {
            std::fputs(kUsage, stdout);
            for (const Group& g : groups)
                std::printf("  %-13s%s\n", g.name, g.about);
            std::fputs("  -h, --help   эта справка\n\nИмя можно дать и как параметр: --cli, --station.\n",
                       stdout);
            return 0;
        }
        if (name.starts_with("--")) name.erase(0, 2);
        const auto g =
            std::find_if(std::begin(groups), std::end(groups), [&](auto& g) { return name == g.name; });
        if (g == std::end(groups)) {
            std::fprintf(stderr, "tk7v-bench: неизвестный замер: %s\n(tk7v-bench --help — справка)\n",
                         argv[i]);
            return 2;
        }
        chosen.push_back(g);
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The windows measured here clear and write their settings: they go to a folder of the
    // bench's own, never to the user's.
    QTemporaryDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    if (chosen.empty())
        for (const Group& g : groups)
            chosen.push_back(&g);
    for (const Group* g : chosen)
        g->run();
    if (chosen.size() > 1) std::printf("%s\n", failures ? "SOME GOALS MISSED" : "all goals met");
    return failures ? 1 : 0;
}
