# The Windows build's resources: the icon and the version in each program's
# properties. The icon (.ico) is drawn on the build machine by scripts/windows
# (make_icons built for the host) and named by ARRESTER_WINDOWS_ICON; without
# it the programs carry the version only. The installer and the portable zip
# are made by scripts/windows (packaging/windows/installer.nsi).
enable_language(RC)
set(ARRESTER_WINDOWS_ICON "" CACHE FILEPATH "The program icon (.ico) for the Windows build")

set(ARRESTER_RC_ICON "")
if(ARRESTER_WINDOWS_ICON)
  set(ARRESTER_RC_ICON "1 ICON \"${ARRESTER_WINDOWS_ICON}\"")
endif()
foreach(program arrester-monitor arrester-cli)
  if(program STREQUAL "arrester-monitor")
    set(ARRESTER_RC_DESCRIPTION "避雷器监测")
  else()
    set(ARRESTER_RC_DESCRIPTION "避雷器监测 命令行工具")
  endif()
  set(ARRESTER_RC_PROGRAM ${program})
  set(rc ${CMAKE_BINARY_DIR}/packaging/${program}.rc)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/program.rc.in ${rc} @ONLY)
  target_sources(${program} PRIVATE ${rc})
endforeach()
