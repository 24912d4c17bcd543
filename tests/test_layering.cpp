// Include arrows between the library's rooms: the layers below the exported
// frame (backends, SMBus, hal, platform, os) and the simulator never include
// anything from api/, so process-wide state and the routine tables cannot
// grow a dependency on the frame that uses them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

TEST(Layering, NothingBelowTheFrameIncludesApi) {
    const fs::path root = VEK_SOURCE_DIR;
    std::vector<std::string> arrows;
    for (const char* room : {"backends", "smbus", "hal", "platform", "os", "sim"}) {
        ASSERT_TRUE(fs::is_directory(root / room)) << room;
        for (const auto& entry : fs::recursive_directory_iterator(root / room)) {
            const std::string ext = entry.path().extension().string();
            if (ext != ".h" && ext != ".cpp" && ext != ".c") continue;
            std::ifstream in(entry.path());
            std::string line;
            while (std::getline(in, line))
                if (line.rfind("#include \"api/", 0) == 0)
                    arrows.push_back(fs::relative(entry.path(), root).string() + ": " + line);
        }
    }
    std::string all;
    for (const std::string& a : arrows) all += "\n  " + a;
    EXPECT_TRUE(arrows.empty()) << "includes into api/:" << all;
}

} // namespace
