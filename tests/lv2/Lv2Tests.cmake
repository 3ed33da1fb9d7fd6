# The LV2 bundle as hosts see it: loaded with dlopen by test_lv2, and checked
# by the LV2 tools (lv2-dev, lilv-utils).
if(NOT TARGET test_lv2)
  return()
endif()

pkg_check_modules(LV2TEST_SNDFILE REQUIRED IMPORTED_TARGET sndfile)
pkg_check_modules(LV2TEST_LILV REQUIRED IMPORTED_TARGET lilv-0)
find_program(LV2_VALIDATE lv2_validate)
find_program(LV2LS lv2ls)
find_program(LV2INFO lv2info)
find_program(LV2APPLY lv2apply)

# A plug-in built with sanitizers needs their runtimes in the host process.
set(lv2_host_preload "")
if(VARSILE_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  string(REPLACE "," ";" sanitizers "${VARSILE_SANITIZE}")
  set(runtimes "")
  foreach(sanitizer IN LISTS sanitizers)
    if(sanitizer STREQUAL "address")
      list(APPEND runtimes asan)
    elseif(sanitizer STREQUAL "undefined")
      list(APPEND runtimes ubsan)
    elseif(sanitizer STREQUAL "thread")
      list(APPEND runtimes tsan)
    endif()
  endforeach()
  foreach(runtime IN LISTS runtimes)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${runtime}.so
      OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    list(APPEND lv2_host_preload ${path})
  endforeach()
  list(JOIN lv2_host_preload ":" lv2_host_preload)
endif()

set(lv2_cli "")
if(TARGET varsile)
  set(lv2_cli $<TARGET_FILE:varsile>)
  add_dependencies(test_lv2 varsile)
endif()

target_link_libraries(test_lv2 PRIVATE PkgConfig::LV2TEST_SNDFILE PkgConfig::LV2TEST_LILV Varsile::Music)
# The realtime test counts with the project's render-thread counter, which
# replaces the allocation and lock functions for every library the program
# loads: they must be in its dynamic symbol table.
target_sources(test_lv2 PRIVATE ${PROJECT_SOURCE_DIR}/tests/realtime/RenderThreadCounter.cpp)
target_include_directories(test_lv2 PRIVATE ${PROJECT_SOURCE_DIR}/tests/realtime)
set_target_properties(test_lv2 PROPERTIES ENABLE_EXPORTS ON)
add_dependencies(test_lv2 varsile_lv2_bundle)
target_compile_definitions(test_lv2 PRIVATE
  VARSILE_LV2_BUNDLE="${VARSILE_LV2_BUNDLE}"
  VARSILE_LV2APPLY="$<$<BOOL:${LV2APPLY}>:${LV2APPLY}>"
  VARSILE_CLI="${lv2_cli}"
  VARSILE_LV2_HOST_PRELOAD="${lv2_host_preload}")

set(lv2_uris urn:varsile:gate:mono urn:varsile:gate:stereo urn:varsile:gate:lookahead:mono
    urn:varsile:gate:lookahead:stereo)
set(lv2_controls key master_volume vol_unison vol_minor_second vol_major_second vol_minor_third
    vol_major_third vol_fourth vol_aug_fourth vol_fifth vol_minor_sixth vol_major_sixth vol_minor_seventh
    vol_major_seventh attack_time release_time a4_frequency accuracy_threshold jitter_threshold
    current_volume current_note accuracy)
set(lv2_right_meters current_volume_r current_note_r accuracy_r)

if(LV2_VALIDATE)
  add_test(NAME lv2_validate_accepts_the_bundle
    COMMAND ${LV2_VALIDATE} ${VARSILE_LV2_BUNDLE}/manifest.ttl ${VARSILE_LV2_BUNDLE}/varsile.ttl
            ${VARSILE_LV2_BUNDLE}/presets.ttl)
  set_tests_properties(lv2_validate_accepts_the_bundle PROPERTIES LABELS lv2
    PASS_REGULAR_EXPRESSION "Found 0 errors" FAIL_REGULAR_EXPRESSION "(error|warning):")
endif()
if(LV2LS)
  add_test(NAME lv2ls_lists_every_plugin
    COMMAND ${CMAKE_COMMAND} -DMODE=ls -DTOOL=${LV2LS} -DLV2_PATH=${VARSILE_LV2_BUNDLE_PARENT}
            "-DURIS=${lv2_uris}" -P ${CMAKE_CURRENT_LIST_DIR}/CheckLv2Tools.cmake)
  set_tests_properties(lv2ls_lists_every_plugin PROPERTIES LABELS lv2)
endif()
if(LV2INFO)
  add_test(NAME lv2info_shows_every_port
    COMMAND ${CMAKE_COMMAND} -DMODE=info -DTOOL=${LV2INFO} -DLV2_PATH=${VARSILE_LV2_BUNDLE_PARENT}
            "-DURIS=${lv2_uris}" "-DSYMBOLS_0=${lv2_controls};in;out;enabled"
            "-DSYMBOLS_1=${lv2_controls};in_l;in_r;out_l;out_r;enabled;${lv2_right_meters}"
            "-DSYMBOLS_2=${lv2_controls};in;out;enabled;latency"
            "-DSYMBOLS_3=${lv2_controls};in_l;in_r;out_l;out_r;enabled;${lv2_right_meters};latency" -P ${CMAKE_CURRENT_LIST_DIR}/CheckLv2Tools.cmake)
  set_tests_properties(lv2info_shows_every_port PROPERTIES LABELS lv2)
endif()
add_test(NAME lv2_object_exports_only_its_descriptor
  COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DMODULE=$<TARGET_FILE:varsile_lv2> -DEXPECTED=lv2_descriptor
          -P ${PROJECT_SOURCE_DIR}/cmake/CheckModuleExports.cmake)
set_tests_properties(lv2_object_exports_only_its_descriptor PROPERTIES LABELS lv2)
