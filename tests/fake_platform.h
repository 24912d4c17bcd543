// A minimal recording platform: every driver request is kept as (code, bytes),
// reads answer from a scripted byte pattern. Tests of the hal encoding use it
// instead of the simulator so the bytes on the wire are checked directly.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "vek/host.h"

namespace vek::test {

struct Request {
    uint32_t code;
    std::vector<uint8_t> in;
    uint32_t outSize;
};

class FakePlatform {
public:
    FakePlatform() {
        p_.size = sizeof p_;
        p_.user = this;
        p_.driver_start = [](void* u) { return Self(u)->startStatus; };
        p_.driver_stop = [](void* u) { Self(u)->stops++; };
        p_.process_elevated = [](void* u) { return Self(u)->elevated ? 1 : 0; };
        p_.driver_request = [](void* u, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                               uint32_t* returned) { return Self(u)->OnRequest(code, in, inSize, out, outSize, returned); };
        p_.cpuid = [](void* u, uint32_t leaf, uint32_t regs[4]) {
            if (leaf == 1) { regs[0] = Self(u)->cpuidEax1; regs[3] = Self(u)->cpuidEdx1; }
        };
        p_.counter_frequency = [](void* u) { return Self(u)->frequency; };
        p_.counter_now = [](void* u) { return Self(u)->counter += Self(u)->counterStep; };
    }
    const vek_host_platform& platform() const { return p_; }
    vek_host_platform& platform() { return p_; }

    std::vector<Request> requests;
    uint32_t startStatus = 0;
    bool elevated = true;
    bool answer = true;          // requests succeed
    int32_t shortBy = 0;         // bytes fewer than asked that a read returns
    uint8_t fill = 0xA5;         // first byte of read data; following bytes count up
    uint32_t version = 0x05000100;
    uint32_t cpuidEax1 = 0;
    uint32_t cpuidEdx1 = 1u << 5; // MSRs present
    int64_t frequency = 10'000'000;
    int64_t counter = 0;
    int64_t counterStep = 1;
    int stops = 0;

private:
    static FakePlatform* Self(void* u) { return static_cast<FakePlatform*>(u); }
    int OnRequest(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t* returned) {
        const auto* b = static_cast<const uint8_t*>(in);
        requests.push_back({code, std::vector<uint8_t>(b, b + inSize), outSize});
        if (!answer) return 0;
        if (code == VEK_IOCTL_DRIVER_VERSION && outSize >= 4) {
            std::memcpy(out, &version, 4);
            *returned = 4;
            return 1;
        }
        auto* o = static_cast<uint8_t*>(out);
        for (uint32_t i = 0; i < outSize; ++i) o[i] = uint8_t(fill + i);
        *returned = outSize - uint32_t(shortBy);
        return 1;
    }
    vek_host_platform p_{};
};

} // namespace vek::test
