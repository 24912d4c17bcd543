// Test fixture: a simulated board from a platform row, attached and initialised.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <future>
#include <memory>
#include <thread>

#include "api/library.h"
#include "api/registry_override.h"
#include "os/os.h"
#include "platform/platform_table.h"
#include "platform/process.h"
#include "sim/attached.h"
#include "sim/board.h"
#include "vek/vek.h"

namespace vek::test {

// First row that satisfies pred.
inline const PlatformEntry& RowWhere(const std::function<bool(const PlatformEntry&)>& pred) {
    for (const PlatformEntry& r : kPlatformTable)
        if (pred(r)) return r;
    throw std::runtime_error("no such row");
}

inline const PlatformEntry& RowWithBoard(uint32_t boardId) {
    return RowWhere([=](const PlatformEntry& r) { return r.boardId == boardId; });
}

class SimBoardTest : public ::testing::Test {
protected:
    // The backends' pauses are process-wide (VEK_API_SetIOSleepTime): a test
    // that sets one leaves it as it found it for the tests after it.
    SimBoardTest() {
        for (size_t i = 0; i < std::size(kPausedKinds); ++i) pauses_[i] = *IoDelayOf(kPausedKinds[i]);
    }
    ~SimBoardTest() override {
        for (size_t i = 0; i < std::size(kPausedKinds); ++i) *IoDelayOf(kPausedKinds[i]) = pauses_[i];
    }
    // A simulated board of this row, attached; a board already in use is
    // detached (and the library uninitialised) before it goes.
    void Use(const PlatformEntry& row) {
        attached.reset();
        board.reset();
        board = std::make_unique<sim::Board>(row);
        attached = std::make_unique<sim::Attached>(*board);
        ASSERT_TRUE(attached->ok());
    }
    // A fresh machine for the same row (the old one is detached first).
    void Rebuild() {
        const PlatformEntry& row = board->row();
        attached.reset();
        board = std::make_unique<sim::Board>(row);
        attached = std::make_unique<sim::Attached>(*board);
    }
    VEK_RESULT Init() { return VEK_API_Init(); }
    void TearDown() override {
        // Every request the library sent must have been well formed.
        if (board) {
            EXPECT_EQ(machine().malformed_requests(), 0);
        }
        attached.reset(); // uninitialises and detaches
        board.reset();
        ClearOverrides();
    }
    sim::Machine& machine() { return board->machine(); }

    std::unique_ptr<sim::Board> board;
    std::unique_ptr<sim::Attached> attached;

private:
    static constexpr uint32_t kPausedKinds[] = {KIND_SIO1, KIND_SIO2, KIND_EC, KIND_CHIPSET, KIND_SIO5};
    int32_t pauses_[std::size(kPausedKinds)] = {};
};

// True when another thread can take ApiLock within five seconds: the export
// under test left it free.
inline bool LockIsFree() {
    auto taken = std::async(std::launch::async, [] {
        os::LockAcquire();
        os::LockRelease();
        return true;
    });
    return taken.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
}

} // namespace vek::test
