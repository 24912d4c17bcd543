#include "os/linux/smbus_dev.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "os/linux/sysfs.h"

namespace vek::os {
namespace {

int SystemIoctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }
SmbusIoctl g_ioctl = SystemIoctl;

struct Handle {
    int fd = -1;
    unsigned long funcs = 0;
    int address = -1;      // the address the fd's client is set to
    bool forced = false;   // set with I2C_SLAVE_FORCE over a kernel client
    bool sharedReads = false;
};

bool HasCapability(int cap) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    return (data[cap / 32].effective >> (cap % 32)) & 1u;
}

// i2c-dev is a module on most distributions and nothing loads it on its own.
// Only a process that may load modules tries, with an empty environment.
void LoadI2cDev() {
    if (!HasCapability(CAP_SYS_MODULE)) return;
    for (const char* modprobe : {"/sbin/modprobe", "/usr/sbin/modprobe"}) {
        if (access(modprobe, X_OK) != 0) continue;
        char* const argv[] = {const_cast<char*>(modprobe), const_cast<char*>("-q"), const_cast<char*>("i2c-dev"),
                              nullptr};
        char* const envp[] = {nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, modprobe, nullptr, nullptr, argv, envp) != 0) return;
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return;
    }
}

uint32_t StatusOf(int error) {
    switch (error) {
    case ENXIO: return VEK_HOST_SMBUS_NO_ACK;
    case ETIMEDOUT:
    case EBUSY:
    case EAGAIN: return VEK_HOST_SMBUS_TIMEOUT;
    case EOPNOTSUPP: return VEK_HOST_SMBUS_UNSUPPORTED;
    default: return VEK_HOST_SMBUS_FAILED;
    }
}

// The functionality bit the adapter must offer for the transfer, and the
// kernel's transaction size.
bool Describe(const vek_host_smbus_transfer& t, unsigned long& func, int& size) {
    const bool read = t.read == 1;
    switch (t.kind) {
    case VEK_HOST_SMBUS_QUICK: func = I2C_FUNC_SMBUS_QUICK; size = I2C_SMBUS_QUICK; return true;
    case VEK_HOST_SMBUS_BYTE:
        func = read ? I2C_FUNC_SMBUS_READ_BYTE : I2C_FUNC_SMBUS_WRITE_BYTE;
        size = I2C_SMBUS_BYTE;
        return true;
    case VEK_HOST_SMBUS_BYTE_DATA:
        func = read ? I2C_FUNC_SMBUS_READ_BYTE_DATA : I2C_FUNC_SMBUS_WRITE_BYTE_DATA;
        size = I2C_SMBUS_BYTE_DATA;
        return true;
    case VEK_HOST_SMBUS_WORD_DATA:
        func = read ? I2C_FUNC_SMBUS_READ_WORD_DATA : I2C_FUNC_SMBUS_WRITE_WORD_DATA;
        size = I2C_SMBUS_WORD_DATA;
        return true;
    case VEK_HOST_SMBUS_PROC_CALL: func = I2C_FUNC_SMBUS_PROC_CALL; size = I2C_SMBUS_PROC_CALL; return true;
    case VEK_HOST_SMBUS_BLOCK_DATA:
        func = read ? I2C_FUNC_SMBUS_READ_BLOCK_DATA : I2C_FUNC_SMBUS_WRITE_BLOCK_DATA;
        size = I2C_SMBUS_BLOCK_DATA;
        return true;
    case VEK_HOST_SMBUS_I2C_BLOCK:
        func = read ? I2C_FUNC_SMBUS_READ_I2C_BLOCK : I2C_FUNC_SMBUS_WRITE_I2C_BLOCK;
        size = I2C_SMBUS_I2C_BLOCK_DATA;
        return true;
    default: return false;
    }
}

// Points the fd's client at the address. A kernel client on it answers EBUSY:
// writes are refused, reads go through with the force variant when allowed.
uint32_t Select(Handle& h, uint8_t address7, bool readOnly) {
    if (h.address == address7 && (!h.forced || readOnly)) return VEK_HOST_SMBUS_OK;
    if (g_ioctl(h.fd, I2C_SLAVE, reinterpret_cast<void*>(uintptr_t(address7))) == 0) {
        h.address = address7;
        h.forced = false;
        return VEK_HOST_SMBUS_OK;
    }
    if (errno != EBUSY) return StatusOf(errno);
    if (!readOnly || !h.sharedReads) return VEK_HOST_SMBUS_REFUSED;
    if (g_ioctl(h.fd, I2C_SLAVE_FORCE, reinterpret_cast<void*>(uintptr_t(address7))) != 0) return StatusOf(errno);
    h.address = address7;
    h.forced = true;
    return VEK_HOST_SMBUS_OK;
}

} // namespace

