# Installation: library, headers, CMake package and pkg-config file, the
# host programs, the Python package and the FMUs (share/guidew).
#
#   cmake --install build --prefix /opt/guidew
#
# Hosts then use find_package(GuideW) and link GuideW::Guide, or
# `pkg-config --cflags --libs guidew`. Both put include/guidew on the include
# path, so a host writes #include "GuideW_instance.h" as in the build tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(GUIDEW_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/GuideW CACHE STRING
    "Where the CMake package GuideW is installed, relative to the prefix")
# Debian's interpreters look in lib/python3/dist-packages (never in a
# multiarch library directory).
set(GUIDEW_PYTHON_INSTALL_DIR lib/python3/dist-packages CACHE STRING
    "Where the Python package guidew is installed, relative to the prefix")

# The headers share one directory: GuideW.h and GuideW_instance.h include
# "GuideW_types.h" by plain name, Guide.h includes "GuideW.h".
target_include_directories(Guide PUBLIC
                           $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/guidew>)
install(TARGETS Guide EXPORT GuideWTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/guidew DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT GuideWTargets NAMESPACE GuideW:: DESTINATION ${GUIDEW_CMAKE_INSTALL_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/GuideWConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/GuideWConfig.cmake
                              INSTALL_DESTINATION ${GUIDEW_CMAKE_INSTALL_DIR})
# Before 1.0 a minor release may change the records' layout.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/GuideWConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/GuideWConfig.cmake
              ${PROJECT_BINARY_DIR}/GuideWConfigVersion.cmake
        DESTINATION ${GUIDEW_CMAKE_INSTALL_DIR})

# pkg-config: the paths are taken relative to the .pc file itself, so the
# installed tree stays usable when staged (DESTDIR) or installed with
# `cmake --install --prefix`.
set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(GUIDEW_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH pc_up ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" pc_up "${pc_up}")
  set(GUIDEW_PC_PREFIX "\${pcfiledir}/${pc_up}")
endif()
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(GUIDEW_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(GUIDEW_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/guidew.pc.in ${PROJECT_BINARY_DIR}/guidew.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/guidew.pc DESTINATION ${pc_dir})

# The host programs load libGuide.so by plain name once installed (nothing
# lies beside them): their run path points at the installed library.
# guide-sim runs plot_trajectory.py (and the engagement panels it imports)
# from its own directory.
file(RELATIVE_PATH bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(guide-run guide-sim guide-step PROPERTIES
                      INSTALL_RPATH "\$ORIGIN/${bin_to_lib}")
install(TARGETS guide-run guide-sim guide-step RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/tools/plot_trajectory.py ${PROJECT_SOURCE_DIR}/tools/plot_engagement.py
        DESTINATION ${CMAKE_INSTALL_BINDIR})

# The Python package guidew: the files `pip install ./python` installs (its
# modules and py.typed). It finds the library in lib/ (or lib64/,
# lib/<multiarch>/) of the prefix it is installed in; only a library directory
# it would not look in gets a relative link beside the package.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/guidew DESTINATION ${GUIDEW_PYTHON_INSTALL_DIR}
        FILES_MATCHING PATTERN "*.py" PATTERN "*.js" PATTERN "py.typed" PATTERN __pycache__ EXCLUDE)
# The same holds for the simulator library the campaigns fly through.
if(NOT CMAKE_INSTALL_LIBDIR MATCHES "^lib(64)?(/${CMAKE_LIBRARY_ARCHITECTURE})?$")
  file(RELATIVE_PATH guidew_to_lib /p/${GUIDEW_PYTHON_INSTALL_DIR}/guidew /p/${CMAKE_INSTALL_LIBDIR})
  foreach(library libGuide.so libguidesim.so)
    install(CODE "file(CREATE_LINK ${guidew_to_lib}/${library}
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${GUIDEW_PYTHON_INSTALL_DIR}/guidew/${library}\" SYMBOLIC)")
  endforeach()
endif()

# The FMUs, for simulation tools to import: self-contained zips (the law is
# linked into each binary), so they go where data files go.
install(FILES ${PROJECT_BINARY_DIR}/GuideW.fmu ${PROJECT_BINARY_DIR}/GuideW-fmi3.fmu
        DESTINATION ${CMAKE_INSTALL_DATADIR}/guidew)

# Installs this build into a scratch prefix and builds hosts against it: a
# C++ host through find_package, a C host through pkg-config.
if(BUILD_TESTING)
  add_test(NAME install_package
           COMMAND ${PROJECT_SOURCE_DIR}/tests/install/install_test.sh ${PROJECT_BINARY_DIR}
                   ${PROJECT_SOURCE_DIR}/tests/install/host)
  # (a small campaign on a local cluster included; minutes on a loaded machine)
  set_tests_properties(install_package PROPERTIES TIMEOUT 600)
  # The README's two commands (scripts/run.sh, scripts/test.sh) over stubs.
  add_test(NAME install_two_commands
           COMMAND ${PROJECT_SOURCE_DIR}/tests/install/commands_test.sh ${PROJECT_SOURCE_DIR})
endif()

# The simulator library (campaigns fly through it) beside libGuide.so, which
# it finds through its run path; its header with the others. The Python
# package finds it where it finds libGuide.so.
set_target_properties(GuideSim PROPERTIES INSTALL_RPATH "\$ORIGIN")
install(TARGETS GuideSim LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/src/sim/guide_sim_api.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/guidew)

# guide-campaign, pointing at the installed package relative to itself; the
# package finds the simulator library in the prefix.
file(RELATIVE_PATH CAMPAIGN_PYTHON_DIR ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${GUIDEW_PYTHON_INSTALL_DIR})
set(CAMPAIGN_SIM_LIBRARY "")
configure_file(${PROJECT_SOURCE_DIR}/tools/guide-campaign.in
               ${PROJECT_BINARY_DIR}/install/guide-campaign @ONLY)
install(PROGRAMS ${PROJECT_BINARY_DIR}/install/guide-campaign DESTINATION ${CMAKE_INSTALL_BINDIR})
configure_file(${PROJECT_SOURCE_DIR}/tools/replay_export.py.in
               ${PROJECT_BINARY_DIR}/install/replay_export.py @ONLY)
install(PROGRAMS ${PROJECT_BINARY_DIR}/install/replay_export.py DESTINATION ${CMAKE_INSTALL_BINDIR})
