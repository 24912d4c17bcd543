// The SMBus exports when the platform says a kernel driver owns the
// controller: every transaction goes to the platform's SMBus service, none
// touches the controller's registers, and the service's statuses come back as
// the exports' result codes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "sim/board.h"
#include "sim_fixture.h"
#include "vek/host.h"
#include "vek/vek.h"

using namespace vek;
using namespace vek::test;

namespace {

struct Sent {
    uint8_t address7;
    vek_host_smbus_transfer t;
};

// The platform's side: who owns the controller and a service that logs transfers.
struct Service {
    uint32_t owner = VEK_HOST_OWNER_KERNEL;
    uint32_t openResult = 0;
    uint32_t status = VEK_HOST_SMBUS_OK;
    uint8_t blockLength = 5;
    int ownerQueries = 0, opens = 0, closes = 0;
    uint32_t pci = 0, location = 0;
    std::vector<Sent> sent;
};
Service* g_service = nullptr;

class KernelRoute : public ::testing::Test {
protected:
    void SetUp() override { g_service = &service; }
    void TearDown() override {
        VEK_API_Uninit();
        vek_host_detach();
        g_service = nullptr;
    }
    // A board on an ICH-type chipset, the platform extended with the service.
    void Start(uint32_t chipsetId = 8) {
        board = std::make_unique<sim::Board>(RowWhere([=](const PlatformEntry& r) {
            return r.chipsetId == chipsetId && r.chipKind != 6;
        }));
        vek_host_platform p = board->machine().platform();
        p.resource_owner = [](void*, uint32_t resource, uint32_t a, uint32_t b, char* driver, uint32_t size) {
            if (resource != VEK_HOST_RES_SMBUS) return VEK_HOST_OWNER_NONE; // the board's other chips ask too
            Service& s = *g_service;
            ++s.ownerQueries;
            s.pci = a;
            s.location = b;
            std::snprintf(driver, size, "%s", s.owner == VEK_HOST_OWNER_KERNEL ? "i801_smbus" : "");
            return s.owner;
        };
        p.smbus_open = [](void*, uint32_t, uint16_t, void** handle) {
            ++g_service->opens;
            *handle = g_service;
            return g_service->openResult;
        };
        p.smbus_transfer = [](void*, void* handle, uint8_t address7, vek_host_smbus_transfer* t) {
            Service& s = *static_cast<Service*>(handle);
            s.sent.push_back({address7, *t});
            if (s.status != VEK_HOST_SMBUS_OK) return s.status;
            if (t->read == 1 && t->kind != VEK_HOST_SMBUS_I2C_BLOCK) t->word = uint16_t(0xA500 | s.sent.size());
            if (t->kind == VEK_HOST_SMBUS_PROC_CALL) t->word = 0x4321;
            if (t->read == 1 && t->kind == VEK_HOST_SMBUS_BLOCK_DATA) t->length = s.blockLength;
            if (t->read == 1 && (t->kind == VEK_HOST_SMBUS_BLOCK_DATA || t->kind == VEK_HOST_SMBUS_I2C_BLOCK))
                for (int i = 0; i < 32; ++i) t->block[i] = uint8_t(0xC0 + i);
            return VEK_HOST_SMBUS_OK;
        };
        p.smbus_close = [](void*, void*) { ++g_service->closes; };
        ASSERT_EQ(vek_host_attach(&p), 0u);
        ASSERT_EQ(VEK_API_Init(), VEK_OK);
        board->machine().ClearTrace();
    }
    int PortAccesses() {
        int n = 0;
        for (const sim::TraceEntry& e : board->machine().trace())
            n += e.kind == sim::Access::PortRead || e.kind == sim::Access::PortWrite;
        return n;
    }

