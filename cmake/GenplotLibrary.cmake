# The library proper: four folders, one per subsystem, compiled once into an object library
# that feeds both the installed library and the static copy the unit tests link to reach
# internals.

set(GENPLOT_DIRS geometry plotinfo genplot platform)

set(genplot_sources)
set(genplot_public_headers)
foreach(dir IN LISTS GENPLOT_DIRS)
    file(GLOB dir_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
    file(GLOB dir_headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.h)
    list(FILTER dir_headers EXCLUDE REGEX "_internal\\.h$")
    list(APPEND genplot_sources ${dir_sources})
    list(APPEND genplot_public_headers ${dir_headers})
endforeach()
if(WIN32)
    # The message texts are a string resource there (platform/win32/string_table.rc); POSIX
    # compiles them in (platform/posix/string_table.cpp).
    enable_language(RC)
    file(GLOB backend_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/*.cpp)
    file(GLOB backend_resources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/*.rc)
    list(APPEND backend_sources ${backend_resources})
else()
    file(GLOB backend_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/platform/posix/*.cpp)
endif()
list(APPEND genplot_sources ${backend_sources})
list(APPEND genplot_public_headers ${CMAKE_CURRENT_SOURCE_DIR}/genplot.h)

add_library(genplot_objects OBJECT ${genplot_sources})
set_target_properties(genplot_objects PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
target_compile_definitions(genplot_objects PRIVATE GENPLOT_BUILDING)
target_include_directories(genplot_objects PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>)
genplot_set_warnings(genplot_objects)
genplot_set_exact_float(genplot_objects)

add_library(genplot $<TARGET_OBJECTS:genplot_objects>)
add_library(genplot::genplot ALIAS genplot)
target_sources(genplot PUBLIC FILE_SET HEADERS BASE_DIRS ${CMAKE_CURRENT_SOURCE_DIR}
               FILES ${genplot_public_headers})
target_include_directories(genplot PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/genplot>)
target_compile_features(genplot PUBLIC cxx_std_17)
set_target_properties(genplot PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
if(BUILD_SHARED_LIBS)
    target_compile_definitions(genplot INTERFACE GENPLOT_SHARED)
endif()
if(WIN32)
    # genplot.dll, as hosts load it by name; the import library stays libgenplot.dll.a.
    set_target_properties(genplot PROPERTIES PREFIX "")
endif()

# Static copy with every symbol reachable, for unit tests of internals and the fuzzers.
add_library(genplot_static STATIC $<TARGET_OBJECTS:genplot_objects>)
target_include_directories(genplot_static PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_features(genplot_static PUBLIC cxx_std_17)
if(WIN32)
    # A resource object in an archive is never pulled into a link (it defines no symbol), so
    # every program that links the static copy compiles the string table in itself.
    target_sources(genplot_static INTERFACE ${backend_resources})
endif()

# Install: public headers keep their folders below include/genplot, so "geometry/line_seg.h"
# and the umbrella "genplot.h" resolve the same way installed as in the tree.
include(CMakePackageConfigHelpers)
install(TARGETS genplot EXPORT genplotTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/genplot)
install(EXPORT genplotTargets NAMESPACE genplot:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/genplot)
configure_package_config_file(cmake/genplotConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/genplotConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/genplot)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/genplotConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/genplotConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/genplotConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/genplot)

# pkg-config: the prefix is found from where the file lies (${pcfiledir}), so a copy installed
# with `cmake --install --prefix`, DESTDIR or moved as a whole still names its own headers and
# library. Folders given as absolute paths stay as given.
set(genplot_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE ${genplot_pc_dir})
    set(GENPLOT_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
    file(RELATIVE_PATH genplot_pc_up /genplot_root/${genplot_pc_dir} /genplot_root)
    string(REGEX REPLACE "/$" "" genplot_pc_up ${genplot_pc_up})
    set(GENPLOT_PC_PREFIX "\${pcfiledir}/${genplot_pc_up}")
endif()
foreach(kind LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE ${CMAKE_INSTALL_${kind}})
        set(GENPLOT_PC_${kind} ${CMAKE_INSTALL_${kind}})
    else()
        set(GENPLOT_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
    endif()
endforeach()
# Consumers of the shared library import its interface; a static one needs no marker.
set(GENPLOT_PC_DEFINES "")
if(BUILD_SHARED_LIBS)
    set(GENPLOT_PC_DEFINES " -DGENPLOT_SHARED")
endif()
configure_file(cmake/genplot.pc.in ${CMAKE_CURRENT_BINARY_DIR}/genplot.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/genplot.pc DESTINATION ${genplot_pc_dir})
