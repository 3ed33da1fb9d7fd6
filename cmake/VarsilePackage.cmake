# Install rules, the exported package and the Debian package.
#
# Another project hosts the effect with
#   find_package(Varsile)
#   target_link_libraries(host PRIVATE Varsile::Platform)
# and loads ${VARSILE_COMPONENT_MANIFEST} (the module, Varsile::Component).
#
# Every installed binary finds the platform library through a run path
# relative to itself, so an install works from any prefix without
# LD_LIBRARY_PATH or ldconfig.
include(CMakePackageConfigHelpers)

set(VARSILE_INSTALL_COMPONENTDIR ${CMAKE_INSTALL_LIBDIR}/varsile)
set(VARSILE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Varsile)

set_target_properties(VarsilePlatform PROPERTIES EXPORT_NAME Platform)

install(TARGETS VarsilePlatform EXPORT VarsileTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Varsile)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/varsile/platform COMPONENT Varsile)

install(TARGETS VarsileComponent EXPORT VarsileTargets
  LIBRARY DESTINATION ${VARSILE_INSTALL_COMPONENTDIR} COMPONENT Varsile)
install(FILES ${VARSILE_COMPONENT_MANIFEST} ${VARSILE_LOOKAHEAD_MANIFEST} DESTINATION ${VARSILE_INSTALL_COMPONENTDIR} COMPONENT Varsile)

file(RELATIVE_PATH libdir_from_bindir ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(varsile varsile-validate PROPERTIES INSTALL_RPATH "$ORIGIN/${libdir_from_bindir}")
install(TARGETS varsile varsile-validate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Programs)

install(EXPORT VarsileTargets NAMESPACE Varsile:: DESTINATION ${VARSILE_INSTALL_CMAKEDIR} COMPONENT Varsile)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VarsileConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VarsileConfig.cmake
  INSTALL_DESTINATION ${VARSILE_INSTALL_CMAKEDIR}
  PATH_VARS VARSILE_INSTALL_COMPONENTDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VarsileConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VarsileConfig.cmake ${PROJECT_BINARY_DIR}/VarsileConfigVersion.cmake
  DESTINATION ${VARSILE_INSTALL_CMAKEDIR} COMPONENT Varsile)

# Where Debian keeps a package's licence.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/varsile
  RENAME copyright COMPONENT Programs)

# cpack -G DEB in a build configured with CMAKE_INSTALL_PREFIX=/usr (so that
# the libraries go to lib/<multiarch>): scripts/package does both. One package
# with every component; Depends comes from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME varsile)
set(CPACK_PACKAGE_VENDOR "Varsile")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pitch-aware gate: command-line program, LV2 plug-in and component")
set(CPACK_PACKAGE_DESCRIPTION [[
Varsile follows the pitch of each channel and lets the notes of a chosen key
and scale pass while it attenuates the others, with attack and release ramps,
a master volume and meters.

This package holds the varsile program, which gates audio files, the
varsile-validate checker, the LV2 bundle varsile.lv2 with mono and stereo
plug-ins, with and without lookahead, and a preset per scale, and the
component module with its platform library, headers and CMake package for
programs that host it.]])
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Varsile maintainers <maintainers@users.noreply.c-seed-4d53e2c3.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own libraries are inside the package: dpkg-shlibdeps must not look for
# another package that provides them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${CMAKE_INSTALL_FULL_LIBDIR} ${CMAKE_INSTALL_PREFIX}/${VARSILE_INSTALL_LV2DIR})
# The Python module links nothing of Python's; it is built for one version.
if(TARGET varsile_python)
  math(EXPR next_minor "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), \
python3 (<< ${Python3_VERSION_MAJOR}.${next_minor}), python3-numpy")
  string(APPEND CPACK_PACKAGE_DESCRIPTION
    "\n\nThe Python module varsile gates and analyses NumPy arrays with the same\ncomponent.")
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
