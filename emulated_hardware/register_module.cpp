// register-module: the ultrasonic module, played on a board's GPIO registers
// in a file that the real GPIO library maps into another process, the
// program's. It creates the register file, starts the program, reads its
// set-up back from the registers, answers each trigger with the reading's
// echo, and once the program has printed a line for every reading ends it
// with SIGTERM, as a person would. Then it reports what it drove against
// what was printed, and exits 0 when every line is right.
//
//   register-module [--service] [--answer-late] [--first-look-late=MS] BOARD REGISTER-FILE ECHOES -- COMMAND [ARG...]
//
// BOARD is pi3, pi4 or pi5; ECHOES lists one reading each, as ranging-sim's
// SIM_ECHOES does (a width in µs, "none" or "stuck"). Each reading that is
// not judged right, or whose echo ran into the next trigger, is followed by
// its triggers: when each fell, and when its echo rose and fell, in ms from
// the module's start.
//
// A real module's echo ends long before the program fires again. One held
// up under emulation may answer a trigger so late that its echo is still
// high, or not yet raised, when the next trigger comes, and the program
// then times it in that attempt: a reading whose last trigger came so is
// left out. --answer-late plays such a module: it holds back its answer to
// the first trigger until the program has fired again.
//
// Each trigger belongs to the reading whose line the program prints after
// it, which the module works out from when the trigger fell and when each
// line came, as its stamps place them. A module held up between two looks
// (the host's other work, a hypervisor taking the processor) may find a
// trigger that fell before or after a line it finds with it: it cannot tell
// whose it was, and a reading that such a trigger may have ended is left
// out. --first-look-late=MS plays a module held up so, its first look at the
// trigger MS ms after the program's start.
//
// With --service the program is a service's, which a service manager starts
// once the register file is there, and COMMAND follows its output (its lines
// in the journal, as they come): the program is neither ended nor looked
// into here. Such a run is emulated whole, board and all, so a reading that
// a hold-up of the emulator cost (0.00 for an echo that ended in time) is
// counted as lost rather than judged wrong; at least one echo must come
// through. (A 32-bit board emulated whole, on this machine's two processors,
// lost 4 of 6 in one run of five: the program, held up, trusted none of its
// three attempts.) Natively a reading is lost only after all the program's
// attempts, each spoilt by a hold-up (the host taking the processor, as a
// hypervisor does): 0.00 after fewer is wrong, a time-out trusted that an
// echo in time belies. The report counts what was lost, for the caller to
// bound.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "driven_echo.h"
#include "echo_script.h"
#include "ranging.h"
#include "registers.h"

namespace {

// The library's numbers for the program's pins 4, 5 and 0.
constexpr int kTriggerBcm = 23;
constexpr int kEchoBcm = 24;
constexpr int kSpareBcm = 17;

// Echoes that end this soon after the trigger fell, at the earliest the fall
// can be placed, are surely within the program's time-out (from its start,
// just after the fall); those that end this late after the latest it can be
// placed, surely not.
constexpr int64_t kSurelyInTimeNs = (int64_t{kEchoTimeoutUs} - 200) * 1000;
constexpr int64_t kSurelyPastNs = (int64_t{kEchoTimeoutUs} + 500) * 1000;
// A trusted reading's windows add up to at most kTrustedErrorUs, and the
// clock's step adds one; the printout rounds to the half hundredth.
constexpr double kErrorBoundUs = kTrustedErrorUs + 1;
constexpr double kPrintedHalfStepCm = 0.005;
// Under whole-system emulation (--service) the module's own writes can seldom
// be placed within kPlacedWithinNs: one that was placed within this is
// judged all the same, its bound widened by how closely it was placed.
constexpr int64_t kEmulatedPlacedWithinNs = 100000;
// Looking at the set-up without a break catches the library's pull
// sequences, a few microseconds each. The module naps for a moment after
// this much of it: the kernel takes the processor from a real-time thread
// that has kept it from others for most of a second, for 50 ms, and a first
// trigger in those would be seen too late to answer in time.
constexpr int64_t kSetUpSpinNs = 500000;
// How long the program may take to set up (a service, under emulation, takes
// seconds to start), and to print each reading.
constexpr int64_t kSetUpLimitNs = 30LL * 1000000000;
constexpr int64_t kReadingLimitNs = 5LL * 1000000000;
// The program fires again within a reading 60 ms after a failed attempt, and
// first fires for the next a second after it printed a line: a trigger that
// falls this long after the last of a reading's is the next reading's, even
// before the line comes (a service's journal may pass it on late). A module
// that went this long between two looks may have taken two readings'
// triggers at once, as one.
constexpr int64_t kNextReadingAfterNs = 500000000;

constexpr char kBanner[] = "Program is starting ... ";
constexpr char kReadingFormat[] = "The distance is : %lf cm%n";

// When the trigger fell, as the module can place it: after the stamp of the
// look before the one that saw it fall, and before that look ended.
struct Fall {
    int64_t afterNs;
    int64_t byNs;
};

// The module's looks at the trigger, each stamped before it is taken: a
// write that a look finds came after the stamp of the look before.
struct TriggerLooks {
    emulated::Registers& registers;
    int64_t lastNs;   // the stamp of the last look
    int64_t beforeNs; // that of the look before it
    int64_t longestGapNs = 0;

