# JSBSim (LGPL-2.1), the six-degree-of-freedom flight-dynamics model the
# simulator flies real aircraft with. It is a dependency, never copied in:
# built from its own source as a shared library, once per machine state.
#
# Where the source comes from, first found wins:
#   1. JSBSIM_SOURCE_DIR, as a cache variable or an environment variable;
#   2. ../shared/third_party/jsbsim beside the checkout (developer machines
#      and CI keep it there);
#   3. the pinned release, fetched once into the machine cache from
#      JSBSIM_RELEASE_URL (GitHub's v1.3.1 archive unless a mirror is named).
#
# The build goes to a machine-level cache folder keyed by a hash of the
# source and the compiler (GUIDE_DEPS_CACHE_DIR, default
# ~/.cache/libguide): every build tree of this machine with the same
# compiler reuses it, so a second tree adds no build time. Only the library
# is built: no documentation, Python module, program or JSBSim tests.
#
# Defines the imported target JSBSim::JSBSim, JSBSIM_SOURCE_ROOT (the JSBSim
# source built) and JSBSIM_ROOT_DIR (the folder holding aircraft/, engine/
# and systems/, where aircraft are loaded from); installs the library beside
# ours with its licence.

set(GUIDE_JSBSIM_VERSION 1.3.1)
set(JSBSIM_RELEASE_URL
    https://github.com/JSBSim-Team/jsbsim/archive/refs/tags/v${GUIDE_JSBSIM_VERSION}.tar.gz
    CACHE STRING "Where the pinned JSBSim release is fetched from when no source folder is found (a mirror, or a file:// path for a machine without network)")

set(JSBSIM_SOURCE_DIR "$ENV{JSBSIM_SOURCE_DIR}" CACHE PATH
    "JSBSim ${GUIDE_JSBSIM_VERSION} source folder (empty: beside the checkout, else fetched)")
if(DEFINED ENV{GUIDE_DEPS_CACHE_DIR})
  set(guide_deps_default "$ENV{GUIDE_DEPS_CACHE_DIR}")
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(guide_deps_default "$ENV{XDG_CACHE_HOME}/libguide")
else()
  set(guide_deps_default "$ENV{HOME}/.cache/libguide")
endif()
set(GUIDE_DEPS_CACHE_DIR "${guide_deps_default}" CACHE PATH
    "Machine-level folder where dependencies are built once and shared by every build tree")

# A build of JSBSim can take minutes; two trees configuring at once wait for
# each other instead of building the same folder twice. A macro, so that the
# lock is held until the function that takes it returns (a function of its
# own would release it at once, and a second tree would delete the first
# one's build under it).
macro(guide_jsbsim_locked_step lock_file)
  file(LOCK "${lock_file}" GUARD FUNCTION TIMEOUT 3600 RESULT_VARIABLE lock_status)
  if(NOT lock_status EQUAL 0)
    message(FATAL_ERROR "JSBSim: cannot lock ${lock_file}: ${lock_status}")
  endif()
endmacro()

function(guide_jsbsim_source out_dir)
  set(beside "${PROJECT_SOURCE_DIR}/../shared/third_party/jsbsim")
  if(JSBSIM_SOURCE_DIR)
    get_filename_component(dir "${JSBSIM_SOURCE_DIR}" ABSOLUTE)
    if(NOT EXISTS "${dir}/src/FGFDMExec.h")
      message(FATAL_ERROR "JSBSIM_SOURCE_DIR ${dir} is not a JSBSim source folder (no src/FGFDMExec.h)")
    endif()
  elseif(EXISTS "${beside}/src/FGFDMExec.h")
    get_filename_component(dir "${beside}" ABSOLUTE)
  else()
    set(dir "${GUIDE_DEPS_CACHE_DIR}/jsbsim-${GUIDE_JSBSIM_VERSION}-src")
    if(NOT EXISTS "${dir}/src/FGFDMExec.h")
      file(MAKE_DIRECTORY "${GUIDE_DEPS_CACHE_DIR}")
      guide_jsbsim_locked_step("${GUIDE_DEPS_CACHE_DIR}/jsbsim-src.lock")
      message(STATUS "JSBSim: fetching release ${GUIDE_JSBSIM_VERSION} into ${dir}")
      include(FetchContent)
      FetchContent_Populate(jsbsim_release URL ${JSBSIM_RELEASE_URL}
                            SOURCE_DIR "${dir}"
                            SUBBUILD_DIR "${GUIDE_DEPS_CACHE_DIR}/jsbsim-fetch-subbuild"
                            BINARY_DIR "${GUIDE_DEPS_CACHE_DIR}/jsbsim-fetch-build")
    endif()
  endif()
  set(${out_dir} "${dir}" PARENT_SCOPE)
endfunction()

