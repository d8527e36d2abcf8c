#include "registers.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <wiringPi.h>

namespace emulated {

namespace {

// BCM283x and BCM2711, through /dev/gpiomem: the GPIO block sits at 0x200000
// in the file, and the library also maps the pads (0x100000), clock
// (0x101000), PWM (0x20C000) and timer (0xB000) blocks, 4 KiB each.
constexpr size_t kBcmFileBytes = 0x210000;
constexpr size_t kBcmGpioBlock = 0x200000;
// 32-bit words of the GPIO block.
constexpr size_t kGpfsel0 = 0x00 / 4; // three bits a line, ten lines a word
constexpr size_t kGpset0 = 0x1C / 4;
constexpr size_t kGpclr0 = 0x28 / 4;
constexpr size_t kGplev0 = 0x34 / 4;
constexpr size_t kGppud = 0x94 / 4;     // BCM283x: the pull to latch
constexpr size_t kGppudclk0 = 0x98 / 4; // BCM283x: which lines latch it
constexpr size_t kGppuppdn0 = 0xE4 / 4; // BCM2711: two bits a line, sixteen a word
constexpr int kBcmLines = 54;
constexpr uint32_t kFselInput = 0;
constexpr uint32_t kFselOutput = 1;
constexpr uint32_t kFselAlt0 = 4;
// BCM2711's pull codes.
constexpr uint32_t kPullNone2711 = 0;
constexpr uint32_t kPullUp2711 = 1;
constexpr uint32_t kEveryLinePulledDown2711 = 0xAAAAAAAA;

// RP1 (Pi 5), through /dev/gpiomem0: IO bank 0 from offset 0, the RIO block
// (outputs and output enables, each with set and clear aliases) at 0x10000
// and the pads at 0x20000; the library maps 0x30000 bytes.
constexpr size_t kRp1FileBytes = 0x30000;
constexpr size_t kRp1OutSet = 0x12000 / 4;
constexpr size_t kRp1OutClear = 0x13000 / 4;
constexpr size_t kRp1EnableSet = 0x12004 / 4;
constexpr size_t kRp1EnableClear = 0x13004 / 4;
constexpr size_t kRp1Pads = 0x20000 / 4; // line N's pad is the word after N others
constexpr int kRp1Lines = 28;
constexpr uint32_t kRp1LevelHigh = 0x00800000; // a line's status word
constexpr uint32_t kRp1LevelLow = 0x00400000;
constexpr uint32_t kRp1FuncselMask = 0x1F; // a line's control word
constexpr uint32_t kRp1FuncselGpio = 0x05; // SYS_RIO: a plain GPIO line
constexpr uint32_t kRp1FuncselNone = 0x1F;
constexpr uint32_t kRp1PadPullUp = 1u << 3;
constexpr uint32_t kRp1PadPullDown = 1u << 2;

uint32_t load(const uint32_t* at)
{
    return __atomic_load_n(at, __ATOMIC_ACQUIRE);
}
void store(uint32_t* at, uint32_t value)
{
    __atomic_store_n(at, value, __ATOMIC_RELEASE);
}
// Takes `mask`'s bits out of a set or clear register: true when any was set.
bool take(uint32_t* at, uint32_t mask)
{
    return (__atomic_fetch_and(at, ~mask, __ATOMIC_ACQ_REL) & mask) != 0;
}

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "registers: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(2);
}

} // namespace

bool piNamed(const std::string& name, Pi& pi)
{
    if (name == "pi3")
        pi = Pi::Pi3;
    else if (name == "pi4")
        pi = Pi::Pi4;
    else if (name == "pi5")
        pi = Pi::Pi5;
    else
        return false;
    return true;
}

Registers::Registers(Pi pi, const std::string& path)
    : pi_(pi), bytes_(pi == Pi::Pi5 ? kRp1FileBytes : kBcmFileBytes),
      resetFunction_(pi == Pi::Pi5 ? kRp1FuncselNone : kFselAlt0)
{
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(bytes_)) != 0)
        fail("cannot create " + path);
    map_ = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (map_ == MAP_FAILED)
        fail("cannot map " + path);
    gpio_ = static_cast<uint32_t*>(map_) + (pi == Pi::Pi5 ? 0 : kBcmGpioBlock / 4);

    for (int& pull : latchedPull_)
        pull = kPullNotSeen;
    if (pi == Pi::Pi5) {
        for (int bcm = 0; bcm < kRp1Lines; ++bcm) {
            gpio_[2 * static_cast<size_t>(bcm)] = kRp1LevelLow;
            gpio_[2 * static_cast<size_t>(bcm) + 1] = kRp1FuncselNone;
        }
        return;
    }
    uint32_t everyLineAlt0 = 0; // every line in alternate function 0
    for (int field = 0; field < 10; ++field)
        everyLineAlt0 |= resetFunction_ << (3 * field);
    for (size_t i = 0; i < 6; ++i)
        gpio_[kGpfsel0 + i] = everyLineAlt0;
    for (size_t i = 0; i < 4; ++i)
        gpio_[kGppuppdn0 + i] = kEveryLinePulledDown2711;
}

