// A throw-away /proc + /sys tree for the Linux ownership and routing tests.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

namespace vek::test {

class FakeTree {
public:
    FakeTree() {
        static std::atomic<int> serial{0};
        root_ = std::filesystem::temp_directory_path() /
                ("vek_tree_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
        std::filesystem::create_directories(root_);
    }
    ~FakeTree() { std::filesystem::remove_all(root_); }
    FakeTree(const FakeTree&) = delete;
    FakeTree& operator=(const FakeTree&) = delete;

    std::string root() const { return root_.string(); }
    std::string Path(const std::string& rel) const { return (root_ / rel).string(); }

    void File(const std::string& rel, const std::string& text) {
        const auto p = root_ / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p) << text;
    }
    void Dir(const std::string& rel) { std::filesystem::create_directories(root_ / rel); }
    // A symlink as sysfs has them; its target need not exist.
    void Link(const std::string& rel, const std::string& target) {
        const auto p = root_ / rel;
        std::filesystem::create_directories(p.parent_path());
        std::filesystem::create_symlink(target, p);
    }
    // A PCI function bound to a driver.
    void PciDriver(const std::string& function, const std::string& driver) {
        Link("sys/bus/pci/devices/" + function + "/driver", "../../../bus/pci/drivers/" + driver);
        Dir("sys/bus/pci/drivers/" + driver + "/" + function);
    }
    // An i2c adapter: listed on the i2c bus and, when parent is given, under that PCI function.
    void Adapter(int bus, const std::string& name, const std::string& pciParent = "") {
        const std::string dir = "i2c-" + std::to_string(bus);
        File("sys/bus/i2c/devices/" + dir + "/name", name + "\n");
        if (!pciParent.empty()) File("sys/bus/pci/devices/" + pciParent + "/" + dir + "/name", name + "\n");
    }

private:
    std::filesystem::path root_;
};

} // namespace vek::test