# The build's key: every file that goes into the library, and the compiler.
function(guide_jsbsim_key src out_key)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${src}"
       "${src}/src/*" "${src}/CMakeLists.txt" "${src}/utils/CMakeLists.txt")
  list(SORT files)
  set(digests "${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} ${CMAKE_CXX_COMPILER}\n")
  foreach(f IN LISTS files)
    file(SHA256 "${src}/${f}" h)
    string(APPEND digests "${f} ${h}\n")
  endforeach()
  string(SHA256 key "${digests}")
  string(SUBSTRING "${key}" 0 16 key)
  set(${out_key} "${key}" PARENT_SCOPE)
endfunction()

function(guide_jsbsim_build src prefix)
  set(build "${prefix}/build")
  set(stamp "${prefix}/built")
  if(EXISTS "${stamp}")
    return()
  endif()
  file(MAKE_DIRECTORY "${prefix}")
  guide_jsbsim_locked_step("${prefix}.lock")
  if(EXISTS "${stamp}")  # built by another tree while this one waited
    return()
  endif()
  message(STATUS "JSBSim: building its library once for this machine in ${prefix} (a few CPU-minutes)")
  # Its bundled expat is C: the system's C compiler builds it unless this
  # project was given one.
  set(compilers "-DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}")
  if(CMAKE_C_COMPILER)
    list(APPEND compilers "-DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}")
  endif()
  if(CMAKE_CXX_COMPILER_LAUNCHER)
    list(APPEND compilers "-DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}"
                          "-DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}")
  endif()
  file(REMOVE_RECURSE "${build}")  # what a failed attempt left
  # CxxTest, when installed, would add JSBSim's own tests (absent from a
  # library-only source): it is not looked for.
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S "${src}" -B "${build}" -DCMAKE_BUILD_TYPE=Release
            -DBUILD_SHARED_LIBS=ON -DBUILD_DOCS=OFF -DBUILD_PYTHON_MODULE=OFF
            -DCMAKE_DISABLE_FIND_PACKAGE_CxxTest=ON
            ${compilers}
    OUTPUT_FILE "${prefix}/configure.log" ERROR_FILE "${prefix}/configure.log"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "JSBSim: configuring failed, see ${prefix}/configure.log")
  endif()
  cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
  execute_process(
    COMMAND ${CMAKE_COMMAND} --build "${build}" --target libJSBSim -j ${cores}
    OUTPUT_FILE "${prefix}/build.log" ERROR_FILE "${prefix}/build.log"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "JSBSim: building failed, see ${prefix}/build.log")
  endif()
  file(GLOB libs "${build}/src/libJSBSim.so*")
  file(COPY ${libs} DESTINATION "${prefix}/lib")
  file(TOUCH "${stamp}")
endfunction()

guide_jsbsim_source(guide_jsbsim_src)
guide_jsbsim_key("${guide_jsbsim_src}" guide_jsbsim_key)
set(guide_jsbsim_prefix "${GUIDE_DEPS_CACHE_DIR}/jsbsim-${GUIDE_JSBSIM_VERSION}-${guide_jsbsim_key}")
guide_jsbsim_build("${guide_jsbsim_src}" "${guide_jsbsim_prefix}")
message(STATUS "JSBSim: ${guide_jsbsim_src}, library in ${guide_jsbsim_prefix}/lib")

# The build tree holds its own copy of the library, beside libGuide.so:
# its programs and libraries find it through run paths relative to
# themselves ($ORIGIN), never in the machine cache, so the tree still runs
# for another user, after the cache is cleared, or moved elsewhere.
file(GLOB guide_jsbsim_libs "${guide_jsbsim_prefix}/lib/libJSBSim.so*")
file(COPY ${guide_jsbsim_libs} DESTINATION "${PROJECT_BINARY_DIR}")

set(JSBSIM_SOURCE_ROOT "${guide_jsbsim_src}")
set(JSBSIM_ROOT_DIR "${guide_jsbsim_src}")
add_library(JSBSim::JSBSim SHARED IMPORTED GLOBAL)
set_target_properties(JSBSim::JSBSim PROPERTIES
  IMPORTED_LOCATION "${PROJECT_BINARY_DIR}/libJSBSim.so.${GUIDE_JSBSIM_VERSION}"
  IMPORTED_SONAME "libJSBSim.so.1"
  INTERFACE_INCLUDE_DIRECTORIES "${guide_jsbsim_src}/src"
  INTERFACE_COMPILE_DEFINITIONS "JSBSIM_VERSION=\"${GUIDE_JSBSIM_VERSION}\"")

# Installed beside libGuide.so with its licence: the LGPL lets a user
# replace this shared library with their own build of it.
include(GNUInstallDirs)
install(FILES ${guide_jsbsim_libs} DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES "${guide_jsbsim_src}/COPYING" DESTINATION ${CMAKE_INSTALL_DOCDIR}/jsbsim)

# The aircraft the simulator knows, their engines and shared systems, where
# an installed simulator looks for them (share/guidew/jsbsim).
foreach(aircraft f16 f15 T38 c172p)
  install(DIRECTORY "${guide_jsbsim_src}/aircraft/${aircraft}"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/guidew/jsbsim/aircraft)
endforeach()
install(DIRECTORY "${guide_jsbsim_src}/engine" "${guide_jsbsim_src}/systems"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/guidew/jsbsim)