    Service service;
    std::unique_ptr<sim::Board> board;
};

TEST_F(KernelRoute, OwnedControllerGoesThroughTheServiceOnly) {
    Start();
    EXPECT_EQ(service.opens, 1);
    EXPECT_EQ(service.pci & 0xF8, 31u << 3); // the located controller's function
    EXPECT_EQ(service.location & 0xFFFF, board->smbus().ioBase);
    EXPECT_EQ(service.location >> 31, 0u);   // the function is the controller itself

    uint8_t b = 0;
    ASSERT_EQ(VEK_SMBus_ByteData(1, 0xA0, 0x10, &b), VEK_OK);
    EXPECT_EQ(b, 0x01);
    ASSERT_EQ(service.sent.size(), 1u);
    EXPECT_EQ(service.sent[0].address7, 0x50);
    EXPECT_EQ(service.sent[0].t.kind, VEK_HOST_SMBUS_BYTE_DATA);
    EXPECT_EQ(service.sent[0].t.command, 0x10);
    b = 0x77;
    ASSERT_EQ(VEK_I2C_ByteData(0, 0, 0x51, 0x20, &b), VEK_OK);
    EXPECT_EQ(service.sent[1].address7, 0x51);
    EXPECT_EQ(service.sent[1].t.word, 0x77);
    uint32_t w = 0;
    ASSERT_EQ(VEK_SMBus_ProcessCall(0xA0, 0x01, &w, &w), VEK_OK);
    EXPECT_EQ(w, 0x4321u);
    EXPECT_EQ(PortAccesses(), 0);

    // Uninit closes the service once; the next Init asks again.
    VEK_API_Uninit();
    EXPECT_EQ(service.closes, 1);
    ASSERT_EQ(VEK_API_Init(), VEK_OK);
    EXPECT_EQ(service.opens, 2);
}

TEST_F(KernelRoute, FreeControllerIsDrivenDirectly) {
    service.owner = VEK_HOST_OWNER_NONE;
    Start();
    EXPECT_EQ(service.ownerQueries, 1);
    EXPECT_EQ(service.opens, 0);
    uint8_t b = 0;
    VEK_SMBus_ByteData(1, 0xA0, 0x10, &b);
    EXPECT_TRUE(service.sent.empty());
    EXPECT_GT(PortAccesses(), 0);
}

TEST_F(KernelRoute, OwnedWithoutAServiceRefusesEverything) {
    for (uint32_t owner : {VEK_HOST_OWNER_KERNEL, VEK_HOST_OWNER_HIDDEN}) {
        SCOPED_TRACE(owner);
        TearDown();
        SetUp();
        service = Service{};
        service.owner = owner;
        service.openResult = 2;
        Start();
        uint8_t b = 0, buf[40] = {};
        uint32_t w = 0;
        int32_t n = 4;
        EXPECT_EQ(VEK_SMBus_ByteData(1, 0xA0, 0, &b), VEK_ERR_UNSUPPORTED);
        EXPECT_EQ(VEK_SMBus_WordData(0, 0xA0, 0, &w), VEK_ERR_UNSUPPORTED);
        EXPECT_EQ(VEK_SMBus_Block(1, 0xA0, 0, 0, buf), VEK_ERR_UNSUPPORTED);
        EXPECT_EQ(VEK_SMBus_Write_EEPROM(0xA0, 0, 2, buf), VEK_ERR_UNSUPPORTED);
        EXPECT_EQ(VEK_I2C_SMBusBlock(0, 0, 0x50, 0, &n, buf), VEK_ERR_UNSUPPORTED);
        EXPECT_EQ(VEK_SMBus_Available(), VEK_OK); // still located: it is there, only not ours
        EXPECT_TRUE(service.sent.empty());
        EXPECT_EQ(PortAccesses(), 0);
    }
}

TEST_F(KernelRoute, ServiceStatusesBecomeResultCodes) {
    Start();
    uint8_t b = 0, buf[40] = {};
    uint32_t w = 0;
    struct Op {
        const char* what;
        std::function<uint32_t()> call;
        uint32_t onFailure; // what the register path answers when the bus fails
    };
    const Op ops[] = {
        {"byte-data read", [&] { return VEK_SMBus_ByteData(1, 0xA0, 0, &b); }, VEK_ERR_READ},
        {"byte-data write", [&] { return VEK_SMBus_ByteData(0, 0xA0, 0, &b); }, VEK_ERR_WRITE},
        {"word-data read", [&] { return VEK_SMBus_WordData(1, 0xA0, 0, &w); }, VEK_ERR_READ},
        {"word-data write", [&] { return VEK_SMBus_WordData(0, 0xA0, 0, &w); }, VEK_ERR_WRITE},
        {"process call", [&] { return VEK_SMBus_ProcessCall(0xA0, 0, &w, &w); }, VEK_ERR_READ},
        {"block read", [&] { return VEK_SMBus_Block(1, 0xA0, 0, 0, buf); }, VEK_ERR_READ},
        {"block write", [&] { return VEK_SMBus_Block(0, 0xA0, 0, 3, buf); }, VEK_ERR_WRITE},
        {"receive byte", [&] { return VEK_SMBus_SendReceive(1, 0xA0, &b); }, VEK_ERR_READ},
        {"send byte", [&] { return VEK_SMBus_SendReceive(0, 0xA0, &b); }, VEK_ERR_WRITE},
        {"quick", [&] { return VEK_I2C_Quick(0, 0, 0x50); }, VEK_ERR_WRITE},
        {"I2C block read", [&] { return VEK_I2C_SMBusI2CBlock(1, 0, 0x50, 0, 4, buf); }, VEK_ERR_READ},
        {"I2C block write", [&] { return VEK_I2C_SMBusI2CBlock(0, 0, 0x50, 0, 4, buf); }, VEK_ERR_WRITE},
        {"EEPROM read", [&] { return VEK_SMBus_Read_EEPROM(0xA0, 0, 2, buf); }, VEK_ERR_READ},
        {"EEPROM write", [&] { return VEK_SMBus_Write_EEPROM(0xA0, 0, 2, buf); }, VEK_ERR_READ},
    };
    const struct { uint32_t status; bool failure; } statuses[] = {
        {VEK_HOST_SMBUS_NO_ACK, true}, {VEK_HOST_SMBUS_TIMEOUT, true},      {VEK_HOST_SMBUS_FAILED, true},
        {VEK_HOST_SMBUS_REFUSED, false}, {VEK_HOST_SMBUS_UNSUPPORTED, false},
    };
    for (const auto& s : statuses) {
        service.status = s.status;
        for (const Op& op : ops) {
            SCOPED_TRACE(std::string(op.what) + " status " + std::to_string(s.status));
            const size_t before = service.sent.size();
            EXPECT_EQ(op.call(), s.failure ? op.onFailure : VEK_ERR_UNSUPPORTED);
            EXPECT_EQ(service.sent.size(), before + 1); // a failed first step stops the sequence
        }
    }
    EXPECT_EQ(PortAccesses(), 0);
}

TEST_F(KernelRoute, EepromSequencesAsSmbusTransfers) {
    Start();
    uint8_t buf[3] = {};
    ASSERT_EQ(VEK_SMBus_Read_EEPROM(0xA8, 0x01FF, 3, buf), VEK_OK);
    ASSERT_EQ(service.sent.size(), 6u);
    const uint16_t offsets[] = {0x01FF, 0x0200, 0x0201};
    for (int i = 0; i < 3; ++i) {
        const Sent& set = service.sent[2 * i];
        const Sent& get = service.sent[2 * i + 1];
        EXPECT_EQ(set.address7, 0x54);
        EXPECT_EQ(set.t.kind, VEK_HOST_SMBUS_BYTE_DATA);
        EXPECT_EQ(set.t.read, 0);
        EXPECT_EQ(set.t.command, offsets[i] >> 8);
        EXPECT_EQ(set.t.word, offsets[i] & 0xFF);
        EXPECT_EQ(get.t.kind, VEK_HOST_SMBUS_BYTE);
        EXPECT_EQ(get.t.read, 1);
        EXPECT_EQ(buf[i], uint8_t(2 * i + 2)); // the service answers its own transfer count
    }
    service.sent.clear();
    const uint8_t data[2] = {0x11, 0x22};
    ASSERT_EQ(VEK_SMBus_Write_EEPROM(0xA8, 0x60FF, 2, const_cast<uint8_t*>(data)), VEK_OK);
    ASSERT_EQ(service.sent.size(), 2u);
    EXPECT_EQ(service.sent[0].t.kind, VEK_HOST_SMBUS_WORD_DATA);
    EXPECT_EQ(service.sent[0].t.command, 0x60);
    EXPECT_EQ(service.sent[0].t.word, 0x11FF); // offset low, then the data byte
    EXPECT_EQ(service.sent[1].t.command, 0x61);
    EXPECT_EQ(service.sent[1].t.word, 0x2200);
}

TEST_F(KernelRoute, BlockLayoutsMatchTheRegisterPath) {
    Start();
    uint8_t buf[40];
    std::memset(buf, 0xEE, sizeof buf);
    ASSERT_EQ(VEK_SMBus_Block(1, 0xA0, 0x40, 0, buf), VEK_OK);
    EXPECT_EQ(buf[0], 5);
    EXPECT_EQ(buf[1], 0xC0);
    EXPECT_EQ(buf[5], 0xC4);
    EXPECT_EQ(buf[6], 0xEE);

    int32_t n = 0;
    std::memset(buf, 0xEE, sizeof buf);
    ASSERT_EQ(VEK_I2C_SMBusBlock(1, 0, 0x50, 0x40, &n, buf), VEK_OK);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(buf[0], 0xC0);
    EXPECT_EQ(buf[5], 0xEE);

    std::memset(buf, 0xEE, sizeof buf);
    ASSERT_EQ(VEK_I2C_SMBusI2CBlock(1, 0, 0x50, 0x80, 2, buf), VEK_OK);
    EXPECT_EQ(service.sent.back().t.length, 2);
    EXPECT_EQ(buf[1], 0xC1);
    EXPECT_EQ(buf[2], 0xEE);

    const size_t before = service.sent.size();
    EXPECT_EQ(VEK_SMBus_Block(0, 0xA0, 0x40, 33, buf), VEK_ERR_ARGUMENT);
    EXPECT_EQ(service.sent.size(), before);
}

TEST_F(KernelRoute, FlavourRefusalsComeBeforeTheService) {
    Start(CHIPSET_FCH);
    uint8_t buf[4] = {};
    uint32_t w = 0;
    EXPECT_EQ(VEK_SMBus_ProcessCall(0xA0, 0, &w, &w), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_SMBus_Read_EEPROM(0xA0, 0, 1, buf), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_I2C_SMBusI2CBlock(1, 0, 0x50, 0, 2, buf), VEK_ERR_UNSUPPORTED);
    EXPECT_TRUE(service.sent.empty());
    EXPECT_EQ(service.location & 0xFFFF, board->smbus().ioBase);
}

} // namespace
