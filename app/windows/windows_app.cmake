# The Windows executable's resources and its deployment.
#
# The icon is made from the same pictures as the desktop's icon, with
# icotool (icoutils); the 256-pixel one stays PNG inside, as Windows wants it.
# Where there is no icotool (a build on Windows itself) the program goes
# without its icon rather than without a build.
find_program(TAVO_ICOTOOL icotool)
set(_icons ${CMAKE_CURRENT_SOURCE_DIR}/icons)
set(_ico ${CMAKE_CURRENT_BINARY_DIR}/tavo.ico)
if(TAVO_ICOTOOL)
  set(TAVO_RC_ICON "IDI_TAVO ICON \"tavo.ico\"")
  add_custom_command(
    OUTPUT ${_ico}
    COMMAND ${TAVO_ICOTOOL} -c -o ${_ico} ${_icons}/tavo-16.png ${_icons}/tavo-24.png
            ${_icons}/tavo-32.png ${_icons}/tavo-48.png ${_icons}/tavo-64.png
            ${_icons}/tavo-128.png --raw=${_icons}/tavo-256.png
    DEPENDS ${_icons}/tavo-16.png ${_icons}/tavo-24.png ${_icons}/tavo-32.png
            ${_icons}/tavo-48.png ${_icons}/tavo-64.png ${_icons}/tavo-128.png
            ${_icons}/tavo-256.png
    COMMENT "Making tavo.ico")
else()
  message(STATUS "icotool not found: tavo.exe is built without its icon")
endif()

# Version information from the project: what Explorer's Details tab and the
# installer's uninstall entry show.
set(TAVO_RC_VERSION "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/windows/tavo.rc.in ${CMAKE_CURRENT_BINARY_DIR}/tavo.rc
               @ONLY)
if(TAVO_ICOTOOL)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/tavo.rc PROPERTIES OBJECT_DEPENDS ${_ico})
endif()
target_sources(tavo PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/tavo.rc)

# The rest lays out a MinGW-w64 build; with MSVC, windeployqt does it.
if(NOT MINGW)
  return()
endif()

# The deployed folder: tavo.exe with the Qt DLLs, the platform plugin and the
# style in the folders Qt looks for them beside the executable, and the
# MinGW-w64 runtime DLLs the compiler's programs need.
get_target_property(_qt_core Qt6::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(_qt_bin ${_qt_core} DIRECTORY)
get_filename_component(_qt_prefix ${_qt_bin} DIRECTORY)
install(FILES ${_qt_bin}/Qt6Core.dll ${_qt_bin}/Qt6Gui.dll ${_qt_bin}/Qt6Widgets.dll
        DESTINATION .)
install(FILES ${_qt_prefix}/plugins/platforms/qwindows.dll DESTINATION platforms)
install(FILES ${_qt_prefix}/plugins/styles/qwindowsvistastyle.dll DESTINATION styles)

# The compiler says where its own runtime DLLs are.
set(_runtime)
foreach(_name libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_name}
                  OUTPUT_VARIABLE _dll OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${_dll}" OR NOT EXISTS "${_dll}")
    message(FATAL_ERROR "The MinGW-w64 runtime DLL ${_name} was not found")
  endif()
  get_filename_component(_dll ${_dll} REALPATH)
  list(APPEND _runtime ${_dll})
endforeach()
install(FILES ${_runtime} DESTINATION .)
# Programs started from the folder take their DLLs from it, not from PATH.
install(TARGETS tavo RUNTIME DESTINATION .)
if(TARGET tavo-report)
  install(TARGETS tavo-report RUNTIME DESTINATION .)
endif()
