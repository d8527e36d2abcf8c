// A fresh simulated board for every test, with its calls recorded.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board.h"

class OnBoard : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::resetBoard();
        board.setCosts(kCosts);
        board.recordCalls();
    }

    // A pin read costs 1 ns and a clock read 999 ns: from a start stamp S,
    // poll k reads the pin at S + k µs - 1 ns and stamps S + k µs. An echo
    // that falls at S + b µs is thus last seen by the poll stamped S + b.
    static constexpr sim::Costs kCosts{1, 999};

    static std::string stamp(int64_t us) { return "clock() -> " + std::to_string(us); }

    sim::Board& board = sim::board();
};
