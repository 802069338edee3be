# `cmake --install` puts the headers, the library with its plug-ins beside it, a CMake
# package (find_package(dalo) gives the target dalo::dalo) and a pkg-config file in place.
include(CMakePackageConfigHelpers)

install(TARGETS dalo EXPORT daloTargets LIBRARY DESTINATION lib)
foreach(plugin brisksolver_plugin sweep_plugin kelp_plugin)
  if(TARGET ${plugin})
    install(TARGETS ${plugin} LIBRARY DESTINATION lib)
  endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/include/dalo.h ${CMAKE_SOURCE_DIR}/include/dalo.hpp
              ${CMAKE_SOURCE_DIR}/include/dalo_plugin.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(DALO_CMAKE_DIR lib/cmake/dalo)
install(EXPORT daloTargets NAMESPACE dalo:: DESTINATION ${DALO_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/daloConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/daloConfig.cmake INSTALL_DESTINATION ${DALO_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/daloConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/daloConfig.cmake ${CMAKE_BINARY_DIR}/daloConfigVersion.cmake
        DESTINATION ${DALO_CMAKE_DIR})

configure_file(${CMAKE_SOURCE_DIR}/cmake/dalo.pc.in ${CMAKE_BINARY_DIR}/dalo.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/dalo.pc DESTINATION lib/pkgconfig)
