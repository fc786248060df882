// tk7v-sim: a ТК-7В on a pseudo-terminal, for trying the configurator without a device.
//
// It prints the path of the port to open, then answers "RESET\r" with its identification line,
// read commands with data from its 512-byte memory and write commands with "OK". Everything
// else on the line is skipped, as the device does. With --bench the port stays while devices are
// plugged and unplugged behind it by commands on standard input, as at a bench where the USB
// adapter stays and devices are changed at the cable's end.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kMemorySize = 512;

struct Options {
    std::string ident = "TK7V v2.6 (simulator)";
    std::vector<std::string> preamble;
    std::string memoryFile;
    std::string saveFile;
    std::string linkPath;
    std::string logFile;
    std::string timingFile;
    std::string stale;
    bool logTimes = false;
    bool bench = false;
    bool plugged = false;
    long baud = 0;
    long turnaroundMs = 0;
    bool silent = false;
    bool endlessIdent = false;
    bool garble = false;
    bool wild = false;
    bool shortReplies = false;
    bool longReplies = false;
    long rejectWrites = 0;
    long rejectEach = 0;
    long noise = 0;
    long dieAfter = -1;
    long muteAfter = -1;
    long stuckAt = -1;
    long stuckValue = 0;
};

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

volatile std::sig_atomic_t gStop = 0;
int gWakePipe[2] = {-1, -1};

void onSignal(int) {
    gStop = 1;
    const char c = 0;
    [[maybe_unused]] auto n = ::write(gWakePipe[1], &c, 1);
}