    // The trigger's writes since the last look: the program's writes stay in
    // the set and clear registers until a look takes them.
    emulated::Registers::Writes take()
    {
        beforeNs = lastNs;
        lastNs = emulated::realNowNs();
        longestGapNs = std::max(longestGapNs, lastNs - beforeNs);
        return registers.takeOutputWrites(kTriggerBcm);
    }
};

// What the module did for one trigger: how long before it saw the trigger
// fall that may have come, and the echo it drove, if any.
struct Trigger {
    Fall fell;
    int64_t fellWithinNs;
    std::optional<emulated::DrivenEcho> echo;
    bool ranIntoNext = false;    // the program fired again before its echo fell
    bool cameDuringEcho = false; // it came before the echo for the trigger before it fell
    bool placed = true;          // false: a line may have come before it fell, or after
};

// `nextFired`: the program has fired again already. Otherwise, a trigger
// written before the look just after the echo's fall may have come while the
// echo was still high.
Trigger answer(emulated::Registers& registers, const Fall& fall, const sim::Echo& echo, bool nextFired)
{
    Trigger answered{fall, fall.byNs - fall.afterNs, std::nullopt};
    if (const std::optional<int64_t> highNs = sim::echoHighNs(echo, 0)) {
        answered.echo =
            emulated::driveEcho(fall.byNs, *highNs, [&](bool high) { registers.driveInput(kEchoBcm, high); });
        answered.ranIntoNext = nextFired || registers.setPending(kTriggerBcm);
    }
    return answered;
}

// When the trigger fell and the echo rose and fell, in ms from `startNs`.
std::string timesOf(const Trigger& trigger, int64_t startNs)
{
    const auto ms = [startNs](int64_t ns) { return static_cast<double>(ns - startNs) / 1e6; };
    char text[200];
    int used = std::snprintf(text, sizeof text, "fell between %.3f and %.3f ms", ms(trigger.fell.afterNs),
                             ms(trigger.fell.byNs));
    if (trigger.echo)
        used += std::snprintf(
            text + used, sizeof text - static_cast<size_t>(used), "; echo raised by %.3f ms, lowered by %.3f ms",
            ms(trigger.fell.byNs + trigger.echo->raisedAfterNs), ms(trigger.fell.byNs + trigger.echo->endedAfterNs));
    if (!trigger.placed)
        used += std::snprintf(text + used, sizeof text - static_cast<size_t>(used), "; a line came in that time");
    if (trigger.cameDuringEcho)
        std::snprintf(text + used, sizeof text - static_cast<size_t>(used), "; came before the echo before it fell");
    else if (trigger.ranIntoNext)
        std::snprintf(text + used, sizeof text - static_cast<size_t>(used), "; the next trigger came first");
    return text;
}

// When a line came, as the module can place it: after the stamp of the look
// at the output before the one that found it whole, and before that look
// ended.
struct LineCame {
    int64_t afterNs;
    int64_t byNs;
};

// The program, started with its standard output and error in pipes.
struct Program {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    std::string outText;
    std::string errText;
    std::vector<LineCame> came; // the banner's, then each reading's
    int64_t lastLookNs = 0;
    bool exited = false;
    int status = 0;

