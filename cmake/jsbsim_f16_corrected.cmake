# The corrected F-16: JSBSim's own f16.xml with the lift and drag of its
# trailing-edge flaps made to follow the flaps, not the ailerons. Derived
# here, at configure time, from the JSBSim source the build uses; nothing
# of JSBSim's is kept in this repository.
#
# The fault. In f16.xml the left flaperon is -tef - aileron and the right
# tef - aileron; their sum, fcs/flaperon-summer, feeds the flaps' lift and
# drag (aero/coefficient/CLDflaps, CDDflaps). The symmetric flap cancels out
# of that sum and the aileron adds up: a roll input lifts or drops the whole
# aircraft (up to 1.8 g at 200 m/s) and lowered flaps lift nothing.
#
# The transformation, two changes and nothing else but a comment saying so:
#   1. the left flaperon's two inputs change sign: the left flaperon is
#      tef + aileron, the right tef - aileron. Their sum is twice the flap
#      (the aileron cancels); the rolling moment, read from the aileron's
#      own position, is unchanged.
#   2. fcs/flaperon-mix-rad, the sum times 1.4324, becomes the sum times
#      0.174533: the flaperons' mean deflection in radians (a flaperon's
#      unit is its full 20 deg, 0.349 rad; 1.4324 is 0.5/0.349, the
#      conversion inverted). Once the flap counts, a lowered flap (below
#      250 knots) with the old factor added 1.0 of lift coefficient and
#      0.23 of drag coefficient, and the aircraft no longer trimmed at
#      9000 m and 200 m/s; with the mean deflection a full flap adds 0.12
#      and 0.028, a flap's share on a fighter's wing. The shipped file never
#      showed this: its flap cancelled out.
#
# Writes a JSBSim root in the build tree, ${PROJECT_BINARY_DIR}/jsbsim:
# aircraft/f16_corrected (the derived model file and a link to the F-16's
# own Systems folder), links to the other aircraft and to engine/ and
# systems/ of the source. JSBSIM_ROOT_DIR is set to it. Installed beside the
# other aircraft, with a note beside JSBSim's licence saying what changed.

set(guide_f16_source "${JSBSIM_ROOT_DIR}/aircraft/f16/f16.xml")
set(guide_jsbsim_tree "${PROJECT_BINARY_DIR}/jsbsim")
set(guide_f16_corrected_dir "${guide_jsbsim_tree}/aircraft/f16_corrected")

# Replaces the one occurrence of `from` in the variable named text, or
# stops the configure naming what the source no longer holds.
function(guide_replace_once text from to)
  string(FIND "${${text}}" "${from}" at)
  string(FIND "${${text}}" "${from}" last REVERSE)
  if(at EQUAL -1 OR NOT at EQUAL last)
    message(FATAL_ERROR "corrected F-16: ${guide_f16_source} does not hold this text exactly "
                        "once (another JSBSim version?):\n${from}")
  endif()
  string(REPLACE "${from}" "${to}" result "${${text}}")
  set(${text} "${result}" PARENT_SCOPE)
endfunction()

set(guide_f16_note
    "Modified from JSBSim's aircraft/f16/f16.xml by libGuide's build (the file's own
licence applies to it). Two changes, nothing else:
1. the left flaperon's inputs fcs/tef-control and fcs/aileron-speed-compensated change
   sign, so that fcs/flaperon-summer (feeding aero/coefficient/CLDflaps and CDDflaps)
   is twice the trailing-edge flap and an aileron input cancels out of it; in the file
   as shipped the flap cancelled and a roll input changed the lift;
2. fcs/flaperon-mix-rad is that sum times 0.174533 (the flaperons' mean deflection in
   radians) instead of 1.4324.
See libGuide's docs/simulator.md, \"The corrected F-16\".")

file(READ "${guide_f16_source}" guide_f16_xml)
guide_replace_once(guide_f16_xml
  "<summer name=\"fcs/left-flaperon-norm\">
    <input>-fcs/tef-control</input>
    <input>-fcs/aileron-speed-compensated</input>"
  "<summer name=\"fcs/left-flaperon-norm\">
    <input>fcs/tef-control</input>
    <input>fcs/aileron-speed-compensated</input>")
guide_replace_once(guide_f16_xml
  "<input>fcs/flaperon-summer</input>
    <gain>1.4324</gain>"
  "<input>fcs/flaperon-summer</input>
    <gain>0.174533</gain>")
guide_replace_once(guide_f16_xml "<fdm_config "
                   "<!--\n${guide_f16_note}\n-->\n<fdm_config ")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${guide_f16_source}")

file(MAKE_DIRECTORY "${guide_f16_corrected_dir}")
# Written only when it changes: a configure that derives the same file
# leaves it as it was.
set(guide_f16_corrected_xml "${guide_f16_corrected_dir}/f16_corrected.xml")
set(guide_f16_written "")
if(EXISTS "${guide_f16_corrected_xml}")
  file(READ "${guide_f16_corrected_xml}" guide_f16_written)
endif()
if(NOT guide_f16_written STREQUAL guide_f16_xml)
  file(WRITE "${guide_f16_corrected_xml}" "${guide_f16_xml}")
endif()
file(CREATE_LINK "${JSBSIM_ROOT_DIR}/aircraft/f16/Systems" "${guide_f16_corrected_dir}/Systems"
     SYMBOLIC)
foreach(aircraft f16 f15 T38 c172p)
  file(CREATE_LINK "${JSBSIM_ROOT_DIR}/aircraft/${aircraft}"
       "${guide_jsbsim_tree}/aircraft/${aircraft}" SYMBOLIC)
endforeach()
foreach(folder engine systems)
  file(CREATE_LINK "${JSBSIM_ROOT_DIR}/${folder}" "${guide_jsbsim_tree}/${folder}" SYMBOLIC)
endforeach()
file(WRITE "${PROJECT_BINARY_DIR}/jsbsim-f16_corrected-MODIFIED.txt" "${guide_f16_note}\n")

include(GNUInstallDirs)
install(FILES "${guide_f16_corrected_xml}"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/guidew/jsbsim/aircraft/f16_corrected)
install(DIRECTORY "${JSBSIM_ROOT_DIR}/aircraft/f16/Systems"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/guidew/jsbsim/aircraft/f16_corrected)
install(FILES "${PROJECT_BINARY_DIR}/jsbsim-f16_corrected-MODIFIED.txt"
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/jsbsim RENAME f16_corrected-MODIFIED.txt)

set(JSBSIM_ROOT_DIR "${guide_jsbsim_tree}")
