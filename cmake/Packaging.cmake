# The release package: what an administrator copies to a Windows machine.
#   cmake --install build --prefix <dir>     the files, unpacked
#   cpack --config build/CPackConfig.cmake   zel-portmon-<version>-win64.zip
# The DLL and the two programs install themselves (their own install rules);
# the Wine host is test infrastructure and stays out (EXCLUDE_FROM_ALL).
install(FILES ${CMAKE_SOURCE_DIR}/docs/install-windows.md ${CMAKE_SOURCE_DIR}/docs/operations.md
        DESTINATION docs)
install(FILES ${CMAKE_SOURCE_DIR}/tools/demo/sample.ps DESTINATION docs)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zel-portmon)
set(CPACK_PACKAGE_VENDOR "Brambleworth Inc.")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Zel PortMon: print port monitor for Windows x64")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME zel-portmon-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
# Only what a default install holds: the excluded Wine host has a component of
# its own.
set(CPACK_COMPONENTS_ALL Unspecified)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
include(CPack)
