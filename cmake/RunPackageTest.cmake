# cmake -DBUILD_DIR=<build tree> -DHOST_SOURCE=<tests/package> -DWORK=<scratch> -DGENERATOR=<g>
#       -DCXX=<compiler> -DBINDIR=<bin> -DCOMPONENTDIR=<lib/varsile> -DLV2DIR=<lib/lv2>
#       [-DLV2LS=<lv2ls> -DLV2APPLY=<lv2apply>] [-DPYTHON=<python3> -DPYTHONDIR=<dir> -DPYTHON_MODULE=<name>]
#       -P RunPackageTest.cmake
# Installs everything into a scratch prefix and uses it as a user would, from
# there alone: no build tree on any path, no LD_LIBRARY_PATH. Then builds the
# host project in HOST_SOURCE against it with find_package(Varsile) and runs it.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${result}): ${command}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

unset(ENV{LD_LIBRARY_PATH})
unset(ENV{VARSILE_COMPONENT_PATH})
unset(ENV{PYTHONPATH})
set(prefix ${WORK}/prefix)
set(files ${WORK}/files)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${files})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# Every installed binary resolves its libraries, and none from the build tree.
file(GLOB_RECURSE binaries ${prefix}/*.so ${prefix}/*/*.so)
file(GLOB programs ${prefix}/${BINDIR}/*)
foreach(binary IN LISTS programs binaries)
  file(GET_RUNTIME_DEPENDENCIES LIBRARIES ${binary}
    RESOLVED_DEPENDENCIES_VAR resolved UNRESOLVED_DEPENDENCIES_VAR unresolved)
  if(unresolved)
    message(FATAL_ERROR "${binary} needs libraries it cannot find: ${unresolved}")
  endif()
  foreach(library IN LISTS resolved)
    cmake_path(IS_PREFIX BUILD_DIR ${library} NORMALIZE in_build)
    cmake_path(IS_PREFIX prefix ${library} NORMALIZE in_prefix)
    if(in_build AND NOT in_prefix)
      message(FATAL_ERROR "${binary} loads ${library} from the build tree")
    endif()
  endforeach()
endforeach()

set(varsile ${prefix}/${BINDIR}/varsile)
run(${varsile} --version)
run(${varsile} demo --out-dir ${files})
run(${varsile} process ${files}/varsile-demo-input.wav -o ${files}/processed.wav --key D --scale dorian)
run(${prefix}/${BINDIR}/varsile-validate --quiet --load ${prefix}/${COMPONENTDIR})

if(LV2LS AND LV2APPLY)
  set(ENV{LV2_PATH} ${prefix}/${LV2DIR})
  run(${LV2LS})
  foreach(uri urn:varsile:gate:mono urn:varsile:gate:stereo)
    if(NOT output MATCHES "${uri}")
      message(FATAL_ERROR "lv2ls does not list ${uri} from the installed bundle: ${output}")
    endif()
  endforeach()
  run(${LV2APPLY} -i ${files}/varsile-demo-input.wav -o ${files}/lv2apply.wav -c key 2 urn:varsile:gate:mono)
  file(SIZE ${files}/varsile-demo-input.wav in_size)
  file(SIZE ${files}/lv2apply.wav out_size)
  if(NOT in_size EQUAL out_size)
    message(FATAL_ERROR "lv2apply wrote ${out_size} bytes for ${in_size} of input")
  endif()
endif()

if(PYTHON_MODULE)
  set(ENV{PYTHONPATH} ${prefix}/${PYTHONDIR})
  # It gates through the installed component, not the build tree's.
  run(${PYTHON} -c "import ${PYTHON_MODULE} as m, sys; m.process([0.5] * 600, 44100, scale='major'); sys.exit(0 if m.__file__.startswith('${prefix}') else 1)")
  unset(ENV{PYTHONPATH})
endif()

run(${CMAKE_COMMAND} -S ${HOST_SOURCE} -B ${WORK}/build -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK}/build)
run(${WORK}/build/package_host)
