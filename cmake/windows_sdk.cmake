# The Windows SDK: per architecture bin/vek.dll with its kernel driver, lib/vek.dll.a
# (mingw; on x86 written by dlltool, see windows.cmake) and lib/vek.lib (MSVC), with
# include/vek/vek.h beside them; `cpack` zips it.
#
# The MSVC import library is made by llvm-dlltool. On x86 an MSVC caller of a
# __stdcall function references "_VEK_API_Init@0", while the DLL exports the
# undecorated "VEK_API_Init"; with -k the library's import entries carry the
# decorated symbol and the "undecorate" name type, so the loader binds by the
# plain name. x64 has no decoration.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(VEK_SDK_ARCH x64)
  set(_vek_dlltool_machine i386:x86-64)
else()
  set(VEK_SDK_ARCH x86)
  set(_vek_dlltool_machine i386)
endif()

find_program(VEK_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 PATHS /usr/lib/llvm-14/bin)
if(VEK_LLVM_DLLTOOL)
  # The export table as callers name it: "VEK_X@N @k" (x86) or "VEK_X @k" (x64),
  # written by windows.cmake.
  if(VEK_SDK_ARCH STREQUAL x86)
    set(_vek_msvc_def ${VEK_DECORATED_DEF})
  else()
    set(_vek_msvc_def ${VEK_DEF_FILE})
  endif()
  set(VEK_MSVC_IMPORT_LIBRARY ${CMAKE_BINARY_DIR}/msvc/vek.lib)
  add_custom_command(OUTPUT ${VEK_MSVC_IMPORT_LIBRARY}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/msvc
    COMMAND ${VEK_LLVM_DLLTOOL} -m ${_vek_dlltool_machine} -k -d ${_vek_msvc_def}
            -l ${VEK_MSVC_IMPORT_LIBRARY}
    DEPENDS ${PROJECT_SOURCE_DIR}/vek.def
    COMMENT "MSVC import library vek.lib (${VEK_SDK_ARCH})")
  add_custom_target(vek_msvc_import_library ALL DEPENDS ${VEK_MSVC_IMPORT_LIBRARY})
else()
  message(STATUS "llvm-dlltool not found: the SDK gets no MSVC import library")
endif()

install(TARGETS vek RUNTIME DESTINATION ${VEK_SDK_ARCH}/bin ARCHIVE DESTINATION ${VEK_SDK_ARCH}/lib)
install(FILES ${PROJECT_SOURCE_DIR}/include/vek/vek.h DESTINATION include/vek)
# What a user of the zip reads first, the driver's own notes and an example.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/sdk/README.md DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/driver/windows/README.md DESTINATION . RENAME DRIVER.md)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/sdk/vek_sdk_example.c DESTINATION example)
# The kernel I/O driver this build makes, beside the DLL where the library looks for it.
foreach(_vek_driver zelkoran zelkoranx64)
  if(TARGET ${_vek_driver})
    install(FILES $<TARGET_FILE:${_vek_driver}> DESTINATION ${VEK_SDK_ARCH}/bin)
  endif()
endforeach()
# A 32-bit application on 64-bit Windows needs the x64 driver.
if(VEK_CROSS_X64_DRIVER)
  install(FILES ${VEK_CROSS_X64_DRIVER} DESTINATION ${VEK_SDK_ARCH}/bin)
endif()
if(VEK_MSVC_IMPORT_LIBRARY)
  install(FILES ${VEK_MSVC_IMPORT_LIBRARY} DESTINATION ${VEK_SDK_ARCH}/lib)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME vek-sdk)
set(CPACK_PACKAGE_FILE_NAME vek-sdk-${PROJECT_VERSION}-${VEK_SDK_ARCH})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