bool parseArgs(int argc, char** argv, Options& o) {
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
            ok = next(o.ident);
        else if (a == "--preamble")
            ok = next(s), o.preamble.push_back(s);
        else if (a == "--memory")
            ok = next(o.memoryFile);
        else if (a == "--save")
            ok = next(o.saveFile);
        else if (a == "--log")
            ok = next(o.logFile);
        else if (a == "--stale")
            ok = next(o.stale);
        else if (a == "--stuck") {
            ok = next(s);
            const auto eq = s.find('=');
            if (ok && eq != std::string::npos) {
                o.stuckAt = std::strtol(s.substr(0, eq).c_str(), nullptr, 10);
                o.stuckValue = std::strtol(s.substr(eq + 1).c_str(), nullptr, 10);
            }
            ok = ok && eq != std::string::npos && o.stuckAt >= 0 && o.stuckAt < 512;
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
            ok = nextNum(o.turnaroundMs);
        else if (a == "--reject")
            ok = nextNum(o.rejectWrites);
        else if (a == "--reject-each")
            ok = nextNum(o.rejectEach);
        else if (a == "--noise")
            ok = nextNum(o.noise);
        else if (a == "--die-after")
            ok = nextNum(o.dieAfter);
        else if (a == "--mute-after")
            ok = nextNum(o.muteAfter);
        else if (a == "--silent")
            o.silent = true;
        else if (a == "--endless-ident")
            o.endlessIdent = true;
        else if (a == "--garble")
            o.garble = true;
        else if (a == "--wild-replies")
            o.wild = true;
        else if (a == "--short-replies")
            o.shortReplies = true;
        else if (a == "--long-replies")
            o.longReplies = true;
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

// A factory configuration: the one the configurator itself starts with, with a number set.
std::vector<std::uint8_t> factoryMemory() {
    std::vector<std::uint8_t> m(kMemorySize, 0xFF);
    const std::uint8_t profile1[] = {0xFF, 0x01, 0x02, 0x01, 0x03, 0x0A, 0x01, 0x00, 0x00, 0x00};
    const std::uint8_t profile2[] = {0xFF, 0x00, 0x01, 0x01, 0x03, 0x0A, 0x03, 0x00, 0x00, 0x00};
    std::copy(std::begin(profile1), std::end(profile1), m.begin());
    std::fill(m.begin() + 16, m.begin() + 112, 0x00);
    const std::uint8_t phone[] = {8, 10, 10, 1, 2, 3, 4, 5, 6, 7}; // 8001234567
    std::copy(std::begin(phone), std::end(phone), m.begin() + 16);
    std::copy(std::begin(profile2), std::end(profile2), m.begin() + 112);
    std::fill(m.begin() + 128, m.begin() + 224, 0x00);
    const std::uint8_t line[] = {0x00, 0x1E, 0x00, 0x00, 0x00, 0x00, 0x01,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x05};
    std::copy(std::begin(line), std::end(line), m.begin() + 224);
    return m;
}

// What a device holds when it is first plugged: the factory configuration or --memory's file.
std::vector<std::uint8_t> initialMemory(const Options& o) {
    std::vector<std::uint8_t> memory = factoryMemory();
    if (!o.memoryFile.empty()) {
        std::ifstream in(o.memoryFile, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (std::size_t i = 0; i < bytes.size() && i < kMemorySize; ++i)
            memory[i] = static_cast<std::uint8_t>(bytes[i]);
    }
    return memory;
}

// The log and the timing file belong to the line, not to a device: every device plugged in the
// simulator's life writes to the same ones.
class Records {
public:
    explicit Records(const Options& o) : logTimes_(o.logTimes) {
        if (!o.logFile.empty() && o.logFile != "-") log_ = std::fopen(o.logFile.c_str(), "a");
        if (o.logFile == "-") log_ = stderr;
        if (!o.timingFile.empty()) timing = std::fopen(o.timingFile.c_str(), "w");
    }

    void note(const std::string& line) const {
        if (!log_) return;
        if (logTimes_) {
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            std::fprintf(
                log_, "%lld ",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()));
        }
        std::fprintf(log_, "%s\n", line.c_str());
        std::fflush(log_);
    }

    std::FILE* timing = nullptr;

private:
    std::FILE* log_ = nullptr;
    bool logTimes_ = false;
};

// --save's file for the device numbered `number`: each "{n}" in it is the number.
std::string savePath(std::string path, int number) {
    static const std::string mark = "{n}";
    const std::string n = std::to_string(number);
    for (auto at = path.find(mark); at != std::string::npos; at = path.find(mark, at + n.size()))
        path.replace(at, mark.size(), n);
    return path;
}

using Clock = std::chrono::steady_clock;

class Device {
public:
    Device(int fd, const Options& o, const Records& records, int number, std::vector<std::uint8_t> memory)
        : fd_(fd), o_(o), records_(records), memory_(std::move(memory)),
          savePath_(o.saveFile.empty() ? std::string() : savePath(o.saveFile, number)) {
        byteTime_ =
            o_.baud > 0 ? std::chrono::nanoseconds(10'000'000'000LL / o_.baud) : std::chrono::nanoseconds(0);
    }

    void save() const {
        if (savePath_.empty()) return;
        const std::string tmp = savePath_ + ".tmp";
        {
            std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(memory_.data()),
                      static_cast<std::streamsize>(memory_.size()));
        }
        std::rename(tmp.c_str(), savePath_.c_str());
    }

    const std::vector<std::uint8_t>& memory() const { return memory_; }

    // The program has written bytes to its port: they wait in the port's transmit queue and
    // reach the device at the line's pace.
    void written(const std::uint8_t* data, std::size_t n) {
        const auto now = Clock::now();
        if (records_.timing && replied_ && buffer_.empty() && toDevice_.empty()) {
            // A program may answer on a reply's CR while its LF is still on the line.
            const auto gap = std::max(now - lastReplyByte_, Clock::duration::zero());
            std::fprintf(
                records_.timing, "%lld\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(gap).count()));
            std::fflush(records_.timing);
            replied_ = false;
        }
        for (std::size_t i = 0; i < n; ++i) {
            inFree_ = std::max(now, inFree_) + byteTime_;
            toDevice_.push_back({data[i], inFree_});
        }
        step(now);
    }

    // The program purged its output: what has not crossed the line yet is gone, as a UART
    // driver's purge throws away its transmit queue. This side learns of bytes and of purges only
    // when it gets to read them, and may read the bytes late on a busy machine: what was due to
    // arrive within a few characters counts as crossed. A purge that does not wait for a chunk
    // still cuts it, since most of the chunk is due far later.
    void outputPurged() {
        const auto now = Clock::now();
        step(now);
        deliver(now + std::max(std::chrono::duration_cast<Clock::duration>(byteTime_ * 5),
                               std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(10))));
        toDevice_.clear();
        inFree_ = now;
    }

    // Moves what is due: bytes that have crossed the line to the device, answers to the port.
    void step(Clock::time_point now) {
        deliver(now);
        std::string out;
        while (!toProgram_.empty() && toProgram_.front().due <= now) {
            out += static_cast<char>(toProgram_.front().byte);
            toProgram_.pop_front();
        }
        if (!out.empty()) writeAll(out.data(), out.size());
    }

    // Hands the device the bytes that have crossed the line by `until`.
    void deliver(Clock::time_point until) {
        std::vector<std::uint8_t> arrived;
        Clock::time_point lastDue{};
        while (!toDevice_.empty() && toDevice_.front().due <= until) {
            lastDue = toDevice_.front().due;
            arrived.push_back(toDevice_.front().byte);
            toDevice_.pop_front();
        }
        if (arrived.empty()) return;
        arrivedAt_ = lastDue;
        buffer_.insert(buffer_.end(), arrived.begin(), arrived.end());
        parse();
    }

    // How long until the next byte is due, or nothing when nothing waits. To the microsecond, as a
    // line delivers its bytes: a wait rounded up to the millisecond would send a reply up to a
    // millisecond after its time, each burst late by a different amount.
    std::optional<Clock::duration> nextDue(Clock::time_point now) const {
        Clock::time_point next = Clock::time_point::max();
        if (!toDevice_.empty()) next = toDevice_.front().due;
        if (!toProgram_.empty()) next = std::min(next, toProgram_.front().due);
        if (next == Clock::time_point::max()) return std::nullopt;
        return std::max(next - now, Clock::duration::zero());
    }
    bool sending() const { return !toProgram_.empty(); }

    bool endlessIdent() const { return endless_; }
    void sendEndlessChunk() {
        std::string chunk(64, 'Z');
        if (sentIdentStart_) {
            send(chunk, Clock::now());
        } else {
            sentIdentStart_ = true;
            send("TK7V" + chunk, Clock::now());
        }
    }

private:
    void log(const std::string& line) const { records_.note(line); }

    // An answer leaves at the line's pace, `delay` (the device's turnaround) after `from`.
    void send(const std::string& bytes, Clock::time_point from, std::chrono::milliseconds delay = {}) {
        if (byteTime_.count() == 0 && delay.count() == 0 && toProgram_.empty()) {
            writeAll(bytes.data(), bytes.size());
            lastReplyByte_ = Clock::now();
            return;
        }
        auto next = std::max(from + delay, outFree_);
        for (char c : bytes) {
            next += byteTime_;
            toProgram_.push_back({static_cast<std::uint8_t>(c), next});
        }
        outFree_ = lastReplyByte_ = next;
    }

    void writeAll(const char* p, std::size_t n) {
        // A stop request ends a write that nobody reads (the line is full once the other side
        // has closed the port), so the simulator always ends when asked.
        while (n > 0 && !gStop) {
            const ssize_t w = ::write(fd_, p, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN) {
                    pollfd pf[2] = {{fd_, POLLOUT, 0}, {gWakePipe[0], POLLIN, 0}};
                    ::poll(pf, 2, -1);
                    continue;
                }
                return;
            }
            p += w;
            n -= static_cast<std::size_t>(w);
        }
    }

    void reply(const std::string& bytes) {
        if (o_.silent || (o_.muteAfter >= 0 && commands_ >= o_.muteAfter)) return;
        std::string out;
        // Noise ends a line, as line noise between two lines would look.
        for (long i = 0; i < o_.noise; ++i)
            out += static_cast<char>(i + 1 == o_.noise ? '\n' : "\x01\xFE#\n\r?"[i % 6]);
        if (o_.garble) out += "Ox" + std::string("xz00?") + "O\r";
        // Timed from when the command reached the device, as a device's own clock would: the
        // time this process took to get to it (a busy machine, the memory file written first)
        // is not the device's.
        send(out + bytes, arrivedAt_, std::chrono::milliseconds(o_.turnaroundMs));
        replied_ = true;
    }

    void commandDone() {
        ++commands_;
        if (o_.dieAfter >= 0 && commands_ >= o_.dieAfter) {
            log("DIE");
            ::_exit(3);
        }
    }

    static int hexValue(std::uint8_t c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    std::string dataReply(int count, int address) const {
        std::string r = {'x', static_cast<char>(0x60 + count)};
        static const char hex[] = "0123456789ABCDEF";
        r += hex[(address >> 8) & 0xF];
        r += hex[(address >> 4) & 0xF];
        r += hex[address & 0xF];
        r += '=';
        for (int i = 0; i < count; ++i) {
            const std::size_t at = static_cast<std::size_t>(address + i);
            r += static_cast<char>(at < kMemorySize ? memory_[at] : 0xFF);
        }
        r += '\r';
        return r;
    }

    void parse() {
        static const std::string reset = "RESET\r";
        for (;;) {
            while (!buffer_.empty() && buffer_[0] != 'x' && buffer_[0] != 'R')
                buffer_.erase(buffer_.begin());
            if (buffer_.empty()) return;
            if (buffer_[0] == 'R') {
                const std::size_t have = std::min(buffer_.size(), reset.size());
                if (!std::equal(buffer_.begin(), buffer_.begin() + static_cast<long>(have), reset.begin())) {
                    buffer_.erase(buffer_.begin());
                    continue;
                }
                if (have < reset.size()) return;
                buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(reset.size()));
                log("RESET");
                onReset();
                commandDone();
                continue;
            }
            if (buffer_.size() < 6) return;
            const int count = buffer_[1] - 0x60;
            const int h[3] = {hexValue(buffer_[2]), hexValue(buffer_[3]), hexValue(buffer_[4])};
            const bool headOk = count >= 1 && count <= 26 && h[0] >= 0 && h[1] >= 0 && h[2] >= 0 &&
                                (buffer_[5] == '\r' || buffer_[5] == '=');
            if (!headOk) {
                buffer_.erase(buffer_.begin());
                continue;
            }
            const int address = h[0] << 8 | h[1] << 4 | h[2];
            char head[48];
            if (buffer_[5] == '\r') {
                buffer_.erase(buffer_.begin(), buffer_.begin() + 6);
                std::snprintf(head, sizeof head, "READ %d @%03X", count, address);
                log(head);
                std::string before;
                if (o_.wild)
                    before = dataReply(26, 0x1F0) + "x\x7F\x7F\x7F\x7F=" + std::string(31, '\x5A') + "\r";
                if (o_.shortReplies) before += dataReply(count - 1, address);
                reply(before + dataReply(o_.longReplies ? std::min(count + 5, 31) : count, address));
                commandDone();
                continue;
            }
            const std::size_t total = 6 + static_cast<std::size_t>(count) + 1;
            if (buffer_.size() < total) return;
            const bool refuse = rejected_ < o_.rejectWrites || refusedInARow_ < o_.rejectEach;
            for (int i = 0; i < count; ++i) {
                const std::size_t at = static_cast<std::size_t>(address + i);
                if (at < kMemorySize && !refuse) memory_[at] = buffer_[6 + static_cast<std::size_t>(i)];
            }
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(total));
            if (o_.stuckAt >= 0)
                memory_[static_cast<std::size_t>(o_.stuckAt)] = static_cast<std::uint8_t>(o_.stuckValue);
            if (refuse) {
                ++rejected_;
                ++refusedInARow_;
                std::snprintf(head, sizeof head, "WRITE %d @%03X REJECTED", count, address);
                log(head);
                reply(dataReply(count, address));
            } else {
                std::snprintf(head, sizeof head, "WRITE %d @%03X", count, address);
                log(head);
                save();
                refusedInARow_ = 0;
                reply("OK\r\n");
            }
            commandDone();
        }
    }

    void onReset() {
        if (o_.silent || (o_.muteAfter >= 0 && commands_ >= o_.muteAfter)) return;
        if (o_.endlessIdent) {
            endless_ = true;
            sentIdentStart_ = false;
            return;
        }
        std::string lines;
        for (const std::string& p : o_.preamble)
            lines += p + "\r\n";
        reply(lines + o_.ident + "\r\n" + o_.stale);
    }

    struct Timed {
        std::uint8_t byte;
        Clock::time_point due;
    };

    int fd_;
    const Options& o_;
    const Records& records_;
    std::deque<Timed> toDevice_, toProgram_;
    std::vector<std::uint8_t> memory_;
    std::string savePath_;
    std::vector<std::uint8_t> buffer_;
    Clock::time_point lastReplyByte_{};
    bool replied_ = false;
    std::chrono::nanoseconds byteTime_{0};
    Clock::time_point inFree_{}, outFree_{};
    Clock::time_point arrivedAt_{}; // when the last byte handed to the device reached it
    long rejected_ = 0;
    long refusedInARow_ = 0;
    long commands_ = 0;
    bool endless_ = false;
    bool sentIdentStart_ = false;
};

