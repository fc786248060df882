#include "options.h"

#include <cstdlib>
#include <iostream>

namespace tk7v::sim {

namespace {

const char* kUsage = R"usage(Использование: tk7v-sim [параметры]

Имитирует автодозвонщик ТК-7В на псевдотерминале. Первой строкой выводит путь
порта, к которому подключается программа, и отвечает как устройство, пока не
получит SIGINT или SIGTERM (Ctrl+C). Запущенный через sudo, отдаёт порт
пользователю, который вызвал sudo.

  --link ПУТЬ          ещё и символьная ссылка ПУТЬ на порт (например
                       /dev/ttyTK7V: её показывает список портов программы)
  --ident ТЕКСТ        строка опознания в ответ на RESET (по умолчанию
                       "TK7V v2.6 (simulator)")
  --preamble СТРОКА    строка перед строкой опознания (можно повторять)
  --memory ФАЙЛ        начальная память, 512 байт (по умолчанию — заводские
                       настройки)
  --save ФАЙЛ          записывать память в ФАЙЛ после каждой команды записи и
                       при выходе; {n} в имени заменяется номером устройства
                       (например /tmp/dev-{n}.bin, см. --bench)
  --bench              стенд: порт остаётся, а устройства за ним подключают и
                       отключают командами со стандартного ввода, по одной в
                       строке: "plug" — новое устройство с начальной памятью
                       (устройства нумеруются 1, 2, … по порядку подключения),
                       "plug N" — снова подключить устройство N с его памятью,
                       "unplug" — отключить: линия молчит, посланное программой
                       теряется, неотправленный ответ пропадает. Выполнив
                       команду, выводит строку "plugged N" или "unplugged N"
                       ("error" — если команда не выполнена). Начинает без
                       устройства; конец ввода ничего не меняет. Остальные
                       параметры действуют на каждое подключённое устройство
  --plugged            со --bench: начать с подключённым устройством 1
  --baud N             линия со скоростью N бит/с, 10 бит на байт, как у
                       настоящего порта (по умолчанию — без задержек): ответы
                       уходят с этой скоростью, а записанное программой ждёт
                       в очереди передатчика и доходит до устройства с той же
                       скоростью; очистка вывода программой (PurgeComm,
                       tcflush) выбрасывает то, что ещё не ушло
  --turnaround МС      ждать МС миллисекунд перед каждым ответом (по умолчанию 0)
  --silent             ничего не отвечать
  --endless-ident      после RESET слать строку опознания без конца строки
  --reject N           на первые N команд записи отвечать данными вместо "OK"
  --reject-each N      отказывать каждой порции записи N раз подряд, затем принять
  --noise N            слать N байт помех перед каждым ответом
  --garble             слать перед каждым ответом испорченные заголовки ("O" без
                       "K", заголовок без "=")
  --wild-replies       на команды чтения отвечать и данными за пределами блока:
                       ответ об адресе 1F0 на 26 байт и ответ на 31 байт по
                       бессмысленному адресу, затем настоящий ответ
  --short-replies      на команды чтения отвечать сначала ответом по верному
                       адресу, но на байт короче запрошенного, затем настоящим
  --long-replies       на команды чтения отвечать на пять байт больше запрошенного
  --mute-after N       ответить на первые N команд, затем молчать
  --die-after N        после N команд завершиться аварийно (как при убийстве)
  --stale ТЕКСТ        после строки опознания слать и ТЕКСТ (остаток на линии,
                       который программа не должна принять за ответ на свою
                       следующую команду)
  --stuck АДРЕС=БАЙТ   ячейка памяти, в которой всегда БАЙТ (десятичный), что бы
                       туда ни записали: устройство, меняющее байт за спиной
                       программы
  --log ФАЙЛ           записывать каждую команду в ФАЙЛ ("-": в stderr), со
                       --bench и подключения (PLUG N, UNPLUG N) и байты,
                       посланные без устройства (LOST число)
  --log-times          начинать каждую строку журнала временем прихода команды в
                       микросекундах монотонных часов системы
  --timing ФАЙЛ        для каждой команды после ответа писать число микросекунд
                       от последнего байта ответа до первого байта команды
  --help               эта справка
)usage";

} // namespace

bool ParseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        auto nextNum = [&](long& into) {
            std::string s;
            if (!next(s)) return false;
            char* end = nullptr;
            into = std::strtol(s.c_str(), &end, 10);
            return end && *end == 0 && into >= 0;
        };
        std::string s;
        bool ok = true;
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            std::exit(0);
        } else if (a == "--link")
            ok = next(o.linkPath);
        else if (a == "--ident")
            ok = next(o.faults.ident);
        else if (a == "--preamble")
            ok = next(s), o.faults.preamble.push_back(s);
        else if (a == "--memory")
            ok = next(o.memoryFile);
        else if (a == "--save")
            ok = next(o.saveFile);
        else if (a == "--log")
            ok = next(o.logFile);
        else if (a == "--stale")
            ok = next(o.faults.stale);
        else if (a == "--stuck") {
            ok = next(s);
            const auto eq = s.find('=');
            if (ok && eq != std::string::npos) {
                o.faults.stuckAt = std::strtol(s.substr(0, eq).c_str(), nullptr, 10);
                o.faults.stuckValue = std::strtol(s.substr(eq + 1).c_str(), nullptr, 10);
            }
            ok = ok && eq != std::string::npos && o.faults.stuckAt >= 0 && o.faults.stuckAt < 512;
        } else if (a == "--log-times")
            o.logTimes = true;
        else if (a == "--bench")
            o.bench = true;
        else if (a == "--plugged")
            o.plugged = true;
        else if (a == "--timing")
            ok = next(o.timingFile);
        else if (a == "--baud")
            ok = nextNum(o.baud);
        else if (a == "--turnaround")
            ok = nextNum(o.faults.turnaroundMs);
        else if (a == "--reject")
            ok = nextNum(o.faults.rejectWrites);
        else if (a == "--reject-each")
            ok = nextNum(o.faults.rejectEach);
        else if (a == "--noise")
            ok = nextNum(o.faults.noise);
        else if (a == "--die-after")
            ok = nextNum(o.faults.dieAfter);
        else if (a == "--mute-after")
            ok = nextNum(o.faults.muteAfter);
        else if (a == "--silent")
            o.faults.silent = true;
        else if (a == "--endless-ident")
            o.faults.endlessIdent = true;
        else if (a == "--garble")
            o.faults.garble = true;
        else if (a == "--wild-replies")
            o.faults.wild = true;
        else if (a == "--short-replies")
            o.faults.shortReplies = true;
        else if (a == "--long-replies")
            o.faults.longReplies = true;
        else
            ok = false;
        if (!ok) {
            std::cerr << "tk7v-sim: неверный параметр " << a << "\n" << kUsage;
            return false;
        }
    }
    if (o.plugged && !o.bench) {
        std::cerr << "tk7v-sim: --plugged — только вместе с --bench\n";
        return false;
    }
    return true;
}

} // namespace tk7v::sim