void SetSmbusIoctl(SmbusIoctl fn) { g_ioctl = fn ? fn : SystemIoctl; }

uint32_t SmbusDevOpen(const OwnershipProbe& probe, uint32_t pciAddress, uint16_t ioBase, void** handle) {
    if (handle == nullptr) return 1;
    const int bus = probe.SmbusAdapter(pciAddress, ioBase);
    if (bus < 0) return 1;
    const std::string node = probe.Path("/dev/i2c-" + std::to_string(bus));
    int fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && probe.Path("").empty() && !probe.ModuleLoaded("i2c_dev")) {
        LoadI2cDev();
        fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
    }
    if (fd < 0) return 2;
    auto* h = new Handle;
    h->fd = fd;
    if (g_ioctl(fd, I2C_FUNCS, &h->funcs) != 0) h->funcs = 0;
    const char* shared = secure_getenv("VEK_SMBUS_SHARED_READS");
    h->sharedReads = shared != nullptr && std::strcmp(shared, "1") == 0;
    *handle = h;
    return 0;
}

uint32_t SmbusDevTransfer(void* handle, uint8_t address7, vek_host_smbus_transfer* t) {
    if (handle == nullptr || t == nullptr || address7 > 0x7F) return VEK_HOST_SMBUS_FAILED;
    Handle& h = *static_cast<Handle*>(handle);
    unsigned long func = 0;
    int size = 0;
    if (!Describe(*t, func, size) || (h.funcs & func) == 0) return VEK_HOST_SMBUS_UNSUPPORTED;
    const bool blockKind = t->kind == VEK_HOST_SMBUS_BLOCK_DATA || t->kind == VEK_HOST_SMBUS_I2C_BLOCK;
    if (blockKind && (t->length > 32 || (t->length == 0 && !(t->read && t->kind == VEK_HOST_SMBUS_BLOCK_DATA))))
        return VEK_HOST_SMBUS_FAILED;

    // A process call writes; a quick "read" only addresses the part.
    const bool readOnly = t->read == 1 && t->kind != VEK_HOST_SMBUS_PROC_CALL;
    if (const uint32_t s = Select(h, address7, readOnly); s != VEK_HOST_SMBUS_OK) return s;

    i2c_smbus_data data{};
    i2c_smbus_ioctl_data args{};
    args.read_write = t->kind == VEK_HOST_SMBUS_PROC_CALL ? I2C_SMBUS_WRITE
                      : t->read == 1                    ? I2C_SMBUS_READ
                                                        : I2C_SMBUS_WRITE;
    args.command = t->command;
    args.size = uint32_t(size);
    args.data = &data;
    switch (t->kind) {
    case VEK_HOST_SMBUS_QUICK: args.data = nullptr; break;
    case VEK_HOST_SMBUS_BYTE:
        args.data = nullptr; // send byte carries its byte as the command
        if (t->read == 1) args.data = &data;
        break;
    case VEK_HOST_SMBUS_BYTE_DATA: data.byte = uint8_t(t->word); break;
    case VEK_HOST_SMBUS_WORD_DATA:
    case VEK_HOST_SMBUS_PROC_CALL: data.word = t->word; break;
    default:
        data.block[0] = t->length;
        if (t->read != 1) std::memcpy(data.block + 1, t->block, t->length);
        break;
    }
    if (g_ioctl(h.fd, I2C_SMBUS, &args) != 0) return StatusOf(errno);

    switch (t->kind) {
    case VEK_HOST_SMBUS_BYTE:
    case VEK_HOST_SMBUS_BYTE_DATA:
        if (t->read == 1) t->word = data.byte;
        break;
    case VEK_HOST_SMBUS_WORD_DATA:
    case VEK_HOST_SMBUS_PROC_CALL: t->word = data.word; break;
    case VEK_HOST_SMBUS_BLOCK_DATA:
    case VEK_HOST_SMBUS_I2C_BLOCK:
        if (t->read == 1) {
            if (data.block[0] > 32) return VEK_HOST_SMBUS_FAILED;
            t->length = data.block[0];
            std::memcpy(t->block, data.block + 1, t->length);
        }
        break;
    default: break;
    }
    return VEK_HOST_SMBUS_OK;
}

void SmbusDevClose(void* handle) {
    auto* h = static_cast<Handle*>(handle);
    if (h == nullptr) return;
    if (h->fd >= 0) close(h->fd);
    delete h;
}

} // namespace vek::os
