# The files a desktop installation needs beside the programs: the icon in the
# hicolor sizes (drawn by make_icons at build time), the AppStream metainfo,
# the manual pages and the Debian changelog (filled in with the project
# version and compressed here). The install rules are in the top-level
# CMakeLists.txt; the package settings in cpack.cmake.

set(ARRESTER_APP_ID "org.example.ArresterMonitor" CACHE STRING
  "Reverse-DNS id of the desktop entry and the AppStream metainfo")
set(ARRESTER_HOMEPAGE "https://example.org/arrester-monitor" CACHE STRING
  "Home page named by the package and the metainfo (screenshots below it)")
set(ARRESTER_MAINTAINER "Arrester Monitor Maintainers <maintainers@example.org>" CACHE STRING
  "Maintainer of the Debian package, as 'Name <address>'")
set(ARRESTER_DEVELOPER "The arrester-monitor developers")
# The date of this release, named by the metainfo, the changelog and the manual
# pages; change it with the project version.
set(ARRESTER_RELEASE_DATE "2026-12-07")
set(ARRESTER_ICON_NAME arrester-monitor)
set(ARRESTER_ICON_SIZES 16 22 24 32 48 64 128 256)

set(_pkg_src ${CMAKE_CURRENT_LIST_DIR})
set(ARRESTER_PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${ARRESTER_PACKAGING_DIR}/man)

execute_process(COMMAND date -u -d "${ARRESTER_RELEASE_DATE} 12:00" -R
  OUTPUT_VARIABLE ARRESTER_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

# arrester_gzip(input output): compressed without name or time stamp, so the
# same input always gives the same bytes.
function(arrester_gzip input output)
  execute_process(COMMAND gzip -9nc ${input} OUTPUT_FILE ${output} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

set(ARRESTER_METAINFO ${ARRESTER_PACKAGING_DIR}/${ARRESTER_APP_ID}.metainfo.xml)
configure_file(${_pkg_src}/arrester-monitor.metainfo.xml.in ${ARRESTER_METAINFO} @ONLY)

configure_file(${_pkg_src}/changelog.in ${ARRESTER_PACKAGING_DIR}/changelog @ONLY)
arrester_gzip(${ARRESTER_PACKAGING_DIR}/changelog ${ARRESTER_PACKAGING_DIR}/changelog.gz)

set(ARRESTER_MAN_PAGES)
foreach(program arrester-monitor arrester-cli meter-sim)
  set(page ${ARRESTER_PACKAGING_DIR}/man/${program}.1)
  configure_file(${_pkg_src}/man/${program}.1.in ${page} @ONLY)
  arrester_gzip(${page} ${page}.gz)
  list(APPEND ARRESTER_MAN_PAGES ${page}.gz)
endforeach()

add_executable(arrester-make-icons ${_pkg_src}/make_icons.cpp)
target_link_libraries(arrester-make-icons PRIVATE Qt6::Gui)
set_target_properties(arrester-make-icons PROPERTIES AUTOMOC OFF)
arrester_warnings(arrester-make-icons)

set(ARRESTER_ICON_DIR ${ARRESTER_PACKAGING_DIR}/icons)
set(ARRESTER_ICON_PNGS)
foreach(size ${ARRESTER_ICON_SIZES})
  list(APPEND ARRESTER_ICON_PNGS ${ARRESTER_ICON_DIR}/${size}x${size}/apps/${ARRESTER_ICON_NAME}.png)
endforeach()
add_custom_command(OUTPUT ${ARRESTER_ICON_PNGS}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:arrester-make-icons> ${ARRESTER_ICON_DIR} ${ARRESTER_ICON_NAME} ${ARRESTER_ICON_SIZES}
  DEPENDS arrester-make-icons
  COMMENT "Drawing the program icon"
  VERBATIM)
add_custom_target(arrester-icons ALL DEPENDS ${ARRESTER_ICON_PNGS})
