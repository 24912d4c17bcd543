# vek.dll: the 88 exports of vek.def and nothing else, no mingw runtime DLLs.
# Included by the top-level CMakeLists.txt when WIN32.

target_compile_definitions(vek_objects PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

set(VEK_WIN_SYSTEM_LIBS ole32 oleaut32 wbemuuid advapi32 user32 kernel32)

# One export table for both architectures. x64 has a single calling convention
# and no decoration, so its copy of the table loses the "=name@N" aliases.
set(VEK_DEF_SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/vek.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VEK_DEF_SOURCE})
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  file(READ ${VEK_DEF_SOURCE} _vek_def)
  string(REGEX REPLACE "=[A-Za-z0-9_]+@[0-9]+" "" _vek_def "${_vek_def}")
  set(VEK_DEF_FILE ${CMAKE_CURRENT_BINARY_DIR}/vek64.def)
  file(WRITE ${VEK_DEF_FILE} "${_vek_def}")
else()
  set(VEK_DEF_FILE ${VEK_DEF_SOURCE})
  # "VEK_X=VEK_X@N @k" becomes "VEK_X@N @k": the symbols a caller of vek.h
  # references, for the import libraries.
  file(READ ${VEK_DEF_SOURCE} _vek_def)
  string(REGEX REPLACE "([A-Za-z0-9_]+)=([A-Za-z0-9_]+@[0-9]+)" "\\2" _vek_def "${_vek_def}")
  set(VEK_DECORATED_DEF ${CMAKE_CURRENT_BINARY_DIR}/vek-decorated.def)
  file(WRITE ${VEK_DECORATED_DEF} "${_vek_def}")
endif()

add_library(vek SHARED $<TARGET_OBJECTS:vek_objects>)
target_include_directories(vek PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
set_target_properties(vek PROPERTIES
  PREFIX ""
  OUTPUT_NAME vek
  IMPORT_PREFIX ""
  IMPORT_SUFFIX ".dll.a"
  LINK_DEPENDS ${VEK_DEF_FILE})
target_link_options(vek PRIVATE
  ${VEK_DEF_FILE}
  # The .def is the whole export table: nothing exported by attribute or by
  # default, and no "@N" decoration on exported names.
  -Wl,--kill-at
  -Wl,--exclude-all-symbols
  # Self-contained: applications ship vek.dll alone.
  -static -static-libgcc -static-libstdc++)
target_link_libraries(vek PRIVATE ${VEK_WIN_SYSTEM_LIBS})
if(VEK_DECORATED_DEF)
  # With --kill-at the linker's own import library loses the @N of every name
  # too, and a mingw caller of vek.h (which references _VEK_API_Init@0) cannot
  # link against it. dlltool -k writes one whose decorated symbols import the
  # DLL's plain names; it replaces the linker's after each link.
  find_program(VEK_MINGW_DLLTOOL NAMES ${CMAKE_DLLTOOL} i686-w64-mingw32-dlltool REQUIRED)
  add_custom_command(TARGET vek POST_BUILD
    COMMAND ${VEK_MINGW_DLLTOOL} -k -d ${VEK_DECORATED_DEF} -D vek.dll -l $<TARGET_LINKER_FILE:vek>
    COMMENT "mingw import library vek.dll.a with the stdcall names of vek.h")
endif()
target_link_libraries(vek_core PUBLIC ${VEK_WIN_SYSTEM_LIBS})

# Example application: loads vek.dll at run time, so it links nothing of ours.
add_executable(vek_example ${CMAKE_CURRENT_SOURCE_DIR}/examples/vek_example.c)
target_include_directories(vek_example PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/include)
target_link_options(vek_example PRIVATE -static -static-libgcc)
add_dependencies(vek_example vek)

# Programs run under wine by tests/windows/run_wine_tests.sh.
if(VEK_BUILD_TESTS AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/CMakeLists.txt)
  add_subdirectory(tests/windows)
endif()
