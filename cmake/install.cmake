# What `cmake --install` puts into the prefix: the shared library, the
# public headers in include/vxsdm, the pkg-config file vxsdm.pc and the CMake
# package (find_package(vxsdm) gives the target vxsdm::vxsdm).
include(CMakePackageConfigHelpers)

install(TARGETS vxsdm EXPORT vxsdmTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
file(GLOB VXSDM_PUBLIC_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/*.h)
install(FILES ${VXSDM_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vxsdm)

set(VXSDM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vxsdm)
install(EXPORT vxsdmTargets NAMESPACE vxsdm:: DESTINATION ${VXSDM_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vxsdmConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/vxsdmConfig.cmake ${PROJECT_BINARY_DIR}/vxsdmConfigVersion.cmake
  DESTINATION ${VXSDM_CMAKE_DIR})

# vxsdm.pc names the prefix, which `cmake --install --prefix` may choose
# after configuring: the prefix is filled in when installing.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(VXSDM_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(VXSDM_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(VXSDM_PC_PREFIX "@VXSDM_PC_PREFIX@")
configure_file(${PROJECT_SOURCE_DIR}/cmake/vxsdm.pc.in ${PROJECT_BINARY_DIR}/vxsdm.pc.in @ONLY)
install(CODE "set(VXSDM_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/vxsdm.pc.in\" \"${PROJECT_BINARY_DIR}/vxsdm.pc\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/vxsdm.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
