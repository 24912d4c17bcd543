// The backlight calls on a panel board whose display answers through the
// operating system's brightness service. The simulator has no panel, so this
// board is a host platform of its own: idle ports, the panel PC's product name,
// and a display holding its brightness in percent.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "eapi/EApi.h"
#include "platform/platform_table.h"
#include "vek/host.h"
#include "vek/vek.h"

namespace {

struct Panel {
    std::string product;
    uint8_t percent = 40;
    int screenOn = 1;
    int64_t clock = 0;
};
Panel g_panel;

uint32_t Start(void*) { return VEK_HOST_DRIVER_READY; }
int Elevated(void*) { return 1; }
int Request(void*, uint32_t code, const void*, uint32_t in_size, void* out, uint32_t out_size, uint32_t* returned) {
    *returned = 0;
    switch (code) {
    case VEK_IOCTL_DRIVER_VERSION: {
        const uint32_t v = 0x01000000;
        std::memcpy(out, &v, 4);
        *returned = 4;
        return 1;
    }
    case VEK_IOCTL_READ_MSR: case VEK_IOCTL_READ_PORT_BYTE: case VEK_IOCTL_READ_PORT_WORD:
    case VEK_IOCTL_READ_PORT_DWORD: case VEK_IOCTL_READ_PCI: case VEK_IOCTL_READ_MEMORY:
        std::memset(out, 0, out_size);
        *returned = out_size;
        return 1;
    default: return in_size > 0;
    }
}
uint32_t Identity(void*, uint32_t item, char* out, uint32_t size) {
    std::snprintf(out, size, "%s", item == VEK_HOST_ID_PRODUCT ? g_panel.product.c_str() : "");
    return 0;
}
int64_t Frequency(void*) { return 1000000; }
int64_t Now(void*) { return g_panel.clock; }
void Delay(void*, int64_t us) { g_panel.clock += us; }
uint32_t BrightnessRead(void*, uint8_t* level) {
    *level = g_panel.percent;
    return 0;
}
uint32_t BrightnessSet(void*, uint8_t level) {
    g_panel.percent = level;
    return 0;
}
uint32_t ScreenSet(void*, uint8_t on) {
    g_panel.screenOn = on;
    return 0;
}

class EApiBacklightTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("VEK_SIM_BOARD");
        for (const vek::PlatformEntry& row : vek::kPlatformTable)
            if (row.boardId == 135 && g_panel.product.empty()) g_panel.product = row.name;
        ASSERT_FALSE(g_panel.product.empty());
        vek_host_platform p;
        std::memset(&p, 0, sizeof p);
        p.size = sizeof p;
        p.driver_start = Start;
        p.process_elevated = Elevated;
        p.driver_request = Request;
        p.identity = Identity;
        p.counter_frequency = Frequency;
        p.counter_now = Now;
        p.delay_us = Delay;
        p.brightness_read = BrightnessRead;
        p.brightness_set = BrightnessSet;
        p.screen_set = ScreenSet;
        ASSERT_EQ(vek_host_attach(&p), 0u);
        ASSERT_EQ(EApiLibInitialize(), EAPI_STATUS_SUCCESS);
    }
    void TearDown() override {
        EApiLibUnInitialize();
        vek_host_detach();
    }
};

TEST_F(EApiBacklightTest, BrightnessScaleRoundsToTheNearestStep) {
    // EAPI 0..255 onto the display's percent, and what reads back.
    const struct {
        uint32_t eapi;
        uint8_t percent;
        uint32_t back;
    } levels[] = {{0, 0, 0}, {255, 100, 255}, {128, 50, 128}, {1, 0, 0}, {2, 1, 3}, {254, 100, 255}, {127, 50, 128}};
    for (const auto& l : levels) {
        ASSERT_EQ(EApiVgaSetBacklightBrightness(EAPI_ID_BACKLIGHT_1, l.eapi), EAPI_STATUS_SUCCESS) << l.eapi;
        EXPECT_EQ(g_panel.percent, l.percent) << l.eapi;
        uint32_t back = 0;
        ASSERT_EQ(EApiVgaGetBacklightBrightness(EAPI_ID_BACKLIGHT_1, &back), EAPI_STATUS_SUCCESS);
        EXPECT_EQ(back, l.back) << l.eapi;
    }
    g_panel.percent = 130; // a display that reports past full scale reads as brightest
    uint32_t back = 0;
    ASSERT_EQ(EApiVgaGetBacklightBrightness(EAPI_ID_BACKLIGHT_1, &back), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(back, 255u);
}

TEST_F(EApiBacklightTest, EnableAndArguments) {
    uint32_t enable = 7;
    ASSERT_EQ(EApiVgaGetBacklightEnable(EAPI_ID_BACKLIGHT_1, &enable), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(enable, EAPI_BACKLIGHT_SET_ON);
    ASSERT_EQ(EApiVgaSetBacklightEnable(EAPI_ID_BACKLIGHT_1, EAPI_BACKLIGHT_SET_OFF), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(g_panel.screenOn, 0);
    ASSERT_EQ(EApiVgaGetBacklightEnable(EAPI_ID_BACKLIGHT_1, &enable), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(enable, EAPI_BACKLIGHT_SET_OFF);
    ASSERT_EQ(EApiVgaSetBacklightEnable(EAPI_ID_BACKLIGHT_1, EAPI_BACKLIGHT_SET_ON), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(g_panel.screenOn, 1);
    const struct {
        const char* what;
        EApiStatus_t status, expected;
    } cases[] = {
        {"brightness 256", EApiVgaSetBacklightBrightness(EAPI_ID_BACKLIGHT_1, 256), EAPI_STATUS_INVALID_PARAMETER},
        {"enable 1", EApiVgaSetBacklightEnable(EAPI_ID_BACKLIGHT_1, 1), EAPI_STATUS_INVALID_PARAMETER},
        {"null brightness", EApiVgaGetBacklightBrightness(EAPI_ID_BACKLIGHT_1, nullptr), EAPI_STATUS_INVALID_PARAMETER},
        {"null enable", EApiVgaGetBacklightEnable(EAPI_ID_BACKLIGHT_1, nullptr), EAPI_STATUS_INVALID_PARAMETER},
        {"second display", EApiVgaSetBacklightBrightness(EAPI_ID_BACKLIGHT_2, 10), EAPI_STATUS_UNSUPPORTED},
        {"third display", EApiVgaGetBacklightEnable(EAPI_ID_BACKLIGHT_3, &enable), EAPI_STATUS_UNSUPPORTED},
    };
    for (const auto& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
}

} // namespace
