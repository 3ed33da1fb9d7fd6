# cmake -DBUILD_DIR=<build tree> -DHOST_SOURCE=<tests/package> -DWORK=<scratch> -DGENERATOR=<g>
#       -DCXX=<compiler> -P RunPackageTest.cmake
# Installs the package from the build tree into a scratch prefix, builds the
# host project in HOST_SOURCE against it with find_package(Varsile), runs it.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${result}): ${command}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK}/prefix --component Varsile)
run(${CMAKE_COMMAND} -S ${HOST_SOURCE} -B ${WORK}/build -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX}
    -DCMAKE_PREFIX_PATH=${WORK}/prefix -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK}/build)
run(${WORK}/build/package_host)
