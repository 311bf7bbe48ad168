# `cmake --install` layout: headers under include/, static libraries under
# lib/, media-tool under bin/, the CMake package (media_common::media_common,
# ::common, ::qvideo, ::proto) under lib/cmake/media_common and a pkg-config
# module media_common.pc under lib/pkgconfig.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The libraries name their include folders as absolute build-time paths;
# installed, the headers live under include/.
foreach(target common qvideo media_proto media_common)
  foreach(property INTERFACE_INCLUDE_DIRECTORIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES)
    get_target_property(dirs ${target} ${property})
    if(NOT dirs)
      continue()
    endif()
    set(wrapped "")
    foreach(dir ${dirs})
      if(dir MATCHES "^\\$<")
        list(APPEND wrapped "${dir}")
      else()
        list(APPEND wrapped "$<BUILD_INTERFACE:${dir}>")
      endif()
    endforeach()
    list(APPEND wrapped "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
    set_target_properties(${target} PROPERTIES ${property} "${wrapped}")
  endforeach()
endforeach()

set_target_properties(media_proto PROPERTIES EXPORT_NAME proto)
install(TARGETS common qvideo media_proto media_common project_warnings
  EXPORT media_commonTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS media-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/common ${PROJECT_SOURCE_DIR}/qvideo
                  ${PROJECT_SOURCE_DIR}/media_common
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
install(DIRECTORY ${PROJECT_BINARY_DIR}/generated/proto
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.pb.h")

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/media_common)
install(EXPORT media_commonTargets NAMESPACE media_common:: DESTINATION ${package_dir})
configure_package_config_file(${CMAKE_CURRENT_SOURCE_DIR}/media_commonConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/media_commonConfig.cmake
  INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/media_commonConfigVersion.cmake
  VERSION ${MEDIA_COMMON_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/media_commonConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/media_commonConfigVersion.cmake
  DESTINATION ${package_dir})

# The module finds its prefix relative to its own folder, so an installed
# tree can be moved (or installed with --prefix) and still be found.
file(RELATIVE_PATH pc_prefix_from_pcfiledir "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/media_common.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/media_common.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/media_common.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
