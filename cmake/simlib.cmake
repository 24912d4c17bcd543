# libvek-sim: the simulator's boards for applications (include/vek/sim.h).
# It links the shared libvek for the host seam and keeps the simulator and the
# platform table it builds boards from as hidden, private copies.
add_library(vek-sim SHARED ${PROJECT_SOURCE_DIR}/simlib/vek_sim.cpp)
target_compile_definitions(vek-sim PRIVATE VEK_BUILDING_SIM)
# PUBLIC vek: a program linking vek::sim (or -lvek-sim) calls VEK_* itself and
# needs libvek on its own link line.
target_link_libraries(vek-sim PUBLIC vek PRIVATE vek_sim)
target_link_options(vek-sim PRIVATE LINKER:--exclude-libs,ALL LINKER:--no-undefined)
target_include_directories(vek-sim PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)
set_target_properties(vek-sim PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION 5 INSTALL_RPATH "$ORIGIN")