// The line behind the port, with at most one device on it. Without --bench device 1 is plugged
// for the simulator's whole life; with it, the bench's commands change devices while the port,
// the adapter's side, stays.
class Line {
public:
    Line(int fd, const Options& o, const Records& records)
        : fd_(fd), o_(o), records_(records), initial_(initialMemory(o)) {}

    Device* device() { return device_ ? &*device_ : nullptr; }

    // One line of the bench's standard input. Returns the line that acknowledges it, written only
    // once the change is in effect so that whoever drives the bench can wait for it; nothing for
    // an empty line.
    std::string command(std::string text) {
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
            text.pop_back();
        text.erase(0, text.find_first_not_of(" \t"));
        if (text.empty()) return {};
        if (text == "unplug") return unplug();
        if (text == "plug") return plug(0);
        if (text.rfind("plug ", 0) == 0) {
            char* end = nullptr;
            const long number = std::strtol(text.c_str() + 5, &end, 10);
            if (*end == 0 && number > 0 && number <= count_) return plug(static_cast<int>(number));
            return refuse("устройство " + text.substr(5) + " ещё не подключалось");
        }
        return refuse("неизвестная команда \"" + text + "\" (есть plug, plug N, unplug)");
    }

    // Plugs the device numbered `number` back, with the memory it had when it was unplugged (a
    // device keeps its configuration without power), or a new one with the initial memory.
    std::string plug(int number) {
        if (device_)
            return refuse("устройство " + std::to_string(number_) + " уже подключено: сначала unplug");
        std::vector<std::uint8_t> memory = initial_;
        if (number == 0)
            number = ++count_;
        else
            memory = kept_.at(number);
        device_.emplace(fd_, o_, records_, number, std::move(memory));
        device_->save();
        number_ = number;
        if (o_.bench) records_.note("PLUG " + std::to_string(number));
        return "plugged " + std::to_string(number);
    }