    void start(char** command)
    {
        lastLookNs = emulated::realNowNs();
        int outPipe[2];
        int errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
            std::exit(2);
        pid = fork();
        if (pid == 0) {
            dup2(outPipe[1], STDOUT_FILENO);
            dup2(errPipe[1], STDERR_FILENO);
            execvp(command[0], command);
            std::perror(command[0]);
            _exit(127);
        }
        close(outPipe[1]);
        close(errPipe[1]);
        out = outPipe[0];
        err = errPipe[0];
        fcntl(out, F_SETFL, O_NONBLOCK);
        fcntl(err, F_SETFL, O_NONBLOCK);
    }

    // Takes what it has written so far, and whether it has ended.
    void look()
    {
        takeOutput();
        if (!exited && waitpid(pid, &status, WNOHANG) == pid)
            exited = true;
    }

    // Lines printed after the banner, whole ones only.
    size_t readings() const { return came.empty() ? 0 : came.size() - 1; }

    // What it keeps locked in RAM, as its status says ("VmLck: ... kB").
    std::string locked() const
    {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmLck:", 0) == 0)
                return line.substr(line.find_first_not_of(" \t", 6));
        }
        return "";
    }

    void end()
    {
        if (!exited) {
            kill(pid, SIGTERM);
            waitpid(pid, &status, 0);
            exited = true;
        }
        fcntl(out, F_SETFL, 0);
        fcntl(err, F_SETFL, 0);
        takeOutput();
    }

    void takeOutput()
    {
        const int64_t lookNs = emulated::realNowNs();
        drain(out, outText);
        drain(err, errText);
        const int64_t byNs = emulated::realNowNs();
        for (auto whole = static_cast<size_t>(std::count(outText.begin(), outText.end(), '\n')); came.size() < whole;)
            came.push_back({lastLookNs, byNs});
        lastLookNs = lookNs;
    }

    static void drain(int fd, std::string& text)
    {
        char chunk[4096];
        for (ssize_t n = 0; (n = read(fd, chunk, sizeof chunk)) > 0;)
            text.append(chunk, static_cast<size_t>(n));
    }
};

// Waits for the trigger's fall after a look that saw it: at once when the
// look saw it fall too, otherwise as it comes.
Fall triggerFell(TriggerLooks& looks, const emulated::Registers::Writes& seen)
{
    if (!seen.cleared) {
        const int64_t limitNs = emulated::realNowNs() + kReadingLimitNs;
        while (!looks.take().cleared && emulated::realNowNs() < limitNs) {
        }
    }
    return {looks.beforeNs, emulated::realNowNs()};
}

// The readings a trigger may belong to, first to last: each is the one after
// the readings whose lines came before it fell. Taken once the module has
// looked at the output after the fall, so that every line that may have come
// before it is seen.
struct Readings {
    size_t first;
    size_t last;
};

