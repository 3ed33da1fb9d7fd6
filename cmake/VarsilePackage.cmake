# Install rules and the exported package: another project hosts the effect with
#   find_package(Varsile)
#   target_link_libraries(host PRIVATE Varsile::Platform)
# and loads ${VARSILE_COMPONENT_MANIFEST} (the module, Varsile::Component).
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
install(FILES ${VARSILE_COMPONENT_MANIFEST} DESTINATION ${VARSILE_INSTALL_COMPONENTDIR} COMPONENT Varsile)

install(EXPORT VarsileTargets NAMESPACE Varsile:: DESTINATION ${VARSILE_INSTALL_CMAKEDIR} COMPONENT Varsile)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VarsileConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VarsileConfig.cmake
  INSTALL_DESTINATION ${VARSILE_INSTALL_CMAKEDIR}
  PATH_VARS VARSILE_INSTALL_COMPONENTDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VarsileConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VarsileConfig.cmake ${PROJECT_BINARY_DIR}/VarsileConfigVersion.cmake
  DESTINATION ${VARSILE_INSTALL_CMAKEDIR} COMPONENT Varsile)
