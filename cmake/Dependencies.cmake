# Third-party pieces, cross-built from Debian's source packages into a cache outside the tree.
set(VORO_DEPS_CACHE "$ENV{HOME}/.cache/voro-uninstall-deps" CACHE PATH "Cache of cross-built dependencies")
if(DEFINED ENV{VORO_DEPS_CACHE})
  set(VORO_DEPS_CACHE "$ENV{VORO_DEPS_CACHE}" CACHE PATH "" FORCE)
endif()

set(VORO_DEPS ${VORO_DEPS_CACHE}/${CMAKE_SYSTEM_PROCESSOR})
if(NOT EXISTS ${VORO_DEPS}/cjson/lib/libcjson.a OR NOT EXISTS ${VORO_DEPS}/7zip/7z.dll)
  message(STATUS "Building dependencies into ${VORO_DEPS} (once)")
  execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/tools/build-deps.sh ${CMAKE_SYSTEM_PROCESSOR} ${VORO_DEPS_CACHE}
                  RESULT_VARIABLE deps_rc)
  if(NOT deps_rc EQUAL 0)
    message(FATAL_ERROR "Dependency build failed")
  endif()
endif()

add_library(cjson STATIC IMPORTED GLOBAL)
set_target_properties(cjson PROPERTIES
  IMPORTED_LOCATION ${VORO_DEPS}/cjson/lib/libcjson.a
  INTERFACE_INCLUDE_DIRECTORIES ${VORO_DEPS}/cjson/include)

set(VORO_7Z_DLL ${VORO_DEPS}/7zip/7z.dll)
set(VORO_7ZIP_SOURCE ${VORO_DEPS_CACHE}/7zip-src)

# GoogleTest from Debian's googletest sources.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