// Natively a line is seen as soon as it is printed: the trigger is the
// reading's after those whose lines surely came before it fell, up to the
// one after those whose lines may have. A service's journal may pass a line
// on late, so there a trigger that falls long after the last one is the
// next reading's, even before the line comes.
Readings readingsOf(const std::vector<std::vector<Trigger>>& triggers, const std::vector<LineCame>& came,
                    const Fall& fall, bool service)
{
    size_t surely = 0;
    size_t maybe = 0;
    for (size_t line = 1; line < came.size(); ++line) {
        surely += came[line].byNs <= fall.afterNs;
        maybe += came[line].afterNs < fall.byNs;
    }
    const size_t lastReading = triggers.size() - 1;
    size_t reading = std::min(surely, lastReading);
    if (!service)
        return {reading, std::min(maybe, lastReading)};
    while (reading < lastReading && !triggers[reading].empty() &&
           fall.afterNs - triggers[reading].back().fell.byNs > kNextReadingAfterNs)
        ++reading;
    return {reading, reading};
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t at = 0, end = 0; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

bool isEmpty(const sim::Echo& echo)
{
    return echo.kind == sim::Echo::Kind::None || echo.kind == sim::Echo::Kind::OutOfRange;
}

const char* nameOf(const sim::Echo& echo)
{
    return echo.kind == sim::Echo::Kind::None ? "no echo" : echo.kind == sim::Echo::Kind::OutOfRange ? "stuck " : "";
}

std::string triggersText(size_t count)
{
    return std::to_string(count) + (count == 1 ? " trigger" : " triggers");
}

// Judges one reading's printed line against what the module did; returns
// "right", "left out", "lost" or why it is wrong, and says what it saw.
// `blindNs` is the longest the module went without a look.
std::string judge(const sim::Echo& echo, const std::vector<Trigger>& triggers, const std::string& line, bool service,
                  int64_t blindNs, std::string& seen)
{
    double printedCm = 0;
    int used = -1;
    if (std::sscanf(line.c_str(), kReadingFormat, &printedCm, &used) != 1 || used != static_cast<int>(line.size()))
        return "wrong: \"" + line + "\" is not a reading";
    char text[160];
    if (triggers.empty()) {
        std::snprintf(text, sizeof text, "no trigger: %.2f cm", printedCm);
        seen = text;
        // Under emulation the module itself may stand still long enough to
        // take two readings' triggers as one; one that never did has seen
        // every trigger there was.
        if (service && blindNs > kNextReadingAfterNs)
            return "lost: the module went " + std::to_string(blindNs / 1000000) +
                   " ms without a look, and may have taken its trigger with another's";
        return "wrong: it never fired the module";
    }
    const Trigger& trigger = triggers.back();
    const std::optional<emulated::DrivenEcho>& last = trigger.echo;
    if (!trigger.placed) {
        std::snprintf(text, sizeof text, "%s, %s: %.2f cm", isEmpty(echo) ? nameOf(echo) : "an echo",
                      triggersText(triggers.size()).c_str(), printedCm);
        seen = text;
        return "left out: a line came in the time its last trigger may have fallen, which may be another reading's";
    }
    if (!last)
        std::snprintf(text, sizeof text, "%s, %s: %.2f cm", nameOf(echo), triggersText(triggers.size()).c_str(),
                      printedCm);
    else
        std::snprintf(text, sizeof text, "%s%.1f us echo ending %.1f us after the trigger, %s: %.2f cm", nameOf(echo),
                      static_cast<double>(last->trueNs) / 1000.0, static_cast<double>(last->endedAfterNs) / 1000.0,
                      triggersText(triggers.size()).c_str(), printedCm);
    seen = text;
    // The reading printed is the last trigger's, timed while the echo before
    // it may still have been high: two echoes that no module gives.
    if (trigger.cameDuringEcho)
        return "left out: the echo for the trigger before it fell only after it came, the module held up";
    if (!last)
        return printedCm == 0 ? "right" : "wrong: expected 0.00";
    if (last->endedAfterNs >= kSurelyPastNs)
        return printedCm == 0 ? "right" : "wrong: expected 0.00, past the time-out";
    if (last->endedAfterNs + trigger.fellWithinNs > kSurelyInTimeNs)
        return "left out: it may end past the time-out, the trigger seen up to " +
               std::to_string(trigger.fellWithinNs / 1000) + " us after it fell";
    if (last->placedWithinNs > (service ? kEmulatedPlacedWithinNs : emulated::kPlacedWithinNs))
        return "left out: its writes could be placed only within " + std::to_string(last->placedWithinNs) + " ns";
    const double trueCm = static_cast<double>(last->trueNs) / 1000.0 * kCmPerEchoUs;
    const double placementUs = service ? static_cast<double>(last->placedWithinNs) / 1000.0 : 0;
    const double boundCm = (kErrorBoundUs + placementUs) * kCmPerEchoUs + kPrintedHalfStepCm;
    std::snprintf(text, sizeof text, " (%.2f +- %.2f)", trueCm, boundCm);
    seen += text;
    if (printedCm == 0 && !service && triggers.size() < static_cast<size_t>(kAttempts))
        return "wrong: 0.00 after " + triggersText(triggers.size()) + ", though the echo ended in time";
    if (printedCm == 0)
        return "lost: 0.00, though the echo ended in time";
    return std::fabs(printedCm - trueCm) <= boundCm ? "right" : "wrong: outside the program's error bound";
}

[[noreturn]] void usage(const char* why)
{
    std::fprintf(
        stderr,
        "register-module: %s\nusage: register-module [--service] [--answer-late] [--first-look-late=MS] pi3|pi4|pi5 "
        "REGISTER-FILE ECHOES -- COMMAND [ARG...]\n",
        why);
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    bool service = false;
    bool answerLate = false;
    int64_t firstLookLateNs = 0;
    constexpr char kFirstLookLate[] = "--first-look-late=";
    for (; argc > 1 && std::strncmp(argv[1], "--", 2) == 0 && argv[1][2] != '\0'; --argc, ++argv) {
        if (std::string(argv[1]) == "--service")
            service = true;
        else if (std::string(argv[1]) == "--answer-late")
            answerLate = true;
        else if (std::strncmp(argv[1], kFirstLookLate, sizeof kFirstLookLate - 1) == 0)
            firstLookLateNs = std::atoll(argv[1] + sizeof kFirstLookLate - 1) * 1000000;
        else
            usage("no such option");
    }
    emulated::Pi pi = emulated::Pi::Pi3;
    if (argc < 6 || std::string(argv[4]) != "--")
        usage("too few arguments");
    if (!emulated::piNamed(argv[1], pi))
        usage("the board must be pi3, pi4 or pi5");
    std::string error;
    const std::vector<sim::Echo> script = sim::parseEchoScript(argv[3], error);
    if (!error.empty())
        usage(error.c_str());

    emulated::Registers registers(pi, argv[2]);
    // The module is hardware: it runs above the program's priority, and
    // looks at the set-up all but without a break until the first trigger.
    // It takes that priority before it starts the program, which takes its
    // own at once: started first, the program, spinning through its first
    // time-out ahead of the module on the processor they shared, once kept
    // it from its first look until it had printed its first line (15 ms),
    // and the module took that line's trigger for the next reading's.
    const bool realtime = emulated::runAsHardware();
    Program program;
    const int64_t startNs = emulated::realNowNs();
    TriggerLooks looks{registers, startNs, startNs};
    program.start(argv + 5);
    if (firstLookLateNs > 0)
        emulated::sleepUntilNs(startNs + firstLookLateNs);

    emulated::Registers::Writes writes{false, false};
    const int64_t setUpLimitNs = emulated::realNowNs() + kSetUpLimitNs;
    int64_t spunSinceNs = startNs;
    for (unsigned lookCount = 0; !writes.set && !writes.cleared; ++lookCount) {
        registers.watchSetUp();
        writes = looks.take();
        if (!writes.set && !writes.cleared && looks.lastNs - spunSinceNs > kSetUpSpinNs) {
            emulated::napBetweenLooks();
            spunSinceNs = emulated::realNowNs();
        }
        if (lookCount % 4096 == 0) {
            program.look();
            if (program.exited || program.readings() > 0 || emulated::realNowNs() > setUpLimitNs)
                break;
        }
    }
    // Held up for longer than a whole reading, the module may see the first
    // line before its trigger; the trigger is still in the registers.
    if (!writes.set && !writes.cleared)
        writes = looks.take();
    const std::string trigger = registers.setUpOf(kTriggerBcm);
    const std::string echo = registers.setUpOf(kEchoBcm);
    const std::string spare = registers.setUpOf(kSpareBcm);
    const bool othersUntouched = registers.othersUntouched(kTriggerBcm, kEchoBcm, kSpareBcm);

    std::vector<std::vector<Trigger>> triggers(script.size());
    // With --answer-late, the first trigger is held back, in its readings'
    // lists, until the program fires again.
    bool holdNext = answerLate;
    bool holding = false;
    Readings held{0, 0};
    bool lastRanIntoNext = false;
    // A trigger that cannot be placed is answered with the later reading's
    // echo, which its program may be timing; the earlier one's line is out.
    const auto keep = [&triggers](const Readings& whose, const Trigger& trigger) {
        for (size_t reading = whose.first; reading <= whose.last; ++reading) {
            triggers[reading].push_back(trigger);
            triggers[reading].back().placed = whose.first == whose.last;
        }
    };
    int64_t limitNs = emulated::realNowNs() + kReadingLimitNs;
    while (!program.exited && program.readings() < script.size() && emulated::realNowNs() < limitNs) {
        const size_t before = program.readings();
        if (writes.set || writes.cleared) {
            const Fall fall = triggerFell(looks, writes);
            program.look();
            const Readings whose = readingsOf(triggers, program.came, fall, service);
            if (holdNext) {
                holdNext = false;
                holding = true;
                held = whose;
                keep(whose, {fall, fall.byNs - fall.afterNs, std::nullopt});
            } else {
                if (holding) {
                    Trigger answered = answer(registers, triggers[held.last].front().fell, script[held.last], true);
                    answered.placed = held.first == held.last;
                    for (size_t reading = held.first; reading <= held.last; ++reading)
                        triggers[reading].front() = answered;
                    lastRanIntoNext = answered.ranIntoNext;
                    holding = false;
                }
                Trigger answered = answer(registers, fall, script[whose.last], false);
                answered.cameDuringEcho = lastRanIntoNext;
                lastRanIntoNext = answered.ranIntoNext;
                keep(whose, answered);
            }
        }
        program.look();
        if (program.readings() != before)
            limitNs = emulated::realNowNs() + kReadingLimitNs;
        emulated::napBetweenLooks();
        writes = looks.take();
    }
    const bool endedByItself = program.exited;
    const std::string locked = endedByItself || service ? "" : program.locked();
    program.end();

    // The report, and the verdict.
    std::vector<std::string> wrong;
    std::printf("set-up: BCM 23 %s, BCM 24 %s, BCM 17 %s; the other lines %s\n", trigger.c_str(), echo.c_str(),
                spare.c_str(), othersUntouched ? "untouched" : "changed");
    const bool spareRight = spare == "input with pull-up" || spare == "input, its pull not seen";
    if (trigger != "output" || echo.rfind("input", 0) != 0 || !spareRight || !othersUntouched)
        wrong.push_back("the set-up");
    if (!realtime)
        std::printf("(the module ran at normal priority)\n");
    if (!locked.empty())
        std::printf("memory locked: %s\n", locked.c_str());
    // The journal keeps a line without its trailing blanks.
    const std::vector<std::string> lines = linesOf(program.outText);
    const std::string banner = service ? std::string(kBanner, std::strlen(kBanner) - 1) : kBanner;
    if (lines.empty() || lines[0] != banner)
        wrong.push_back("the banner");
    size_t empty = 0;
    size_t emptyTriggers = 0;
    size_t cameThrough = 0;
    size_t lost = 0;
    for (size_t i = 0; i < script.size(); ++i) {
        std::string seen;
        const std::string verdict = i + 1 < lines.size()
                                        ? judge(script[i], triggers[i], lines[i + 1], service, looks.longestGapNs, seen)
                                        : "wrong: no line printed";
        std::printf("reading %zu: %s: %s\n", i + 1, seen.c_str(), verdict.c_str());
        const bool ranIntoNext = std::any_of(triggers[i].begin(), triggers[i].end(),
                                             [](const Trigger& trigger) { return trigger.ranIntoNext; });
        if (verdict != "right" || ranIntoNext) {
            for (size_t t = 0; t < triggers[i].size(); ++t)
                std::printf("  trigger %zu: %s\n", t + 1, timesOf(triggers[i][t], startNs).c_str());
        }
        lost += verdict.rfind("lost", 0) == 0;
        if (verdict.rfind("wrong", 0) == 0)
            wrong.push_back("reading " + std::to_string(i + 1));
        if (isEmpty(script[i])) {
            ++empty;
            emptyTriggers += static_cast<size_t>(std::count_if(triggers[i].begin(), triggers[i].end(),
                                                               [](const Trigger& trigger) { return trigger.placed; }));
        } else
            cameThrough += verdict == "right";
    }
    // What the readings with no echo cost the module, and the echoes lost,
    // are judged over many runs.
    std::printf("readings with no echo: %zu, triggers: %zu\n", empty, emptyTriggers);
    const size_t echoes = script.size() - empty;
    std::printf("echoes that came through: %zu of %zu, lost: %zu\n", cameThrough, echoes, lost);
    if (service && cameThrough == 0 && echoes > 0)
        wrong.push_back("no echo came through");
    if (endedByItself) {
        const char* what = service ? "what followed the service's output ended" : "the program ended by itself";
        wrong.push_back(std::string(what) + ", status " + std::to_string(program.status));
    }
    if (!program.errText.empty()) {
        std::printf("standard error:\n%s", program.errText.c_str());
        wrong.push_back("standard error");
    }
    if (wrong.empty()) {
        std::printf("right\n");
        return 0;
    }
    std::printf("wrong:");
    for (const std::string& what : wrong)
        std::printf(" %s;", what.c_str());
    std::printf("\n");
    return 1;
}