    // The device is gone with all it had not sent yet, a reply half-sent included; the bytes
    // that crossed the cable before stay in the adapter for the program to read.
    std::string unplug() {
        if (!device_) return refuse("устройство не подключено");
        device_->save();
        kept_[number_] = device_->memory();
        device_.reset();
        records_.note("UNPLUG " + std::to_string(number_));
        return "unplugged " + std::to_string(number_);
    }

    // The program wrote `n` bytes to a line with no device on it: nobody hears them.
    void lost(std::size_t n) const { records_.note("LOST " + std::to_string(n)); }

    void save() const {
        if (device_) device_->save();
    }

private:
    std::string refuse(const std::string& why) const {
        std::fprintf(stderr, "tk7v-sim: %s\n", why.c_str());
        return "error";
    }

    int fd_;
    const Options& o_;
    const Records& records_;
    const std::vector<std::uint8_t> initial_;
    std::optional<Device> device_;
    int number_ = 0; // the plugged device's, or the last one's
    int count_ = 0;  // devices made so far
    std::map<int, std::vector<std::uint8_t>> kept_;
};

// Reads what standard input has for the bench and carries out each whole line. False once the
// input has ended: its last line, even without an end, is carried out, and the line stays as it
// is.
bool readCommands(Line& line, std::string& pending) {
    char chunk[256];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (n > 0)
        pending.append(chunk, static_cast<std::size_t>(n));
    else
        pending += '\n';
    for (auto eol = pending.find('\n'); eol != std::string::npos; eol = pending.find('\n')) {
        const std::string ack = line.command(pending.substr(0, eol));
        pending.erase(0, eol + 1);
        if (ack.empty()) continue;
        std::printf("%s\n", ack.c_str());
        std::fflush(stdout);
    }
    return n > 0;
}

