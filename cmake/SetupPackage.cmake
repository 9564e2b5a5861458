# The "SETUPCONFIG" package (resource 209): the setup project and the root folder list, kept as
# UTF-8 in the tree, converted to UTF-16 LE with a byte-order mark and packed with 7zz into a 7z
# archive (LZMA2, every file in its own block, no encryption).
# Included from Uninstall/CMakeLists.txt once uninst_core and Uninstall exist.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(VORO_7ZZ NAMES 7zz REQUIRED)

# Cached so that the functions below also work when called from other folders.
set(VORO_PYTHON ${Python3_EXECUTABLE} CACHE INTERNAL "")
set(VORO_PACKAGE_SOURCES ${PROJECT_SOURCE_DIR}/Uninstall/res/package CACHE INTERNAL "")
set(VORO_PACKAGE_TOOL ${PROJECT_SOURCE_DIR}/tools/setup-package.py CACHE INTERNAL "")
set(VORO_PACKAGE_DIR ${PROJECT_BINARY_DIR}/setup-package CACHE INTERNAL "")
set(VORO_PACKAGE_FILES tesk.tvnprj UninstallRootDirFileList.xml)
set(VORO_SETUP_PACKAGE ${VORO_PACKAGE_DIR}/SetupConfig.7z CACHE INTERNAL "")
set(VORO_SETUP_PACKAGE_RC ${VORO_PACKAGE_DIR}/SetupPackage.rc CACHE INTERNAL "")

set(utf16_files)
foreach(name IN LISTS VORO_PACKAGE_FILES)
  add_custom_command(OUTPUT ${VORO_PACKAGE_DIR}/files/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VORO_PACKAGE_DIR}/files
    COMMAND ${VORO_PYTHON} ${VORO_PACKAGE_TOOL} utf16 ${VORO_PACKAGE_SOURCES}/${name} ${VORO_PACKAGE_DIR}/files/${name}
    DEPENDS ${VORO_PACKAGE_SOURCES}/${name} ${VORO_PACKAGE_TOOL}
    COMMENT "Converting ${name} to UTF-16" VERBATIM)
  list(APPEND utf16_files ${VORO_PACKAGE_DIR}/files/${name})
endforeach()

add_custom_command(OUTPUT ${VORO_SETUP_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${VORO_SETUP_PACKAGE}
  COMMAND ${VORO_7ZZ} a -t7z -m0=LZMA2 -ms=off -mhe=off -bd -bso0 -bsp0 ${VORO_SETUP_PACKAGE} ${VORO_PACKAGE_FILES}
  WORKING_DIRECTORY ${VORO_PACKAGE_DIR}/files
  DEPENDS ${utf16_files}
  COMMENT "Packing the setup package" VERBATIM)
add_custom_target(voro_setup_package DEPENDS ${VORO_SETUP_PACKAGE})

file(CONFIGURE OUTPUT ${VORO_SETUP_PACKAGE_RC}
  CONTENT "209 SETUPCONFIG \"${VORO_SETUP_PACKAGE}\"\n")

# Adds resource 209 "SETUPCONFIG" to an executable.
function(voro_embed_setup_package target)
  target_sources(${target} PRIVATE ${VORO_SETUP_PACKAGE_RC})
  set_source_files_properties(${VORO_SETUP_PACKAGE_RC} PROPERTIES OBJECT_DEPENDS ${VORO_SETUP_PACKAGE})
  add_dependencies(${target} voro_setup_package)
endfunction()

# Puts the 7z.dll of this build's architecture beside an executable.
function(voro_copy_7z_dll target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VORO_7Z_DLL} $<TARGET_FILE_DIR:${target}>/7z.dll
    VERBATIM)
endfunction()

# Test resources beside the real package: 209 the package, 210 an empty resource, 211 the package
# cut in half, 212 the package with a flipped byte, 213-215 archives with items outside the unpack
# folder ("../", an absolute path, "C:/"), 216 "ROOTDIRLIST" the UTF-16 root folder list.
# VORO_HOSTILE_ABSOLUTE is the path the absolute item names, as a compile definition.
function(voro_embed_setup_test_resources target)
  set(dir ${PROJECT_BINARY_DIR}/setup-package/test)
  set(hostile ${dir}/dotdot.7z ${dir}/absolute.7z ${dir}/drive.7z)
  if(NOT TARGET voro_setup_test_archives)
    add_custom_command(OUTPUT ${dir}/empty.bin ${dir}/truncated.7z ${dir}/corrupt.7z
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${CMAKE_COMMAND} -E touch ${dir}/empty.bin
      COMMAND ${VORO_PYTHON} ${VORO_PACKAGE_TOOL} truncate ${VORO_SETUP_PACKAGE} ${dir}/truncated.7z
      COMMAND ${VORO_PYTHON} ${VORO_PACKAGE_TOOL} corrupt ${VORO_SETUP_PACKAGE} ${dir}/corrupt.7z
      DEPENDS ${VORO_SETUP_PACKAGE} ${VORO_PACKAGE_TOOL} VERBATIM)
    add_custom_command(OUTPUT ${hostile}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${VORO_PYTHON} ${VORO_PACKAGE_TOOL} hostile ${VORO_7ZZ} ${dir}
      DEPENDS ${VORO_PACKAGE_TOOL} VERBATIM)
    add_custom_target(voro_setup_test_archives
      DEPENDS ${dir}/empty.bin ${dir}/truncated.7z ${dir}/corrupt.7z ${hostile} voro_setup_package)
    file(CONFIGURE OUTPUT ${dir}/SetupTestResources.rc CONTENT
"209 SETUPCONFIG \"${VORO_SETUP_PACKAGE}\"
210 SETUPCONFIG \"${dir}/empty.bin\"
211 SETUPCONFIG \"${dir}/truncated.7z\"
212 SETUPCONFIG \"${dir}/corrupt.7z\"
213 SETUPCONFIG \"${dir}/dotdot.7z\"
214 SETUPCONFIG \"${dir}/absolute.7z\"
215 SETUPCONFIG \"${dir}/drive.7z\"
216 ROOTDIRLIST \"${VORO_PACKAGE_DIR}/files/UninstallRootDirFileList.xml\"
")
  endif()
  target_sources(${target} PRIVATE ${dir}/SetupTestResources.rc)
  set_source_files_properties(${dir}/SetupTestResources.rc PROPERTIES OBJECT_DEPENDS
    "${VORO_SETUP_PACKAGE};${dir}/empty.bin;${dir}/truncated.7z;${dir}/corrupt.7z;${hostile}")
  add_dependencies(${target} voro_setup_test_archives)
  target_compile_definitions(${target} PRIVATE
    VORO_HOSTILE_ABSOLUTE=L"${dir}/absolute-target/evil_absolute.txt")
  voro_copy_7z_dll(${target})
endfunction()

# The archive library's interface headers come from 7-Zip's own sources at build time.
target_include_directories(uninst_core SYSTEM PRIVATE ${VORO_7ZIP_SOURCE}/CPP/7zip)
voro_embed_setup_package(Uninstall)
