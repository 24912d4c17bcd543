# What `cmake --install` lays out: headers, libvek.so.5 (and libvek-sim.so.5)
# with their links, vekctl with its man page and bash completion, pkg-config
# files and the CMake package (find_package(vek) gives vek::vek and vek::sim).
# Windows builds install the SDK folder instead (cmake/windows_sdk.cmake).
include(GNUInstallDirs)
set(VEK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vek)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/windows_sdk.cmake)
  return()
endif()

install(TARGETS vek EXPORT vekTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development)
install(TARGETS vek-sim EXPORT vekTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/vek/vek.h include/vek/host.h include/vek/sim.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vek)
install(TARGETS vekctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/vekctl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/vekctl.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME vekctl)
# Non-root use: the vek group's setup script and its udev rule for /dev/i2c-*.
install(FILES packaging/60-vek-i2c.rules DESTINATION ${CMAKE_INSTALL_DATADIR}/vek)
install(PROGRAMS packaging/vek-privileges.sh DESTINATION ${CMAKE_INSTALL_DATADIR}/vek)
# systemd units: the metrics server and the watchdog feeder, run from the
# installed vekctl. Written at install time, so --prefix and DESTDIR hold.
foreach(unit vek-metrics.service vek-watchdog.service)
  install(CODE "
    set(VEK_UNIT_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(READ \"${PROJECT_SOURCE_DIR}/packaging/${unit}.in\" text)
    string(REPLACE \"@VEK_BINDIR@\" \"\${VEK_UNIT_BINDIR}\" text \"\${text}\")
    file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/${unit}\" \"\${text}\")
    message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/${unit}\")")
endforeach()

# pkg-config: vek (the library) and vek-sim (the simulated boards). The prefix
# is found from the file's own place, so a staged or moved tree still works.
string(REGEX REPLACE "[^/]+" ".." VEK_PC_UP "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
foreach(pc vek vek-sim)
  configure_file(packaging/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# CMake package.
set_target_properties(vek-sim PROPERTIES EXPORT_NAME sim)
target_include_directories(vek-sim INTERFACE $<INSTALL_INTERFACE:include>)
install(EXPORT vekTargets NAMESPACE vek:: DESTINATION ${VEK_CMAKE_DIR})
include(CMakePackageConfigHelpers)
configure_package_config_file(packaging/vekConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/vekConfig.cmake
  INSTALL_DESTINATION ${VEK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vekConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vekConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/vekConfigVersion.cmake
  DESTINATION ${VEK_CMAKE_DIR})

# Not in the sanitizer build: programs outside it cannot load an instrumented libvek.
if(VEK_BUILD_TESTS AND NOT VEK_SANITIZE)
  add_test(NAME InstallAndConsumers COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/run.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(InstallAndConsumers PROPERTIES TIMEOUT 300)
endif()

# vekctl as users run it, and the Python package installed by pip, against simulated boards.
if(VEK_BUILD_TESTS)
  find_program(VEK_SYSTEM_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(VEK_SYSTEM_PYTHON)
    add_test(NAME VekctlCommandLine COMMAND ${VEK_SYSTEM_PYTHON} -m pytest -q -p no:cacheprovider
             ${PROJECT_SOURCE_DIR}/tests/vekctl)
    # Under the sanitizers each vekctl start costs a fifth of a second: every board
    # view runs on every seventh board there, on all 220 elsewhere.
    if(VEK_SANITIZE)
      set(_vek_stride 7)
    else()
      set(_vek_stride 1)
    endif()
    set_tests_properties(VekctlCommandLine PROPERTIES
      ENVIRONMENT "VEKCTL=$<TARGET_FILE:vekctl>;VEKCTL_BOARD_STRIDE=${_vek_stride}" TIMEOUT 300)
    if(NOT VEK_SANITIZE)
      add_test(NAME PythonPackage COMMAND bash ${PROJECT_SOURCE_DIR}/python/run_tests.sh ${PROJECT_BINARY_DIR})
      set_tests_properties(PythonPackage PROPERTIES TIMEOUT 300)
    endif()
  endif()
endif()

# A real Prometheus scraping `vekctl --sim serve` (Debian's prometheus package).
if(VEK_BUILD_TESTS)
  find_program(VEK_PROMETHEUS prometheus)
  find_program(VEK_PROMTOOL promtool)
  if(VEK_PROMETHEUS AND VEK_PROMTOOL)
    add_test(NAME PrometheusScrapesVekctl COMMAND bash ${PROJECT_SOURCE_DIR}/tests/metrics/prometheus.sh $<TARGET_FILE:vekctl>)
    set_tests_properties(PrometheusScrapesVekctl PROPERTIES TIMEOUT 120)
  endif()
endif()
