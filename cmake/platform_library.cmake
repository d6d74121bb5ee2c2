# blob_platform_library(NAME SOURCES src... DEPENDS target...): a platform stand-in built as
# libblob-NAME.so (target blob::NAME) from platform/NAME: its headers in include/NAME are included
# as <NAME/x.h> and install under include/blob/NAME; it exports only what they declare.
function(blob_platform_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  set(target blob-${name})
  add_library(${target} SHARED ${ARG_SOURCES})
  add_library(blob::${name} ALIAS ${target})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/blob>)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_link_libraries(${target} PUBLIC ${ARG_DEPENDS} PRIVATE blob_build_flags)
  set_target_properties(${target} PROPERTIES
    INSTALL_RPATH "$ORIGIN" VISIBILITY_INLINES_HIDDEN ON LINK_DEPENDS ${BLOB_LOCAL_SYMBOLS_MAP})
  target_link_options(${target} PRIVATE -Wl,--version-script=${BLOB_LOCAL_SYMBOLS_MAP})
  install(TARGETS ${target} EXPORT blobTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(DIRECTORY include/${name} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/blob)
endfunction()
