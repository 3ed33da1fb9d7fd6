# cmake -DBUILD_DIR=<build> -DPREFIX=<scratch prefix> -DLIBDIR=<lib> -DLV2LS=<lv2ls>
#       -DTEST_PROGRAM=<test_lv2> -P CheckInstalledBundle.cmake
# Installs the LV2 component into a scratch prefix and runs lilv's tools on
# the installed bundle alone: it must be complete without the build tree.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} --component Lv2
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "installing the LV2 component failed")
endif()
set(parent ${PREFIX}/${LIBDIR}/lv2)
foreach(file manifest.ttl varsile.ttl varsile.so libVarsile.so libVarsilePlatform.so Varsile.component)
  if(NOT EXISTS ${parent}/varsile.lv2/${file})
    message(FATAL_ERROR "the installed bundle has no ${file}")
  endif()
endforeach()

set(ENV{LV2_PATH} ${parent})
execute_process(COMMAND ${LV2LS} OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT listing MATCHES "urn:varsile:gate:stereo")
  message(FATAL_ERROR "lv2ls does not find the installed plug-ins: ${listing}")
endif()

# lv2apply loads the installed object, which must find its platform library
# and component module inside the bundle.
set(ENV{VARSILE_LV2_TEST_PATH} ${parent})
execute_process(COMMAND ${TEST_PROGRAM} --gtest_filter=Lv2Apply.*:-*CommandLine* RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the installed bundle does not render in lv2apply")
endif()
