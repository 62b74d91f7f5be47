# The C++ package: `cmake --install` puts the headers, the static library
# lumo_core and a package configuration under the prefix, so that a project
# does find_package(lumo_dynamic CONFIG REQUIRED) and links lumo_dynamic::core.
# Headers keep the source layout under include/lumo, and name one another by
# their relative paths, so a consumer writes
# #include <lumo/algorithms/rnea.hpp>, <lumo/urdf_parser/builder.hpp>, ...
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LUMO_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/lumo_dynamic)
set_target_properties(lumo_core PROPERTIES EXPORT_NAME core)
target_include_directories(lumo_core PUBLIC
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS lumo_core EXPORT lumo_dynamic_targets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY
    ${CMAKE_CURRENT_SOURCE_DIR}/src/algorithms
    ${CMAKE_CURRENT_SOURCE_DIR}/src/model
    ${CMAKE_CURRENT_SOURCE_DIR}/src/data
    ${CMAKE_CURRENT_SOURCE_DIR}/src/urdf_parser
    ${CMAKE_CURRENT_SOURCE_DIR}/src/mjcf_parser
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/lumo
  FILES_MATCHING PATTERN "*.hpp")
install(EXPORT lumo_dynamic_targets
  NAMESPACE lumo_dynamic::
  FILE lumo_dynamic-targets.cmake
  DESTINATION ${LUMO_CONFIG_DIR})

configure_package_config_file(
  ${CMAKE_CURRENT_SOURCE_DIR}/cmake/lumo_dynamic-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/lumo_dynamic-config.cmake
  INSTALL_DESTINATION ${LUMO_CONFIG_DIR})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/lumo_dynamic-config-version.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
    ${CMAKE_CURRENT_BINARY_DIR}/lumo_dynamic-config.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/lumo_dynamic-config-version.cmake
  DESTINATION ${LUMO_CONFIG_DIR})
