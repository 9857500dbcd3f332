# `cmake --install` of the C++ library: the public headers, libtagatlas.a, a CMake package
# (find_package(tagatlas CONFIG) gives the target tagatlas::core) and tagatlas.pc.
#
# Only the headers a program reaches from <tagatlas/tagatlas.h> are installed: opening, looking
# up, the views and the errors, with the record layout the views read. Validation, the creator's
# canonical form, UTF-8 and the system-call seam stay inside the library. The installed headers
# include each other by relative path, so <prefix>/include is the only include directory a
# program needs.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TAGATLAS_PUBLIC_HEADERS
  lookup/elements.h
  lookup/error.h
  lookup/fault.h
  lookup/handle.h
  lookup/search.h
  lookup/view.h
  schema/bytes.h
  schema/constants.h
  schema/records.h
  schema/result.h
  schema/vr.h
)
set(TAGATLAS_INCLUDE_DIR "${CMAKE_INSTALL_INCLUDEDIR}/tagatlas")
set(TAGATLAS_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/tagatlas")

set_target_properties(tagatlas_core PROPERTIES OUTPUT_NAME tagatlas EXPORT_NAME core)
target_include_directories(tagatlas_core PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS tagatlas_core EXPORT tagatlasTargets
        ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT tagatlas_development)
install(FILES "${PROJECT_SOURCE_DIR}/src/tagatlas.h"
        DESTINATION "${TAGATLAS_INCLUDE_DIR}" COMPONENT tagatlas_development)
foreach(header IN LISTS TAGATLAS_PUBLIC_HEADERS)
  get_filename_component(subdir "${header}" DIRECTORY)
  install(FILES "${PROJECT_SOURCE_DIR}/src/${header}"
          DESTINATION "${TAGATLAS_INCLUDE_DIR}/${subdir}" COMPONENT tagatlas_development)
endforeach()

install(EXPORT tagatlasTargets NAMESPACE tagatlas:: DESTINATION "${TAGATLAS_CMAKE_DIR}"
        COMPONENT tagatlas_development)
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/tagatlasConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/tagatlasConfig.cmake" INSTALL_DESTINATION "${TAGATLAS_CMAKE_DIR}")
# 0.x releases may change the interface between minor versions.
write_basic_package_version_file("${PROJECT_BINARY_DIR}/tagatlasConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES "${PROJECT_BINARY_DIR}/tagatlasConfig.cmake"
              "${PROJECT_BINARY_DIR}/tagatlasConfigVersion.cmake"
        DESTINATION "${TAGATLAS_CMAKE_DIR}" COMPONENT tagatlas_development)

# The .pc file names its prefix relative to its own folder, so the tree may be installed with
# `cmake --install --prefix` anywhere, or moved.
set(TAGATLAS_PC_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(TAGATLAS_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH up "/prefix/${TAGATLAS_PC_DIR}" "/prefix")
  set(TAGATLAS_PC_PREFIX "\${pcfiledir}/${up}")
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/tagatlas.pc.in" "${PROJECT_BINARY_DIR}/tagatlas.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/tagatlas.pc" DESTINATION "${TAGATLAS_PC_DIR}"
        COMPONENT tagatlas_development)
