#include "os/linux/kernel_speaker.h"

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "os/linux/sysfs.h"

namespace vek::os {
namespace {

std::string g_inputClass = "/sys/class/input";
std::string g_devices = "/dev/input";

std::mutex g_lock;
int g_fd = -1; // open while a tone sounds

constexpr uint32_t kDone = 0, kNoDevice = 1, kRefused = 2;

bool CanSoundTones(const std::string& event) {
    // The capability mask is hexadecimal, most significant word first; SND_TONE is bit 2.
    const std::string mask = sysfs::FirstLine(g_inputClass + "/" + event + "/device/capabilities/snd");
    const size_t lastWord = mask.find_last_of(' ');
    const std::string low = mask.substr(lastWord == std::string::npos ? 0 : lastWord + 1);
    return !low.empty() && (std::strtoul(low.c_str(), nullptr, 16) >> SND_TONE & 1) != 0;
}

bool Send(int fd, uint32_t hz) {
    input_event e{};
    e.type = EV_SND;
    e.code = SND_TONE;
    e.value = int32_t(hz);
    return ::write(fd, &e, sizeof e) == ssize_t(sizeof e);
}

} // namespace

void SetSpeakerRoots(const std::string& inputClass, const std::string& devices) {
    g_inputClass = inputClass;
    g_devices = devices;
}

std::string SpeakerEventNode() {
    for (const std::string& entry : sysfs::Entries(g_inputClass))
        if (entry.rfind("event", 0) == 0 && CanSoundTones(entry)) return g_devices + "/" + entry;
    return {};
}

uint32_t KernelTone(uint32_t hz) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_fd < 0) {
        if (hz == 0) return kDone; // nothing sounds
        const std::string node = SpeakerEventNode();
        if (node.empty()) return kNoDevice;
        g_fd = ::open(node.c_str(), O_WRONLY | O_CLOEXEC);
        if (g_fd < 0) return kRefused;
    }
    const bool sent = Send(g_fd, hz);
    if (hz == 0 || !sent) {
        ::close(g_fd);
        g_fd = -1;
    }
    return sent ? kDone : kRefused;
}

} // namespace vek::os
