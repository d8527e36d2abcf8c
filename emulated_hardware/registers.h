// A board's GPIO registers in a plain file, which the real GPIO library maps
// as it would /dev/gpiomem (a Pi 3 or Pi 4, BCM283x and BCM2711) or
// /dev/gpiomem0 (a Pi 5, whose GPIO lines sit on its RP1 chip). This side
// plays the hardware: it takes the writes the library makes, drives input
// levels, and reads back how each line was set up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace emulated {

enum class Pi { Pi3, Pi4, Pi5 };

// Which board a name ("pi3", "pi4", "pi5") means; false for no board.
bool piNamed(const std::string& name, Pi& pi);

class Registers {
public:
    // Creates `path`, large enough for every block the library maps for
    // `pi`, with the registers as a board leaves them at reset (every other
    // line in an alternate function, to show which ones the program set),
    // and maps it.
    Registers(Pi pi, const std::string& path);
    ~Registers();
    Registers(const Registers&) = delete;
    Registers& operator=(const Registers&) = delete;
    Registers(Registers&&) = delete;
    Registers& operator=(Registers&&) = delete;

    // Writes to the set and clear registers are seen as they come; those
    // since the last look, for line `bcm`, are taken, as the hardware takes
    // them.
    struct Writes {
        bool set;
        bool cleared;
    };
    Writes takeOutputWrites(int bcm);
    // Whether line `bcm` has been set since the last look took its writes,
    // which this leaves for the next look.
    bool setPending(int bcm) const;

    void driveInput(int bcm, bool high);

    // Looks at what a moment only shows, as often as can be while the
    // program sets up: the Pi 3 latches a pull into a line while its pull
    // clock is raised, and the Pi 5 takes writes to its output enables'
    // set and clear aliases.
    void watchSetUp();

    // How line `bcm` is set up, as the registers record it: "output",
    // "input with pull-up", "input with pull-down", "input", or the
    // function it was left in. A Pi 3 shows a line's pull only for the
    // microseconds the library takes to latch it: a look may miss it, and
    // then it is "input, its pull not seen".
    std::string setUpOf(int bcm);
    // Whether every line but these three kept the function it had at reset.
    bool othersUntouched(int a, int b, int c) const;

private:
    enum class Mode { Input, Output, Other };
    // The line's function as the board codes it, and what that makes it.
    uint32_t functionCode(int bcm) const;
    Mode modeOf(int bcm) const;
    int pullOf(int bcm) const; // PUD_OFF, PUD_DOWN or PUD_UP

    Pi pi_;
    size_t bytes_;
    void* map_;
    uint32_t* gpio_; // the GPIO block (BCM) or IO bank 0 (RP1)
    uint32_t resetFunction_;
    uint32_t levels_ = 0; // what the BCM's level register shows
    // The Pi 3's latched pulls, line by line, and what its pull registers
    // showed at the last look.
    static constexpr int kPullNotSeen = -1;
    int latchedPull_[32];
    int pendingPull_ = kPullNotSeen;
    uint32_t lastPullClock_ = 0;
    // The Pi 5's output enables, gathered from the writes to their aliases.
    uint32_t outputEnabled_ = 0;
};

} // namespace emulated