Registers::~Registers()
{
    munmap(map_, bytes_);
}

Registers::Writes Registers::takeOutputWrites(int bcm)
{
    const uint32_t line = 1u << bcm;
    const bool rp1 = pi_ == Pi::Pi5;
    // The set register before the clear one: a pulse begun and ended between
    // two looks then shows both, and one still high shows only the set.
    const bool set = take(&gpio_[rp1 ? kRp1OutSet : kGpset0], line);
    const bool cleared = take(&gpio_[rp1 ? kRp1OutClear : kGpclr0], line);
    return {set, cleared};
}

bool Registers::setPending(int bcm) const
{
    return (load(&gpio_[pi_ == Pi::Pi5 ? kRp1OutSet : kGpset0]) & (1u << bcm)) != 0;
}

void Registers::driveInput(int bcm, bool high)
{
    if (pi_ == Pi::Pi5) {
        store(&gpio_[2 * static_cast<size_t>(bcm)], high ? kRp1LevelHigh : kRp1LevelLow);
        return;
    }
    // Only this side writes the levels: a plain store of its own copy, as
    // quick as can be while the program reads the same word from another
    // processor.
    const uint32_t line = 1u << bcm;
    levels_ = high ? levels_ | line : levels_ & ~line;
    store(&gpio_[kGplev0], levels_);
}

void Registers::watchSetUp()
{
    if (pi_ == Pi::Pi5) {
        outputEnabled_ |= __atomic_exchange_n(&gpio_[kRp1EnableSet], 0u, __ATOMIC_ACQ_REL);
        outputEnabled_ &= ~__atomic_exchange_n(&gpio_[kRp1EnableClear], 0u, __ATOMIC_ACQ_REL);
        return;
    }
    if (pi_ != Pi::Pi3)
        return;
    // The library writes the pull, raises the line's clock, clears the pull
    // and lowers the clock, a few microseconds apart. The pull written since
    // the clock was last down is the one a raised clock latches, even when
    // both were not seen together. A control of 0 with the clock down is
    // the idle state as much as PUD_OFF written: a clock seen rising after
    // it, with no pull seen written, latches a pull not seen.
    const uint32_t control = load(&gpio_[kGppud]) & 3u;
    const uint32_t clock = load(&gpio_[kGppudclk0]);
    if (control != 0)
        pendingPull_ = static_cast<int>(control);
    else if (clock == 0)
        pendingPull_ = kPullNotSeen;
    const uint32_t rising = clock & ~lastPullClock_;
    for (int bcm = 0; bcm < 32; ++bcm) {
        if (rising & (1u << bcm))
            latchedPull_[bcm] = pendingPull_;
    }
    lastPullClock_ = clock;
}

uint32_t Registers::functionCode(int bcm) const
{
    if (pi_ == Pi::Pi5)
        return load(&gpio_[2 * bcm + 1]) & kRp1FuncselMask;
    return (load(&gpio_[kGpfsel0 + bcm / 10]) >> (3 * (bcm % 10))) & 7u;
}

Registers::Mode Registers::modeOf(int bcm) const
{
    const uint32_t code = functionCode(bcm);
    if (pi_ == Pi::Pi5) {
        if (code != kRp1FuncselGpio)
            return Mode::Other;
        return outputEnabled_ & (1u << bcm) ? Mode::Output : Mode::Input;
    }
    return code == kFselOutput ? Mode::Output : code == kFselInput ? Mode::Input : Mode::Other;
}

int Registers::pullOf(int bcm) const
{
    switch (pi_) {
    case Pi::Pi3:
        return latchedPull_[bcm];
    case Pi::Pi4: {
        const uint32_t code = (load(&gpio_[kGppuppdn0 + bcm / 16]) >> (2 * (bcm % 16))) & 3u;
        return code == kPullNone2711 ? PUD_OFF : code == kPullUp2711 ? PUD_UP : PUD_DOWN;
    }
    case Pi::Pi5: {
        const uint32_t pad = load(&gpio_[kRp1Pads + 1 + bcm]);
        return pad & kRp1PadPullUp ? PUD_UP : pad & kRp1PadPullDown ? PUD_DOWN : PUD_OFF;
    }
    }
    return PUD_OFF;
}

std::string Registers::setUpOf(int bcm)
{
    watchSetUp();
    switch (modeOf(bcm)) {
    case Mode::Output:
        return "output";
    case Mode::Other:
        return "function " + std::to_string(functionCode(bcm));
    case Mode::Input:
        break;
    }
    const int pull = pullOf(bcm);
    if (pull == kPullNotSeen)
        return "input, its pull not seen";
    return pull == PUD_UP ? "input with pull-up" : pull == PUD_DOWN ? "input with pull-down" : "input";
}

bool Registers::othersUntouched(int a, int b, int c) const
{
    const int lines = pi_ == Pi::Pi5 ? kRp1Lines : kBcmLines;
    for (int bcm = 0; bcm < lines; ++bcm) {
        if (bcm != a && bcm != b && bcm != c && functionCode(bcm) != resetFunction_)
            return false;
    }
    return true;
}

} // namespace emulated