// Started through sudo, the port would be root's (mode 620), and the user who ran sudo, whose
// configurator is to open it, could not. The port goes to that user and group instead.
void handToSudoUser(int port) {
    if (::geteuid() != 0) return;
    const auto id = [](const char* name, long& into) {
        const char* text = std::getenv(name);
        if (!text || !*text) return false;
        char* end = nullptr;
        errno = 0;
        into = std::strtol(text, &end, 10);
        return errno == 0 && *end == 0 && into >= 0;
    };
    long uid = 0, gid = 0;
    if (!id("SUDO_UID", uid)) return;
    const gid_t group = id("SUDO_GID", gid) ? static_cast<gid_t>(gid) : static_cast<gid_t>(-1);
    if (::fchown(port, static_cast<uid_t>(uid), group) != 0)
        std::fprintf(stderr, "tk7v-sim: не удалось передать порт пользователю %ld: %s\n", uid,
                     std::strerror(errno));
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_MESSAGES, ""); // the system's error texts in the user's language
    Options o;
    if (!parseArgs(argc, argv, o)) return 2;
    // Asked before the port is made: with standard input closed, the port would take its number.
    bool commands = o.bench && ::fcntl(STDIN_FILENO, F_GETFD) != -1;

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::fprintf(stderr, "tk7v-sim: не удалось создать псевдотерминал: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string slavePath = ::ptsname(master);
    // Hold the port side open ourselves: the line stays up while the configurator closes and
    // reopens it, and it is raw from the start (no echo of commands back to the sender).
    const int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        std::fprintf(stderr, "tk7v-sim: не удалось открыть порт %s: %s\n", slavePath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    handToSudoUser(slave);
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    if (::pipe2(gWakePipe, O_CLOEXEC) != 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    if (!o.linkPath.empty()) {
        // A link to a port that still exists belongs to another simulator: leave it alone.
        char target[256] = {};
        const ssize_t n = ::readlink(o.linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && ::access(target, F_OK) == 0) {
            std::fprintf(stderr, "tk7v-sim: %s занята другим имитатором (%s)\n", o.linkPath.c_str(), target);
            o.linkPath.clear();
        } else {
            ::unlink(o.linkPath.c_str());
        }
    }
    if (!o.linkPath.empty()) {
        if (::symlink(slavePath.c_str(), o.linkPath.c_str()) != 0) {
            std::fprintf(stderr, "tk7v-sim: не удалось создать ссылку %s: %s\n", o.linkPath.c_str(),
                         std::strerror(errno));
            o.linkPath.clear();
        }
    }
    // The memory file is there before the port is named: whoever waits for the name may read it.
    const Records records(o);
    Line line(master, o, records);
    if (!o.bench || o.plugged) line.plug(0);
    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);

    // Packet mode tells this side when the program purges its output, so that bytes still in
    // the transmit queue can be dropped as a real port drops them.
    const int packet = 1;
    const bool purgesSeen = ::ioctl(master, TIOCPKT, &packet) == 0;
    std::uint8_t buf[4096];
    std::string pending;
    while (!gStop) {
        Device* device = line.device();
        // The bench's commands are read only after the port's bytes of the same moment, so that
        // what the program sent before a command is heard or lost as the line was then.
        pollfd p[3] = {
            {master, POLLIN, 0}, {gWakePipe[0], POLLIN, 0}, {commands ? STDIN_FILENO : -1, POLLIN, 0}};
        const bool feedIdent = device && device->endlessIdent() && !device->sending();
        const std::optional<Clock::duration> due = feedIdent ? Clock::duration::zero()
                                                   : device  ? device->nextDue(Clock::now())
                                                             : std::nullopt;
        timespec timeout{};
        if (due) {
            const auto ns = std::chrono::ceil<std::chrono::nanoseconds>(*due).count();
            timeout = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        }
        if (::ppoll(p, 3, due ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) break;
        if (gStop) break;
        if (device) device->step(Clock::now());
        if (p[0].revents & POLLIN) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            const std::uint8_t* data = buf;
            std::size_t size = 0;
            if (n > 0 && !purgesSeen) {
                size = static_cast<std::size_t>(n);
            } else if (n > 0 && buf[0] == TIOCPKT_DATA) {
                data = buf + 1;
                size = static_cast<std::size_t>(n - 1);
            } else if (n > 0 && (buf[0] & TIOCPKT_FLUSHWRITE) && device) {
                device->outputPurged();
            }
            if (size > 0 && device) device->written(data, size);
            if (size > 0 && !device) line.lost(size);
        }
        // An input that fails (POLLNVAL included) ends the commands, so it cannot keep waking the loop.
        if (p[2].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) commands = readCommands(line, pending);
        device = line.device();
        if (device && device->endlessIdent() && !device->sending()) device->sendEndlessChunk();
    }
    line.save();
    if (!o.linkPath.empty()) {
        char target[256] = {};
        if (::readlink(o.linkPath.c_str(), target, sizeof target - 1) > 0 && slavePath == target)
            ::unlink(o.linkPath.c_str());
    }
    ::close(slave);
    ::close(master);
    return 0;
}
